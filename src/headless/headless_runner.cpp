#include "headless/headless_runner.h"

#include <QFile>
#include <vector>

#include "core/profile/config_names.h"
#include "core/profile/profile_file.h"
#include "core/profile/scramble.h"
#include "core/profile/settings_switch.h"
#include "core/profile/version_marker.h"
#include "service/mapping_rules.h"

namespace qv {

namespace {
const char* const kStartingEntry = "Quorvane - Internet Port Mapping is starting.";
const char* const kClosingEntry = "Quorvane - Internet Port Mapping is closing.";
} // namespace

THeadlessRunner::THeadlessRunner(std::string configPath, std::string logPath, std::FILE* out, std::FILE* err)
    : configPath_(std::move(configPath)), out_(out), err_(err), service_(std::move(logPath)) {
    connect(&service_, &TMappingService::Connected, this,
            [this](int slot) { Event(TMappingService::ConnectEntry(slot), false); });
    connect(&service_, &TMappingService::Disconnected, this,
            [this](int slot) { Event(TMappingService::DisconnectEntry(slot), false); });
    connect(&service_, &TMappingService::Refused, this, [this](int slot) {
        const RelayLinkFigures& refused = service_.EndedLinks().front().figures;
        Event(QStringLiteral("Refused on Mapping #%1: %2 (%3)")
                  .arg(slot)
                  .arg(QString::fromStdString(EndpointText(refused.client)),
                       QString::fromLatin1(ReasonText(refused.reason))),
              false);
    });
    connect(&service_, &TMappingService::Unlisted, this, [this](int slot, quint64 links, quint64 refused) {
        if (links > 0)
            Event(QStringLiteral("%1: and %2 more opened and closed")
                      .arg(TMappingService::ConnectEntry(slot))
                      .arg(links),
                  false);
        if (refused > 0)
            Event(QStringLiteral("Refused on Mapping #%1: and %2 more refused").arg(slot).arg(refused),
                  false);
    });
}

void THeadlessRunner::Event(const QString& entry, bool toLogFile) {
    const QByteArray line = entry.toLatin1();
    std::fprintf(out_, "%s\n", line.constData());
    // Standard output is a pipe under a service manager: each event reaches the journal as it happens.
    std::fflush(out_);
    if (!toLogFile)
        return;
    try {
        service_.WriteLogLine(EventText(entry));
    } catch (const std::exception& error) {
        Complain(QString::fromLatin1(error.what()));
    }
}

void THeadlessRunner::Complain(const QString& text) {
    std::fprintf(err_, "%s\n", text.toLocal8Bit().constData());
    std::fflush(err_);
}

bool THeadlessRunner::ReadFile(Mappings& mappings) {
    const QString name = QFile::decodeName(configPath_.c_str());
    if (ProfileFileTooLarge(configPath_)) {
        Complain(
            QStringLiteral("Cannot read %1: it is larger than %2 bytes.").arg(name).arg(kMaxProfileFileSize));
        return false;
    }
    if (!QFile::exists(name)) {
        Complain(QStringLiteral("Cannot read %1: no such file. Set the mappings up in the window, or "
                                "name a configuration with --config.")
                     .arg(name));
        return false;
    }
    if (!IsCurrentVersion(configPath_)) {
        Complain(QStringLiteral("Cannot read %1: it is not a configuration of this version. Load it in "
                                "the window and save it again.")
                     .arg(name));
        return false;
    }
    service_.SetLogSaving(IsSwitchOn(configPath_, "CLLogsSave", "Save", kCLLogsSaveShiftKey));
    mappings = ReadStoredMappings(configPath_);
    return true;
}

void THeadlessRunner::ApplyRules(std::array<bool, TMappingService::kSlots>& usable,
                                 std::array<bool, TMappingService::kSlots>& moved) {
    const AllMappingRules all = ReadMappingRules(configPath_);
    for (int slot = 1; slot <= TMappingService::kSlots; ++slot) {
        const MappingRules& stored = all[slot - 1];
        RelayRules rules;
        const QString error = CheckMappingRules(stored, rules);
        usable[slot - 1] = error.isEmpty();
        if (!error.isEmpty()) {
            Complain(QStringLiteral("Mapping #%1, rules: %2").arg(slot).arg(error));
            continue;
        }
        ApplyMappingRules(service_, slot, rules);
        moved[slot - 1] = service_.ListenChangeWaits(slot);
    }
}

bool THeadlessRunner::Wanted(int slot, const StoredMapping& stored, MappingTarget& target) {
    if (!stored.switchedOn)
        return false;
    try {
        const QString refused = CheckMapping(slot, stored, target);
        if (refused.isEmpty())
            return true;
        Complain(refused);
    } catch (const std::exception& error) {
        Complain(QStringLiteral("Mapping #%1: %2").arg(slot).arg(QString::fromLatin1(error.what())));
    }
    return false;
}

bool THeadlessRunner::SwitchOn(int slot, const StoredMapping& stored, const MappingTarget& target) {
    try {
        service_.Start(slot, target);
    } catch (const std::exception& error) {
        Complain(QStringLiteral("Mapping #%1 cannot listen on port %2: %3")
                     .arg(slot)
                     .arg(target.listenPort)
                     .arg(QString::fromLatin1(error.what())));
        if (!service_.LastFailure(slot).detail.isEmpty())
            Complain(service_.LastFailure(slot).detail);
        return false;
    }
    running_[slot - 1] = stored;
    Event(TMappingService::EnabledEntry(slot, stored.listenPort));
    return true;
}

void THeadlessRunner::SwitchOff(std::span<const int> numbers) {
    if (numbers.empty())
        return;
    service_.Stop(numbers);
    for (int slot : numbers)
        Event(TMappingService::DisabledEntry(slot, running_[slot - 1].listenPort));
}

bool THeadlessRunner::Start() {
    Mappings mappings;
    if (!ReadFile(mappings))
        return false;
    Event(QString::fromLatin1(kStartingEntry));
    std::array<bool, TMappingService::kSlots> usable{};
    std::array<bool, TMappingService::kSlots> moved{};
    ApplyRules(usable, moved);
    int wanted = 0;
    int running = 0;
    for (int slot = 1; slot <= TMappingService::kSlots; ++slot) {
        MappingTarget target;
        wanted += mappings[slot - 1].switchedOn ? 1 : 0;
        if (usable[slot - 1] && Wanted(slot, mappings[slot - 1], target) &&
            SwitchOn(slot, mappings[slot - 1], target))
            ++running;
    }
    if (wanted == 0)
        Complain(QStringLiteral("No mapping of %1 is switched on: switch mappings on in the window and "
                                "exit it, and they run here.")
                     .arg(QFile::decodeName(configPath_.c_str())));
    return running > 0;
}

void THeadlessRunner::Reload() {
    Mappings mappings;
    if (!ReadFile(mappings))
        return;
    std::array<MappingTarget, TMappingService::kSlots> targets;
    std::array<bool, TMappingService::kSlots> wanted{};
    std::array<bool, TMappingService::kSlots> usable{};
    std::array<bool, TMappingService::kSlots> moved{};
    // Rules take effect at once, also for the mappings that run on unchanged.
    ApplyRules(usable, moved);
    std::vector<int> stopping;
    for (int slot = 1; slot <= TMappingService::kSlots; ++slot) {
        wanted[slot - 1] = usable[slot - 1] && Wanted(slot, mappings[slot - 1], targets[slot - 1]);
        if (service_.Running(slot) &&
            (!wanted[slot - 1] || moved[slot - 1] || !(targets[slot - 1] == service_.Target(slot))))
            stopping.push_back(slot);
    }
    SwitchOff(stopping);
    for (int slot = 1; slot <= TMappingService::kSlots; ++slot)
        if (wanted[slot - 1] && !service_.Running(slot))
            SwitchOn(slot, mappings[slot - 1], targets[slot - 1]);
}

void THeadlessRunner::End() {
    service_.StopAll();
    Event(QString::fromLatin1(kClosingEntry));
}

} // namespace qv

#include "headless/headless_runner.h"

#include <QFile>
#include <algorithm>
#include <vector>

#include "core/profile/config_names.h"
#include "core/profile/profile_file.h"
#include "core/profile/profile_outline.h"
#include "core/profile/scramble.h"
#include "core/profile/settings_switch.h"
#include "core/profile/version_marker.h"
#include "core/relay/relay_listener.h"
#include "service/listen_port.h"
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

bool THeadlessRunner::Readable() {
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
    if (const std::string problem = ProfileFileProblem(configPath_); !problem.empty()) {
        Complain(QStringLiteral("Cannot read %1: %2.").arg(name, QString::fromLocal8Bit(problem.c_str())));
        return false;
    }
    if (!IsCurrentVersion(configPath_)) {
        Complain(QStringLiteral("Cannot read %1: it is not a configuration of this version. Load it in "
                                "the window and save it again.")
                     .arg(name));
        return false;
    }
    return true;
}

bool THeadlessRunner::ReadFile(Mappings& mappings) {
    if (!Readable())
        return false;
    mappings = ReadStoredMappings(configPath_);
    return true;
}

void THeadlessRunner::Check(Plan& plan) {
    const AllMappingRules all = ReadMappingRules(configPath_);
    for (int slot = 1; slot <= TMappingService::kSlots; ++slot) {
        const QString error = CheckMappingRules(all[slot - 1], plan.rules[slot - 1]);
        plan.usable[slot - 1] = error.isEmpty();
        if (!error.isEmpty())
            Complain(QStringLiteral("Mapping #%1, rules: %2").arg(slot).arg(error));
        plan.wanted[slot - 1] =
            plan.usable[slot - 1] && Wanted(slot, plan.mappings[slot - 1], plan.targets[slot - 1]);
    }
}

void THeadlessRunner::ApplyRules(const Plan& plan, Flags& moved) {
    for (int slot = 1; slot <= TMappingService::kSlots; ++slot) {
        if (!plan.usable[slot - 1])
            continue;
        ApplyMappingRules(service_, slot, plan.rules[slot - 1]);
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
        // Where the file says, whatever port the mapping listened on before: as a new listener would.
        service_.Listener(slot).ForgetPort();
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
    Event(TMappingService::EnabledEntry(slot, ListenPortText(service_, slot, stored.listenPort)));
    return true;
}

void THeadlessRunner::SwitchOff(std::span<const int> numbers) {
    if (numbers.empty())
        return;
    service_.Stop(numbers);
    for (int slot : numbers)
        Event(TMappingService::DisabledEntry(slot,
                                             ListenPortText(service_, slot, running_[slot - 1].listenPort)));
}

bool THeadlessRunner::Start() {
    Plan plan;
    if (!ReadFile(plan.mappings))
        return false;
    taken_ = ReadProfileOutline(configPath_);
    service_.SetLogSaving(IsSwitchOn(configPath_, "CLLogsSave", "Save", kCLLogsSaveShiftKey));
    Event(QString::fromLatin1(kStartingEntry));
    Check(plan);
    Flags moved{};
    ApplyRules(plan, moved);
    int wanted = 0;
    int running = 0;
    for (int slot = 1; slot <= TMappingService::kSlots; ++slot) {
        wanted += plan.mappings[slot - 1].switchedOn ? 1 : 0;
        if (plan.wanted[slot - 1] && SwitchOn(slot, plan.mappings[slot - 1], plan.targets[slot - 1]))
            ++running;
    }
    if (wanted == 0)
        Complain(QStringLiteral("No mapping of %1 is switched on: switch mappings on in the window and "
                                "exit it, and they run here.")
                     .arg(QFile::decodeName(configPath_.c_str())));
    return running > 0;
}

int THeadlessRunner::RunningCount() const {
    int running = 0;
    for (int slot = 1; slot <= TMappingService::kSlots; ++slot)
        running += service_.Running(slot) ? 1 : 0;
    return running;
}

void THeadlessRunner::Keep(const QString& why) {
    if (!why.isEmpty())
        Complain(why);
    const int running = RunningCount();
    Complain(running == 0
                 ? QStringLiteral("The reload changed nothing: no mapping runs.")
                 : QStringLiteral("The reload changed nothing: kept the %1 running mappings.").arg(running));
}

void THeadlessRunner::Reload() {
    const QString name = QFile::decodeName(configPath_.c_str());
    Plan plan;
    if (!ReadFile(plan.mappings))
        return Keep({});
    // A copy of the file still being written reads as mappings switched off or changed: the lines it
    // has not got yet are missing. What it lost of the file last taken tells it.
    const ProfileOutline outline = ReadProfileOutline(configPath_);
    if (!outline.lineEnded && taken_.lineEnded)
        return Keep(QStringLiteral("%1 is cut short: it ends in the middle of a line.").arg(name));
    if (!outline.sections.empty() && !outline.sections.back().second) {
        const std::pair<std::string, bool> keyed{outline.sections.back().first, true};
        if (std::find(taken_.sections.begin(), taken_.sections.end(), keyed) != taken_.sections.end())
            return Keep(QStringLiteral("%1 is cut short: it ends with the header of [%2], before its keys.")
                            .arg(name, QString::fromLatin1(keyed.first.c_str())));
    }
    Check(plan);
    if (std::find(plan.wanted.begin(), plan.wanted.end(), true) == plan.wanted.end())
        return Keep(QStringLiteral("%1 switches on no mapping that can run, as a copy cut short would "
                                   "read; to stop every mapping, end the program.")
                        .arg(name));
    taken_ = outline;
    service_.SetLogSaving(IsSwitchOn(configPath_, "CLLogsSave", "Save", kCLLogsSaveShiftKey));
    // Rules take effect at once, also for the mappings that run on unchanged.
    Flags moved{};
    ApplyRules(plan, moved);
    std::vector<int> stopping;
    for (int slot = 1; slot <= TMappingService::kSlots; ++slot)
        if (service_.Running(slot) &&
            (!plan.wanted[slot - 1] || moved[slot - 1] || !(plan.targets[slot - 1] == service_.Target(slot))))
            stopping.push_back(slot);
    SwitchOff(stopping);
    for (int slot = 1; slot <= TMappingService::kSlots; ++slot)
        if (plan.wanted[slot - 1] && !service_.Running(slot))
            SwitchOn(slot, plan.mappings[slot - 1], plan.targets[slot - 1]);
    if (RunningCount() == 0)
        Complain(QStringLiteral("No mapping of %1 runs now: none of its switched-on mappings could listen.")
                     .arg(name));
}

void THeadlessRunner::End() {
    service_.StopAll();
    Event(QString::fromLatin1(kClosingEntry));
}

} // namespace qv

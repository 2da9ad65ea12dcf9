#pragma once

#include <QObject>
#include <QString>
#include <array>
#include <cstdio>
#include <span>
#include <string>

#include "core/profile/profile_outline.h"
#include "service/mapping_rules.h"
#include "service/mapping_service.h"
#include "service/stored_mappings.h"

namespace qv {

// The mapping service driven by a configuration file alone: it starts the mappings that were switched
// on when the file was saved, prints one line per event on `out` and every problem on `err`, and
// follows the file when told to read it again.
class THeadlessRunner : public QObject {
public:
    THeadlessRunner(std::string configPath, std::string logPath, std::FILE* out, std::FILE* err);

    // Whether the file is a configuration of this version that can be read; says why not.
    bool Readable();
    // Reads the file and starts its switched-on mappings. False when the file cannot be read or no
    // mapping can run; a mapping that cannot listen is reported and the others run.
    bool Start();
    // Reads the file again and applies the difference: mappings switched off, on or changed stop and
    // start, each listening where the file says; the others keep their links. A file that cannot be
    // read, that looks cut short, or that would leave no mapping running changes nothing.
    void Reload();
    // Stops every mapping, then writes the closing line.
    void End();

    TMappingService& Service() { return service_; }

private:
    using Mappings = std::array<StoredMapping, TMappingService::kSlots>;
    using Flags = std::array<bool, TMappingService::kSlots>;
    // What the file asks for: each mapping's rules as the relay takes them (`usable` when they could be
    // read) and which mappings are to run, with what target.
    struct Plan {
        Mappings mappings;
        std::array<RelayRules, TMappingService::kSlots> rules;
        Flags usable{};
        std::array<MappingTarget, TMappingService::kSlots> targets;
        Flags wanted{};
    };
    bool ReadFile(Mappings& mappings);
    // Fills in the rules and the mappings to run; a mapping whose rules or fields are wrong is not to
    // run, and the reason is printed.
    void Check(Plan& plan);
    // Puts the usable rules in force. `moved`: the mappings whose listen choice or protocol changed,
    // which take it only as they start again.
    void ApplyRules(const Plan& plan, Flags& moved);
    // A reload that changes nothing says so, after `why` (empty: already said).
    void Keep(const QString& why);
    int RunningCount() const;
    // What a switched-on mapping is to run, or false with the reason printed.
    bool Wanted(int slot, const StoredMapping& stored, MappingTarget& target);
    bool SwitchOn(int slot, const StoredMapping& stored, const MappingTarget& target);
    void SwitchOff(std::span<const int> numbers);
    // A line of the log file and standard output; a log file that cannot take it is reported.
    void Event(const QString& entry, bool toLogFile = true);
    void Complain(const QString& text);

    std::string configPath_;
    std::FILE* out_;
    std::FILE* err_;
    TMappingService service_;
    // The texts each running mapping started with, for its switch-off line.
    Mappings running_{};
    // The shape of the file as last taken: a copy cut short shows by what it lost of it.
    ProfileOutline taken_;
};

} // namespace qv

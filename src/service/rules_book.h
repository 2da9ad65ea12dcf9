#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include "service/mapping_rules.h"

namespace qv {

class TMappingService;

// The rules in force for the six mappings, as typed: what the rules window shows and edits, what a
// save writes and a load or a remote configuration replaces.
class TRulesBook : public QObject {
    Q_OBJECT
public:
    explicit TRulesBook(TMappingService& service, QObject* parent = nullptr);

    const MappingRules& Rules(int slot) const { return rules_.at(slot - 1); }
    const AllMappingRules& All() const { return rules_; }

    // What putting one mapping's rules in force gave.
    struct Outcome {
        QString error;            // nothing changed: the first thing wrong with what was typed
        bool listenWaits = false; // the mapping listens as it did (where, what for) until its next start
    };
    Outcome Apply(int slot, const MappingRules& rules);
    // Every mapping's rules at once (a file, a remote configuration). Rules that cannot be read are
    // kept as they are for mending, and their mapping refuses every client meanwhile; one text per
    // such mapping says so.
    QStringList Replace(const AllMappingRules& all);

signals:
    void Changed();

private:
    // Checks and applies; the running listener tells whether a new listen choice waits.
    Outcome Put(int slot, const MappingRules& rules);

    TMappingService& service_;
    AllMappingRules rules_{};
};

} // namespace qv

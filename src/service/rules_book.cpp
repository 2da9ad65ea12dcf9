#include "service/rules_book.h"

#include "service/mapping_service.h"

namespace qv {

TRulesBook::TRulesBook(TMappingService& service, QObject* parent) : QObject(parent), service_(service) {
    setObjectName(QStringLiteral("RulesBook"));
}

TRulesBook::Outcome TRulesBook::Put(int slot, const MappingRules& rules) {
    Outcome outcome;
    RelayRules relay;
    outcome.error = CheckMappingRules(rules, relay);
    if (!outcome.error.isEmpty())
        return outcome;
    ApplyMappingRules(service_, slot, relay);
    outcome.listenWaits = service_.ListenChangeWaits(slot);
    rules_[slot - 1] = rules;
    return outcome;
}

TRulesBook::Outcome TRulesBook::Apply(int slot, const MappingRules& rules) {
    const Outcome outcome = Put(slot, rules);
    if (outcome.error.isEmpty())
        emit Changed();
    return outcome;
}

QStringList TRulesBook::Replace(const AllMappingRules& all) {
    QStringList faults;
    for (int slot = 1; slot <= TMappingService::kSlots; ++slot) {
        const QString error = Put(slot, all[slot - 1]).error;
        if (error.isEmpty())
            continue;
        ApplyMappingRules(service_, slot, RefusingEveryone());
        rules_[slot - 1] = all[slot - 1];
        faults << QStringLiteral("Mapping #%1, rules: %2.\r\nIt refuses every client until its rules are "
                                 "mended in the Mapping Rules window.")
                      .arg(slot)
                      .arg(error);
    }
    emit Changed();
    return faults;
}

} // namespace qv

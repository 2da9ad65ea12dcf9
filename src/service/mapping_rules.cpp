#include "service/mapping_rules.h"

#include <QStringList>

#include "core/profile/config_names.h"
#include "core/profile/profile_file.h"
#include "core/profile/scramble.h"
#include "service/stored_mappings.h"
#include "service/stored_text.h"

namespace qv {

namespace {
// A rule's key for mapping N ("Allow3"); the same texts name the fields in messages.
const char* const kAllow = "Allow";
const char* const kDeny = "Deny";
const char* const kMaxConnections = "MaxConnections";
const char* const kFallback1 = "Fallback1_";
const char* const kFallback2 = "Fallback2_";
const char* const kProxyProtocol = "ProxyProtocol";

QString Key(const char* base, int slot) {
    return QString::fromLatin1(base) + QString::number(slot);
}

QString Networks(const QString& text, const char* field, TRelayNetworkSet& set) {
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        if (line.isEmpty())
            continue;
        RelayNetwork network;
        std::string error;
        if (!ParseNetwork(line.toStdString(), network, error))
            return QStringLiteral("%1, line %2: %3")
                .arg(QString::fromLatin1(field))
                .arg(i + 1)
                .arg(QString::fromStdString(error));
        set.Add(network);
    }
    return {};
}

// "host:port" or "[v6]:port"; false when it is not one.
bool Destination(const QString& text, RelayDestination& destination) {
    const QString trimmed = text.trimmed();
    const qsizetype colon = trimmed.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    QString host = trimmed.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    bool ok = false;
    const int port = trimmed.mid(colon + 1).toInt(&ok);
    if (!ok || port < 1 || port > 65535 || host.isEmpty() || host.contains(QLatin1Char(' ')))
        return false;
    destination = {host.toLatin1().toStdString(), port};
    return true;
}
} // namespace

AllMappingRules ReadMappingRules(const std::string& path) {
    AllMappingRules all;
    for (int slot = 1; slot <= TMappingService::kSlots; ++slot) {
        MappingRules& r = all[slot - 1];
        const auto read = [&](const char* base) {
            return ReadStoredText(path, kRulesSection, Key(base, slot), kRulesShiftKey);
        };
        r.allow = read(kAllow);
        r.deny = read(kDeny);
        r.maxConnections = read(kMaxConnections);
        r.fallback1 = read(kFallback1);
        r.fallback2 = read(kFallback2);
        const int proxy = read(kProxyProtocol).toInt();
        r.proxyProtocol = proxy == 1 || proxy == 2 ? proxy : 0;
    }
    return all;
}

void WriteMappingRules(ProfileBatch& batch, const AllMappingRules& all) {
    for (int slot = 1; slot <= TMappingService::kSlots; ++slot) {
        const MappingRules& r = all[slot - 1];
        const QString proxy = r.proxyProtocol ? QString::number(r.proxyProtocol) : QString();
        for (const auto& [base, value] :
             {std::pair{kAllow, r.allow}, std::pair{kDeny, r.deny},
              std::pair{kMaxConnections, r.maxConnections}, std::pair{kFallback1, r.fallback1},
              std::pair{kFallback2, r.fallback2}, std::pair{kProxyProtocol, proxy}}) {
            const std::string key = Key(base, slot).toStdString();
            if (value.isEmpty())
                batch.Delete(kRulesSection, key);
            else
                batch.Write(kRulesSection, key, ScrambleText(Latin1Bytes(value), kRulesShiftKey));
        }
    }
}

QString CheckMappingRules(const MappingRules& rules, RelayRules& out) {
    out = {};
    auto access = std::make_shared<RelayAccessRules>();
    if (QString error = Networks(rules.allow, "Allow", access->allow); !error.isEmpty())
        return error;
    if (QString error = Networks(rules.deny, "Deny", access->deny); !error.isEmpty())
        return error;
    if (!rules.maxConnections.trimmed().isEmpty()) {
        bool ok = false;
        access->maxConnections = rules.maxConnections.trimmed().toInt(&ok);
        if (!ok || access->maxConnections < 1)
            return QStringLiteral("At most: '%1' is no number of connections from 1 up")
                .arg(rules.maxConnections);
    }
    for (const QString& text : {rules.fallback1, rules.fallback2}) {
        if (text.trimmed().isEmpty())
            continue;
        RelayDestination destination;
        if (!Destination(text, destination))
            return QStringLiteral("Fallback: '%1' is no host:port").arg(text);
        out.fallbacks.push_back(destination);
    }
    if (!access->allow.Empty() || !access->deny.Empty() || access->maxConnections > 0)
        out.access = std::move(access);
    out.proxyProtocol = rules.proxyProtocol;
    return {};
}

} // namespace qv

#include "service/mapping_rules.h"

#include <QStringList>
#include <arpa/inet.h>
#include <tuple>

#include "core/profile/config_names.h"
#include "core/profile/profile_file.h"
#include "core/profile/scramble.h"
#include "core/relay/relay_listener.h"
#include "service/stored_mappings.h"
#include "service/stored_text.h"

namespace qv {

namespace {
constexpr int kLastListenOn = static_cast<int>(RelayListenOn::Kind::OneAddress);
constexpr qulonglong kMaxBandwidthKiB = 1ULL << 30; // a tebibyte a second: more is no limit at all
constexpr int kMaxUdpIdleSeconds = 86400;

// A rule's key for mapping N ("Allow3"); the same texts name the fields in messages.
const char* const kListenOn = "ListenOn";
const char* const kListenAddress = "ListenAddress";
const char* const kAllow = "Allow";
const char* const kDeny = "Deny";
const char* const kMaxConnections = "MaxConnections";
const char* const kBandwidthUp = "BandwidthUp";
const char* const kBandwidthDown = "BandwidthDown";
const char* const kFallback1 = "Fallback1_";
const char* const kFallback2 = "Fallback2_";
const char* const kProxyProtocol = "ProxyProtocol";
const char* const kProtocol = "Protocol";
const char* const kUdpIdle = "UdpIdle";
const char* const kUdpPerSource = "UdpPerSource";

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

// The listen choice; one address must be a numeric one (the window offers this machine's).
QString ListenOn(const MappingRules& rules, RelayListenOn& on) {
    on = {};
    on.kind = static_cast<RelayListenOn::Kind>(rules.listenOn);
    if (on.kind != RelayListenOn::Kind::OneAddress)
        return {};
    on.address = rules.listenAddress.trimmed().toStdString();
    in6_addr bytes{};
    if (inet_pton(AF_INET, on.address.c_str(), &bytes) != 1 &&
        inet_pton(AF_INET6, on.address.c_str(), &bytes) != 1)
        return QStringLiteral("Listen on: '%1' is no IPv4 or IPv6 address").arg(rules.listenAddress);
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
            // Lists may be far longer than the values of the other sections: read whole.
            return Latin1Text(UnscrambleText(
                ReadWholeString(path, kRulesSection, Latin1Bytes(Key(base, slot))), kRulesShiftKey));
        };
        const int listenOn = read(kListenOn).toInt();
        r.listenOn = listenOn >= 0 && listenOn <= kLastListenOn ? listenOn : 0;
        r.listenAddress = read(kListenAddress);
        r.allow = read(kAllow);
        r.deny = read(kDeny);
        r.maxConnections = read(kMaxConnections);
        r.bandwidthUp = read(kBandwidthUp);
        r.bandwidthDown = read(kBandwidthDown);
        r.fallback1 = read(kFallback1);
        r.fallback2 = read(kFallback2);
        const int proxy = read(kProxyProtocol).toInt();
        r.proxyProtocol = proxy == 1 || proxy == 2 ? proxy : 0;
        const int protocol = read(kProtocol).toInt();
        r.protocol = protocol == 1 || protocol == 2 ? protocol : 0;
        r.udpIdle = read(kUdpIdle);
        r.udpPerSource = read(kUdpPerSource);
    }
    return all;
}

namespace {
// Every key of mapping `slot` with its value as typed; empty values are rules not set.
std::vector<std::pair<QString, QString>> RuleTexts(const MappingRules& r, int slot) {
    const auto number = [](int value) { return value ? QString::number(value) : QString(); };
    std::vector<std::pair<QString, QString>> texts;
    for (const auto& [base, value] :
         {std::pair{kListenOn, number(r.listenOn)}, std::pair{kListenAddress, r.listenAddress},
          std::pair{kAllow, r.allow}, std::pair{kDeny, r.deny}, std::pair{kMaxConnections, r.maxConnections},
          std::pair{kBandwidthUp, r.bandwidthUp}, std::pair{kBandwidthDown, r.bandwidthDown},
          std::pair{kFallback1, r.fallback1}, std::pair{kFallback2, r.fallback2},
          std::pair{kProxyProtocol, number(r.proxyProtocol)}, std::pair{kProtocol, number(r.protocol)},
          std::pair{kUdpIdle, r.udpIdle}, std::pair{kUdpPerSource, r.udpPerSource}})
        texts.emplace_back(Key(base, slot), value);
    return texts;
}
} // namespace

std::vector<std::pair<std::string, std::string>> StoredRuleEntries(const AllMappingRules& all) {
    std::vector<std::pair<std::string, std::string>> entries;
    for (int slot = 1; slot <= TMappingService::kSlots; ++slot)
        for (const auto& [key, value] : RuleTexts(all[slot - 1], slot))
            if (!value.isEmpty())
                entries.emplace_back(key.toStdString(), ScrambleText(Latin1Bytes(value), kRulesShiftKey));
    return entries;
}

void WriteMappingRules(ProfileBatch& batch, const AllMappingRules& all) {
    for (int slot = 1; slot <= TMappingService::kSlots; ++slot)
        for (const auto& [key, value] : RuleTexts(all[slot - 1], slot))
            if (value.isEmpty())
                batch.Delete(kRulesSection, key.toStdString());
    for (const auto& [key, value] : StoredRuleEntries(all))
        batch.Write(kRulesSection, key, value);
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
    for (const auto& [text, field, target] : {std::tuple{rules.bandwidthUp, "up", &out.bandwidthUp},
                                              std::tuple{rules.bandwidthDown, "down", &out.bandwidthDown}}) {
        if (text.trimmed().isEmpty())
            continue;
        bool ok = false;
        const qulonglong kib = text.trimmed().toULongLong(&ok);
        if (!ok || kib < 1 || kib > kMaxBandwidthKiB)
            return QStringLiteral("Bandwidth %1: '%2' is no number of KiB/s from 1 to %3")
                .arg(QString::fromLatin1(field), text)
                .arg(kMaxBandwidthKiB);
        *target = kib * 1024;
    }
    if (QString error = ListenOn(rules, out.listenOn); !error.isEmpty())
        return error;
    if (!rules.udpIdle.trimmed().isEmpty()) {
        bool ok = false;
        const int seconds = rules.udpIdle.trimmed().toInt(&ok);
        if (!ok || seconds < 1 || seconds > kMaxUdpIdleSeconds)
            return QStringLiteral("UDP idle: '%1' is no number of seconds from 1 to %2")
                .arg(rules.udpIdle)
                .arg(kMaxUdpIdleSeconds);
        out.udpIdle = std::chrono::seconds(seconds);
    }
    if (!rules.udpPerSource.trimmed().isEmpty()) {
        bool ok = false;
        out.udpPerSource = rules.udpPerSource.trimmed().toInt(&ok);
        if (!ok || out.udpPerSource < 1 || out.udpPerSource > TRelayListener::kUdpSessionCeiling)
            return QStringLiteral("UDP sessions per address: '%1' is no number from 1 to %2")
                .arg(rules.udpPerSource)
                .arg(TRelayListener::kUdpSessionCeiling);
    }
    out.protocol = rules.protocol;
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

RelayRules RefusingEveryone() {
    auto access = std::make_shared<RelayAccessRules>();
    for (const char* everyone : {"0.0.0.0/0", "::/0"}) {
        RelayNetwork network;
        std::string error;
        ParseNetwork(everyone, network, error);
        access->deny.Add(network);
    }
    RelayRules rules;
    rules.access = std::move(access);
    return rules;
}

void ApplyMappingRules(TMappingService& service, int slot, const RelayRules& rules) {
    service.SetAccessRules(slot, rules.access);
    service.SetFallbacks(slot, rules.fallbacks, rules.proxyProtocol);
    service.SetBandwidth(slot, rules.bandwidthUp, rules.bandwidthDown);
    service.SetProtocol(slot, static_cast<RelayProtocol>(rules.protocol), rules.udpIdle);
    service.Listener(slot).SetListenOn(rules.listenOn);
    service.Listener(slot).SetUdpSessionsPerSource(rules.udpPerSource);
}

} // namespace qv

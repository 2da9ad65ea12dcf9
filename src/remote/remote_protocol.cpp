#include "remote/remote_protocol.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/profile/atomic_file.h"
#include "core/profile/config_names.h"
#include "core/profile/profile_document.h"
#include "core/profile/profile_file.h"
#include "core/profile/scramble.h"

namespace qv {

namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kKeyEnd = " =";
constexpr size_t kFirstSlotLine = 6;

std::vector<ServerLine> BuildServerLines() {
    std::vector<ServerLine> lines = {
        {"RecevedName =", "", kProtocolShiftKey},
        {"RecevedNames =", "", kProtocolShiftKey},
        {"VQRVNV =", "", kProtocolShiftKey},
        {"SQRVN PNG =", "", nullptr},
        {"SQRVN PNG", "", nullptr},
        {"VLQRVNVL =", "", kProtocolShiftKey},
    };
    for (const char* base : {"OutcommingIp", "OutcommingPort", "IncommingPort"}) {
        for (int slot = 1; slot <= 6; ++slot) {
            const std::string control = slot == 1 ? base : base + std::to_string(slot);
            lines.push_back({control + std::string(kKeyEnd), control, kProtocolShiftKey});
        }
    }
    for (const char* control : {"TimerStart", "OutcommingPAd", "IncommingPAd", "OutcommingIpAd"})
        lines.push_back({control + std::string(kKeyEnd), control, kProtocolShiftKey});
    lines.push_back({"TimerStop =", "TimerStop", kTimerStopShiftKey});
    lines.push_back({"LQRVNL =", "ServerLogin", kServerLoginShiftKey});
    lines.push_back({"PLQRVNPL =", "ServerPassword", kServerPasswordShiftKey});
    return lines;
}

std::string Line(const ServerLine& line, std::string_view value, bool last) {
    std::string text = line.key;
    if (line.shiftKey)
        text += ScrambleText(value, line.shiftKey);
    if (!last)
        text += kLineEnd;
    return text;
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

const char* CredentialFault(const std::string& path, std::string_view login, std::string_view password) {
    if (ReadExchangeValue(path, "LQRVNL ", kServerLoginShiftKey) != login)
        return kInvalidRemoteLogin;
    if (ReadExchangeValue(path, "PLQRVNPL ", kServerPasswordShiftKey) != password)
        return kInvalidRemotePassword;
    return nullptr;
}

// "RulesQRVN =key=hex,key=hex" + CR LF: hexadecimal digits hold any byte and never a line end.
constexpr std::string_view kRulesKey = "RulesQRVN =";

std::string RulesLine(const RuleEntries& rules) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string line(kRulesKey);
    for (const auto& [key, value] : rules) {
        if (line.size() > kRulesKey.size())
            line += ',';
        line += key;
        line += '=';
        for (unsigned char byte : value) {
            line += kDigits[byte >> 4];
            line += kDigits[byte & 15];
        }
    }
    return line + std::string(kLineEnd);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// A rule's key as this program writes them ("Allow3", "Fallback1_2"): nothing a peer could use to
// write other lines or sections into the exchange file.
bool RuleKey(std::string_view key) {
    return !key.empty() && std::all_of(key.begin(), key.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
    });
}

// The rules a reply's line 4 carries; a malformed entry ends the reading there.
RuleEntries ReadRulesLine(std::string_view value) {
    RuleEntries rules;
    const size_t start = value.find(kRulesKey);
    if (start == std::string_view::npos)
        return rules;
    std::string_view rest = value.substr(start + kRulesKey.size());
    rest = rest.substr(0, rest.find(kLineEnd));
    while (!rest.empty()) {
        const std::string_view entry = rest.substr(0, rest.find(','));
        rest.remove_prefix(std::min(rest.size(), entry.size() + 1));
        const size_t equals = entry.find('=');
        if (equals == std::string_view::npos || !RuleKey(entry.substr(0, equals)) ||
            (entry.size() - equals - 1) % 2 != 0)
            break;
        std::string bytes;
        for (size_t i = equals + 1; i < entry.size(); i += 2) {
            const int high = HexDigit(entry[i]);
            const int low = HexDigit(entry[i + 1]);
            if (high < 0 || low < 0)
                return rules;
            bytes += static_cast<char>(high * 16 + low);
        }
        rules.emplace_back(std::string(entry.substr(0, equals)), std::move(bytes));
    }
    return rules;
}

} // namespace

const std::vector<ServerLine>& ServerLines() {
    static const std::vector<ServerLine> lines = BuildServerLines();
    return lines;
}

std::string GreetingText(std::string_view serverName) {
    return "Welcome on " + std::string(serverName) + " Mapping Server by Quorvane.";
}

std::string GreetingLines(std::string_view serverName, std::string_view version) {
    const auto& lines = ServerLines();
    const std::string greeting = GreetingText(serverName);
    return Line(lines[0], greeting, false) + Line(lines[1], greeting, false) +
           Line(lines[2], version, false) + Line(lines[3], {}, false);
}

std::string ConfigurationLines(const ControlText& text, const RuleEntries& rules) {
    const auto& lines = ServerLines();
    std::string block = rules.empty() ? std::string() : RulesLine(rules);
    block += Line(lines[4], {}, false) + Line(lines[5], kFormatMarker, false);
    for (size_t i = 6; i < lines.size(); ++i)
        block += Line(lines[i], text(lines[i].control), i + 1 == lines.size());
    return block;
}

std::string CredentialLines(std::string_view version, std::string_view login, std::string_view password) {
    return "VQRVNV =" + ScrambleText(version, kClientVersionShiftKey) +
           "\r\nLQRVNL =" + ScrambleText(login, kClientLoginShiftKey) +
           "\r\nPLQRVNPL =" + ScrambleText(password, kClientPasswordShiftKey) + "\r\n";
}

void ReceiveBuffer::Reset(std::string host) {
    host_ = std::move(host);
    std::string().swap(bytes_);
}

void ReceiveBuffer::Clear() {
    host_.reset();
    std::string().swap(bytes_);
}

void ReceiveBuffer::Append(std::string_view chunk) {
    bytes_ += chunk.substr(0, kReceiveLimit - bytes_.size());
}

std::vector<std::pair<std::string, std::string>> SplitServerReply(std::string_view bytes) {
    const auto& lines = ServerLines();
    std::vector<std::pair<std::string, std::string>> entries;
    size_t pos = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& key = lines[i].key;
        if (bytes.substr(pos, key.size()) != key)
            break;
        const size_t valueStart = pos + key.size();
        size_t valueEnd = std::string_view::npos;
        if (i + 1 < lines.size())
            valueEnd = bytes.find(std::string(kLineEnd) + lines[i + 1].key, valueStart);
        const bool more = valueEnd != std::string_view::npos;
        if (!more) {
            valueEnd = bytes.size();
            if (valueEnd - valueStart >= kLineEnd.size() &&
                bytes.substr(valueEnd - kLineEnd.size()) == kLineEnd)
                valueEnd -= kLineEnd.size();
        }
        // "SQRVN PNG" has no "=": it is no entry.
        if (key.size() > kKeyEnd.size() && key.ends_with(kKeyEnd))
            entries.emplace_back(key.substr(0, key.size() - kKeyEnd.size()),
                                 std::string(bytes.substr(valueStart, valueEnd - valueStart)));
        if (!more)
            break;
        pos = valueEnd + kLineEnd.size();
    }
    return entries;
}

void SaveExchangeFile(const std::string& path, const ReceiveBuffer& buffer) {
    ProfileDocument document;
    if (buffer.Host())
        document.Set(kMappingSection, "RemoteAdress", *buffer.Host());
    for (const auto& [key, value] : SplitServerReply(buffer.Bytes())) {
        document.Set(kMappingSection, key, value);
        if (key == "SQRVN PNG")
            for (const auto& [ruleKey, ruleValue] : ReadRulesLine(value))
                document.Set(kRulesSection, ruleKey, ruleValue);
    }
    if (!ReplaceFileAtomically(path, document.Serialise()))
        throw WriteError(path);
}

std::string ReadExchangeValue(const std::string& path, std::string_view keyText, std::string_view shiftKey) {
    return UnscrambleText(ReadString(path, kMappingSection, TrimBlanks(keyText)), shiftKey);
}

std::string DeleteExchangeFile(const std::string& path) {
    if (std::remove(path.c_str()) == 0 || errno == ENOENT)
        return {};
    const int code = errno;
    return "Unable to delete " + path + ": " + std::strerror(code) +
           ". It holds a remote server's scrambled login and password.";
}

LoginCheck CheckLogin(const std::string& path, std::string_view login, std::string_view password) {
    LoginCheck check{ReadExchangeValue(path, "RecevedNames ", kProtocolShiftKey), LoginVerdict::Accepted};
    if (check.greeting.empty())
        check.verdict = LoginVerdict::NoGreeting;
    else if (const char* fault = CredentialFault(path, login, password))
        check.verdict =
            fault == kInvalidRemoteLogin ? LoginVerdict::InvalidLogin : LoginVerdict::InvalidPassword;
    return check;
}

ConfigurationCheck CheckConfiguration(const std::string& path, std::string_view login,
                                      std::string_view password, std::string_view ownVersion) {
    constexpr std::string_view kOldNew =
        "It is a old/new server (The new file is encrypted for more security). "
        "Error loading the configuration file.\r\nThis file version is not 2.1";
    ConfigurationCheck check;
    const std::string marker = ReadExchangeValue(path, "VLQRVNVL ", kProtocolShiftKey);
    if (marker != kFormatMarker) {
        check.stopMessage = std::string(kOldNew) + (marker.empty() ? ", or the file is empty."
                                                                   : ".\r\nFile version : " + marker + ".");
        return check;
    }
    if (const char* fault = CredentialFault(path, login, password)) {
        check.stopMessage = fault;
        return check;
    }
    const std::string version = ReadExchangeValue(path, "VQRVNV ", kProtocolShiftKey);
    if (version != ownVersion)
        check.versionMessage = "Your Software Version : " + std::string(ownVersion) + " " + kFormatMarker +
                               ".\r\nServer Software Version : " + version + " " + kFormatMarker + ".";
    return check;
}

std::vector<std::pair<std::string, std::string>> ReadConfiguration(const std::string& path) {
    std::vector<std::pair<std::string, std::string>> values;
    const auto read = [&](const std::string& control, const char* shiftKey) {
        values.emplace_back(control, ReadExchangeValue(path, control, shiftKey));
    };
    for (const char* control : {"TimerStart", "IncommingPAd", "OutcommingPAd", "OutcommingIpAd"})
        read(control, kProtocolShiftKey);
    read("TimerStop", kTimerStopShiftKey);
    // The eighteen slot lines follow the greeting, the markers and the format line.
    const auto& lines = ServerLines();
    for (size_t i = kFirstSlotLine; i < kFirstSlotLine + 18; ++i)
        read(lines[i].control, kProtocolShiftKey);
    return values;
}

} // namespace qv

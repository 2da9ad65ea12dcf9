#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qv {

// The read-only remote administration protocol: lines of "key =" + scrambled value + CR LF. No Qt.

// Shift keys of the protocol's values.
inline constexpr const char* kProtocolShiftKey = "107";
inline constexpr const char* kTimerStopShiftKey = "128";
inline constexpr const char* kServerLoginShiftKey = "122";
inline constexpr const char* kServerPasswordShiftKey = "116";
inline constexpr const char* kClientVersionShiftKey = "110";
inline constexpr const char* kClientLoginShiftKey = "125";
inline constexpr const char* kClientPasswordShiftKey = "104";

inline constexpr const char* kFormatMarker = "2.1";
inline constexpr const char* kExchangeFileName = "DataQRVNServ.qrvd";
inline constexpr const char* kInvalidRemoteLogin = "Invalid remote login.";
inline constexpr const char* kInvalidRemotePassword = "Invalid remote password.";

// One line the server sends: its key text, the control whose text it carries (empty for the greeting,
// the versions and the markers) and the value's shift key (null for the two lines without a value).
struct ServerLine {
    std::string key;
    std::string control;
    const char* shiftKey;
};
// The server's 31 lines in sending order: 0 to 3 are the greeting, 4 to 30 the configuration block.
const std::vector<ServerLine>& ServerLines();
inline constexpr size_t kGreetingLineCount = 4;

// The text of a control of the server's instance at the moment of sending, as single bytes.
using ControlText = std::function<std::string(const std::string& control)>;

std::string GreetingText(std::string_view serverName);
// Lines 1 to 4.
std::string GreetingLines(std::string_view serverName, std::string_view version);
// The mappings' rules, as the configuration file stores them: (key, scrambled value).
using RuleEntries = std::vector<std::pair<std::string, std::string>>;
// Lines 5 to 31, the last without CR LF. Rules, when there are any, come first on a line of their own
// that the value of line 4 swallows: a peer that knows no rules reads the 31 lines as ever.
std::string ConfigurationLines(const ControlText& text, const RuleEntries& rules = {});
// The client's three lines.
std::string CredentialLines(std::string_view version, std::string_view login, std::string_view password);

// What one side keeps of what the other sends: more than a whole reply can use (31 lines, whose values
// the exchange file holds up to 2047 bytes each, and the rules, whose lists may be long), and no peer
// can make it more.
inline constexpr size_t kReceiveLimit = 4 * 1024 * 1024;

// What the client has received in one exchange, every chunk kept whole, zero bytes included, up to
// kReceiveLimit bytes: the reply is read from its start, so what comes past that is dropped.
class ReceiveBuffer {
public:
    // A new attempt to the host as typed: the buffer starts empty.
    void Reset(std::string host);
    // The exchange has ended: nothing of it stays, its memory included.
    void Clear();
    void Append(std::string_view chunk);
    const std::string& Bytes() const { return bytes_; }
    const std::optional<std::string>& Host() const { return host_; }

private:
    std::optional<std::string> host_;
    std::string bytes_;
};

// The server's reply cut into its lines: (key name without " =", scrambled value). A line runs from its
// key text to the CR LF that the next expected key text follows, or to the end of the reply, so CR, LF
// and zero bytes inside a value and the network's chunk boundaries cut nothing. Parsing stops at the
// first line that does not start with the expected key text.
std::vector<std::pair<std::string, std::string>> SplitServerReply(std::string_view bytes);

// Writes the exchange file in place of any file of that name, the rules sent in the section the
// configuration file keeps them in; throws WriteError when it cannot.
void SaveExchangeFile(const std::string& path, const ReceiveBuffer& buffer);
// The value stored under the key text (blanks at its ends do not count), unscrambled; absent: empty.
std::string ReadExchangeValue(const std::string& path, std::string_view keyText, std::string_view shiftKey);
// Empty when the file is gone (a missing file is no error); otherwise a text that names the file and
// says why it stays.
[[nodiscard]] std::string DeleteExchangeFile(const std::string& path);

// The check 800 ms after connecting.
enum class LoginVerdict { NoGreeting, InvalidLogin, InvalidPassword, Accepted };
struct LoginCheck {
    std::string greeting;
    LoginVerdict verdict;
};
LoginCheck CheckLogin(const std::string& path, std::string_view login, std::string_view password);

// The checks of "Get Remote Configurations". A stop message ends the exchange; a version message is
// shown and the exchange goes on.
struct ConfigurationCheck {
    std::string stopMessage;
    std::string versionMessage;
};
ConfigurationCheck CheckConfiguration(const std::string& path, std::string_view login,
                                      std::string_view password, std::string_view ownVersion);

// The values to apply, in the order they are applied: (control name, plain value).
std::vector<std::pair<std::string, std::string>> ReadConfiguration(const std::string& path);

} // namespace qv

#include "prefs/autostart_entry.h"

namespace qv {

namespace {
// Characters that make an Exec argument need quotes.
constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";

// The escapes of every string value of a desktop entry.
std::string EscapedValue(std::string_view text) {
    std::string value;
    for (char c : text) {
        switch (c) {
        case '\\':
            value += "\\\\";
            break;
        case '\n':
            value += "\\n";
            break;
        case '\t':
            value += "\\t";
            break;
        case '\r':
            value += "\\r";
            break;
        default:
            value += c;
        }
    }
    return value;
}

std::string ExecArgument(std::string_view path) {
    std::string argument;
    if (path.find_first_of(kReserved) == std::string_view::npos) {
        argument = path;
    } else {
        argument = '"';
        for (char c : path) {
            if (c == '"' || c == '`' || c == '$' || c == '\\')
                argument += '\\';
            argument += c;
        }
        argument += '"';
    }
    // Then "%%" for a percent sign, which would otherwise start a field code.
    std::string value;
    for (char c : EscapedValue(argument)) {
        value += c;
        if (c == '%')
            value += '%';
    }
    return value;
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}
} // namespace

std::string AutostartEntryText(std::string_view executablePath) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Quorvane\n"
           "Comment=Quorvane - Internet Port Mapping\n"
           "Exec=" +
           ExecArgument(executablePath) +
           "\n"
           // Once the program is removed, the desktop skips the entry instead of failing to start it.
           "TryExec=" +
           EscapedValue(executablePath) +
           "\n"
           "Icon=quorvane\n"
           "Terminal=false\n";
}

bool AutostartEntryIsOn(std::string_view text) {
    bool inEntry = false;
    bool hasExec = false;
    bool hidden = false;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = Trimmed(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.starts_with('[')) {
            inEntry = line == "[Desktop Entry]";
            continue;
        }
        const size_t equals = line.find('=');
        if (!inEntry || equals == std::string_view::npos)
            continue;
        const std::string_view key = Trimmed(line.substr(0, equals));
        const std::string_view value = Trimmed(line.substr(equals + 1));
        if (key == "Exec")
            hasExec = !value.empty();
        else if (key == "Hidden")
            hidden = value == "true";
    }
    return hasExec && !hidden;
}

} // namespace qv

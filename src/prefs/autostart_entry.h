#pragma once

#include <string>
#include <string_view>

namespace qv {

// The name of the program's autostart entry.
inline constexpr const char* kAutostartName = "Quorvane";

// The text of a desktop entry that starts this executable at log-on. Exec holds the full path as
// one argument, quoted and escaped as desktop entries require when it has blanks or other
// reserved characters.
std::string AutostartEntryText(std::string_view executablePath);

// Whether an entry's text starts something: a non-empty Exec in its [Desktop Entry] group, and
// not hidden (the desktop's way of switching an entry off).
bool AutostartEntryIsOn(std::string_view text);

} // namespace qv

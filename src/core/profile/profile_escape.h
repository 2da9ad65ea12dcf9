#pragma once

#include <string>
#include <string_view>

namespace qv {

// How a value of any bytes survives a line-based profile file.
//
// A profile reader ends a value at CR or LF, may stop at a zero byte, trims blanks around the value and
// drops one pair of matching quotes around it. So the writer escapes exactly the bytes that would be
// lost: zero, CR, LF, double and single quotes and the escape byte itself everywhere, and a blank
// (space, tab, vertical tab, form feed) when it is the first or last byte of the value. The escape is
// DEL (0x7F) followed by two upper-case hex digits of the byte: "a b " is stored as "a b", DEL, "20".
// Every other byte, high bytes included, is written as it is, so ordinary values look exactly as a
// plain profile writer leaves them.
//
// The trade-off: a file from a plain profile writer that happens to hold DEL followed by two hex digits
// reads as the escaped byte, where that writer's own reader would return the three bytes. The values
// this program stores practically never hold DEL: plain texts are typed into single-line edits, and a
// scrambled value holds DEL only where the typed text held a control byte (a tab under shift key 118,
// Ctrl+X under 103, Ctrl+C under 124, Ctrl+R under 109, Ctrl+T under 107). A DEL that is not followed by
// two hex digits is read as it is.
inline constexpr char kProfileEscapeByte = '\x7F';

// The bytes that a profile reader trims around keys, section names and values.
bool IsProfileBlank(char c);

// The value as written to the file (after "key=").
std::string EscapeProfileValue(std::string_view value);
// The value as held in the file, after trimming and quote removal, back to its bytes.
std::string UnescapeProfileValue(std::string_view stored);

} // namespace qv

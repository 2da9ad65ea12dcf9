#include "core/profile/scramble.h"

#include <charconv>
#include <stdexcept>

namespace qv {
namespace {

int ShiftKeyValue(std::string_view shiftKey) {
    int value = 0;
    const char* first = shiftKey.data();
    const char* last = first + shiftKey.size();
    if (first != last && *first == '+')
        ++first;
    auto [end, error] = std::from_chars(first, last, value);
    if (first == last || error != std::errc() || end != last)
        throw std::invalid_argument("'" + std::string(shiftKey) + "' is not a valid integer value");
    return value;
}

// Only the low eight bits of a shift matter modulo 256; unsigned arithmetic wraps as required,
// also for negative keys.
unsigned char ShiftModulo256(std::string_view shiftKey) {
    return static_cast<unsigned char>(static_cast<unsigned>(ShiftKeyValue(shiftKey)) & 0xFFu);
}

std::string Shift(std::string_view text, unsigned char delta) {
    std::string result(text);
    for (char& c : result)
        c = static_cast<char>(static_cast<unsigned char>(static_cast<unsigned char>(c) + delta));
    return result;
}

} // namespace

std::string ScrambleText(std::string_view text, std::string_view shiftKey) {
    return Shift(text, ShiftModulo256(shiftKey));
}

std::string UnscrambleText(std::string_view text, std::string_view shiftKey) {
    return Shift(text, static_cast<unsigned char>(256u - ShiftModulo256(shiftKey)));
}

} // namespace qv

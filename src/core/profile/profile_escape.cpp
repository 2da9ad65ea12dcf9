#include "core/profile/profile_escape.h"

namespace qv {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

bool MustEscapeAnywhere(char c) {
    return c == '\0' || c == '\r' || c == '\n' || c == '"' || c == '\'' || c == kProfileEscapeByte;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

bool IsProfileBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string EscapeProfileValue(std::string_view value) {
    std::string out;
    out.reserve(value.size() + 8);
    for (size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        const bool atEnd = i == 0 || i + 1 == value.size();
        if (MustEscapeAnywhere(c) || (atEnd && IsProfileBlank(c))) {
            const auto b = static_cast<unsigned char>(c);
            out += kProfileEscapeByte;
            out += kHexDigits[b >> 4];
            out += kHexDigits[b & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

std::string UnescapeProfileValue(std::string_view stored) {
    std::string out;
    out.reserve(stored.size());
    for (size_t i = 0; i < stored.size(); ++i) {
        if (stored[i] == kProfileEscapeByte && i + 2 < stored.size()) {
            const int high = HexValue(stored[i + 1]);
            const int low = HexValue(stored[i + 2]);
            if (high >= 0 && low >= 0) {
                out += static_cast<char>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        out += stored[i];
    }
    return out;
}

} // namespace qv

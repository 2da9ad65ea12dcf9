#pragma once

#include <QString>
#include <stdexcept>

namespace qv {

// Raised when a text is read as a whole number and is not one; what() is the text users see.
class ConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads a decimal whole number (optional sign, optional leading blanks, no trailing characters) that
// fits in 32 bits. Throws ConvertError "'<text>' is not a valid integer value" otherwise.
int StrToInt(const QString& text);

// A number a port field may hold: port 0 would listen on a port of the system's choosing, and five
// digits go past 65535.
inline bool IsValidPort(int port) {
    return port >= 1 && port <= 65535;
}

} // namespace qv

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

} // namespace qv

#pragma once

#include <QValidator>

namespace qv {

// Texts are stored, scrambled, logged and sent as single bytes: a character beyond Latin-1 is
// refused as it is typed or pasted rather than silently becoming "?".
class Latin1Validator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        for (const QChar c : input)
            if (c.unicode() > 0xFF)
                return Invalid;
        return Acceptable;
    }
};

} // namespace qv

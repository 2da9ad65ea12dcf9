#include "platform/controls.h"

#include <algorithm>

#include "platform/hint.h"
#include "platform/latin1_validator.h"

namespace qv {

QPushButton* NewButton(QWidget* parent, const QString& name, const char* caption, const char* hint) {
    auto* button = new QPushButton(QString::fromLatin1(caption), parent);
    button->setObjectName(name);
    if (hint)
        SetHint(button, hint);
    return button;
}

QLabel* NewLabel(QWidget* parent, const QString& name, const char* caption) {
    auto* label = new QLabel(QString::fromLatin1(caption), parent);
    label->setObjectName(name);
    return label;
}

QLineEdit* NewEdit(QWidget* parent, const QString& name, const char* text, const char* hint, int maxLength) {
    auto* edit = new QLineEdit(QString::fromLatin1(text), parent);
    edit->setObjectName(name);
    edit->setValidator(new Latin1Validator(edit));
    if (maxLength > 0)
        edit->setMaxLength(maxLength);
    if (hint)
        SetHint(edit, hint);
    return edit;
}

void AddToCount(QLabel* count, int delta) {
    count->setText(QString::number(std::max(0, count->text().toInt() + delta)));
}

} // namespace qv

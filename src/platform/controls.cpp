#include "platform/controls.h"

#include <QAction>
#include <QKeyEvent>
#include <algorithm>

#include "platform/hint.h"
#include "platform/latin1_validator.h"

namespace qv {

namespace {
// On Linux an edit keeps keys such as Ctrl+E (end of line) and Ctrl+U for itself, so the window's menu
// shortcuts on those keys would never fire while an edit has the focus: the menu's own shortcuts come
// first. The editing keys proper are the edit's, whatever a menu has on them: a user selecting the text
// of a port field with Ctrl+A means that, not About.
class MenuShortcutsFirst : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::ShortcutOverride)
            return false;
        auto* key = static_cast<QKeyEvent*>(event);
        // Plain typing never names a menu shortcut: only look when Ctrl or Alt is held.
        if (!(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)))
            return false;
        for (const QKeySequence::StandardKey editing :
             {QKeySequence::SelectAll, QKeySequence::Cut, QKeySequence::Copy, QKeySequence::Paste,
              QKeySequence::Undo, QKeySequence::Redo, QKeySequence::DeleteEndOfLine})
            if (key->matches(editing)) {
                key->accept(); // taken from the shortcuts: the key goes to the edit
                return true;
            }
        const QKeySequence pressed(key->keyCombination());
        const QWidget* window = static_cast<QWidget*>(watched)->window();
        for (const QAction* action : window->findChildren<QAction*>())
            if (action->isEnabled() && action->shortcut() == pressed)
                return true; // left unaccepted: the shortcut fires
        return false;
    }
};
} // namespace

QPushButton* NewButton(QWidget* parent, const QString& name, const char* caption, const char* hint) {
    auto* button = new QPushButton(QString::fromLatin1(caption), parent);
    button->setObjectName(name);
    if (hint)
        SetHint(button, hint);
    return button;
}

QLabel* NewLabel(QWidget* parent, const QString& name, const char* caption, const char* hint) {
    auto* label = new QLabel(QString::fromLatin1(caption), parent);
    label->setObjectName(name);
    if (hint)
        SetHint(label, hint);
    return label;
}

QLineEdit* NewEdit(QWidget* parent, const QString& name, const char* text, const char* hint, int maxLength) {
    auto* edit = new QLineEdit(QString::fromLatin1(text), parent);
    edit->setObjectName(name);
    edit->setValidator(new Latin1Validator(edit));
    edit->installEventFilter(new MenuShortcutsFirst(edit));
    if (maxLength > 0)
        edit->setMaxLength(maxLength);
    if (hint)
        SetHint(edit, hint);
    return edit;
}

void MakePasswordEdit(QLineEdit* edit) {
    edit->setEchoMode(QLineEdit::Password);
    edit->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
}

void AddToCount(QLabel* count, int delta) {
    count->setText(QString::number(std::max(0, count->text().toInt() + delta)));
}

} // namespace qv

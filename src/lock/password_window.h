#pragma once

#include <QLineEdit>
#include <QPushButton>

#include "shell/secondary_window.h"

namespace qv {

// What the lock and unlock windows share: the password field (and the lock's confirmation), "OK"
// and "Cancel", the standard menu and the hint bar.
class PasswordWindow : public SecondaryWindow {
    Q_OBJECT
public:
    QLineEdit* Edit1() const { return edit1_; }
    QPushButton* Button1() const { return button1_; }

protected:
    struct Layout {
        const char* className;
        const char* caption;
        QSize size;
        bool confirmation; // Label2 and Edit2
        const char* okHint;
    };
    PasswordWindow(TRoster& roster, const Layout& layout);

    // The checks' answer: the default beep, then the message; the window stays as it is.
    void Refuse(const char* text);
    // Edit1, Edit2, Button1 and Button2, held while a question is open.
    virtual void SetControlsEnabled(bool enabled);
    // Asks with the controls held; on Yes they stay held for the caller to release, on No they are
    // released and the window stays as it was.
    bool AskHoldingControls(const char* question);
    virtual void Button1Click() = 0;

    QLineEdit* edit1_ = nullptr;
    QLineEdit* edit2_ = nullptr;
    QPushButton* button1_ = nullptr;
    QPushButton* button2_ = nullptr;
    StandardMenu menu_;
};

} // namespace qv

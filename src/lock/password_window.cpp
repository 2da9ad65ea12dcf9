#include "lock/password_window.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "platform/controls.h"
#include "platform/error_report.h"
#include "platform/platform.h"
#include "shell/roster.h"

namespace qv {

namespace {
QLineEdit* PasswordEdit(QWidget* parent, const char* name, const char* hint) {
    QLineEdit* edit = NewEdit(parent, QString::fromLatin1(name), "", hint);
    MakePasswordEdit(edit);
    return edit;
}
} // namespace

PasswordWindow::PasswordWindow(TRoster& roster, const Layout& layout)
    : SecondaryWindow(roster, layout.className, layout.caption, layout.size) {
    auto* page = new QWidget(this);
    auto* form = new QFormLayout;
    edit1_ = PasswordEdit(page, "Edit1", "Enter password");
    form->addRow(NewLabel(page, QStringLiteral("Label1"), "Enter password :"), edit1_);
    if (layout.confirmation) {
        edit2_ = PasswordEdit(page, "Edit2", "Confirm password");
        form->addRow(NewLabel(page, QStringLiteral("Label2"), "Confirm password :"), edit2_);
    }
    button1_ = NewButton(page, QStringLiteral("Button1"), "OK", layout.okHint);
    button1_->setDefault(true);
    button2_ = NewButton(page, QStringLiteral("Button2"), "Cancel", "Close|Close this windows");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(button1_);
    buttons->addWidget(button2_);
    auto* box = new QVBoxLayout(page);
    box->addLayout(form);
    box->addStretch();
    box->addLayout(buttons);
    setCentralWidget(page);
    menu_ = BuildStandardMenu(true);
    BuildHintStatusBar();

    Platform& platform = roster.platform();
    OnSignal(button1_, &QPushButton::clicked, this, platform, [this] { Button1Click(); });
    OnSignal(button2_, &QPushButton::clicked, this, platform, [this] { close(); });
    // "OK" is the default button: Enter in a field presses it.
    for (QLineEdit* edit : {edit1_, edit2_})
        if (edit)
            connect(edit, &QLineEdit::returnPressed, button1_, [this] {
                if (button1_->isEnabled())
                    button1_->click();
            });
}

void PasswordWindow::Refuse(const char* text) {
    Platform& platform = roster_.platform();
    platform.Beep();
    platform.Notice(QString::fromLatin1(text));
}

bool PasswordWindow::AskHoldingControls(const char* question) {
    SetControlsEnabled(false);
    if (roster_.platform().Question(QString::fromLatin1(question)))
        return true;
    SetControlsEnabled(true);
    return false;
}

void PasswordWindow::SetControlsEnabled(bool enabled) {
    for (QWidget* control : std::initializer_list<QWidget*>{edit1_, edit2_, button1_, button2_})
        if (control)
            control->setEnabled(enabled);
}

} // namespace qv

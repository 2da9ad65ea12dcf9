#include "prefs/language_captions.h"

#include <QAbstractButton>
#include <QAction>
#include <QLabel>
#include <filesystem>
#include <system_error>

#include "platform/platform.h"
#include "prefs/caption_table.h"
#include "prefs/language_choice.h"
#include "prefs/settings_window.h"
#include "shell/roster.h"

namespace qv {

namespace {

QWidget& WindowOf(const TRoster& roster, CaptionWindow window) {
    using Id = TRoster::WindowId;
    switch (window) {
    case CaptionWindow::Main:
        return roster.Window(Id::Main);
    case CaptionWindow::Tray:
        return roster.Window(Id::Tray);
    case CaptionWindow::About:
        return roster.Window(Id::About);
    case CaptionWindow::Lock:
        return roster.Window(Id::Lock);
    case CaptionWindow::Unlock:
        return roster.Window(Id::Unlock);
    case CaptionWindow::Advanced:
        return roster.Window(Id::Advanced);
    case CaptionWindow::ChangesNews:
        return roster.Window(Id::ChangesNews);
    case CaptionWindow::Remote:
        return roster.Window(Id::Remote);
    case CaptionWindow::Settings:
        return roster.Window(Id::Settings);
    case CaptionWindow::Update:
        return roster.Window(Id::Update);
    }
    return roster.Window(Id::Main);
}

QString Text(const std::string& bytes) {
    return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
}
std::string Bytes(const QString& text) {
    return text.toLatin1().toStdString();
}

// Labels, buttons and check boxes alike; a window without the control keeps going.
void SetControlCaption(QWidget& window, const CaptionRow& row, const std::string& text,
                       const std::string& title, const std::string& fileName) {
    QWidget* control = window.findChild<QWidget*>(QString::fromLatin1(row.name));
    if (auto* label = qobject_cast<QLabel*>(control))
        label->setText(Text(ComposeCaption(row, text, title, Bytes(label->text()), fileName)));
    else if (auto* button = qobject_cast<QAbstractButton*>(control))
        button->setText(Text(ComposeCaption(row, text, title, Bytes(button->text()), fileName)));
}

} // namespace

void ApplyLanguageCaptions(TRoster& roster) {
    const std::string configPath = roster.ConfigPath();
    std::error_code error;
    if (!std::filesystem::exists(configPath, error))
        return;
    const std::string fileName = ChosenLanguageFile(configPath);
    // The name is a file of the executable's folder; anything with a directory part is no choice.
    if (!IsBareFileName(fileName))
        return;
    const std::string languagePath = roster.DataFile(fileName.c_str());
    if (!std::filesystem::is_regular_file(languagePath, error))
        return;

    std::string title;
    for (const CaptionRow& row : CaptionTable()) {
        const std::string text = CaptionText(languagePath, row);
        QWidget& window = WindowOf(roster, row.window);
        switch (row.target) {
        case CaptionTarget::Title:
            title = text;
            window.setWindowTitle(Text(text));
            roster.platform().SetAppTitle(Text(text));
            break;
        case CaptionTarget::Caption:
            window.setWindowTitle(Text(ComposeCaption(row, text, title, {}, fileName)));
            break;
        case CaptionTarget::Control:
            SetControlCaption(window, row, text, title, fileName);
            break;
        case CaptionTarget::Item:
            if (QAction* item = window.findChild<QAction*>(QString::fromLatin1(row.name)))
                item->setText(Text(ComposeCaption(row, text, title, {}, fileName)));
            break;
        }
    }
}

} // namespace qv

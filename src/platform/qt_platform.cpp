#include "platform/qt_platform.h"

#include <QApplication>
#include <QColorDialog>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QThread>
#include <QUrl>
#include <QWidget>
#include <cstdio>

#include "platform/app_title.h"
#include "platform/dynamic_library.h"

namespace qv {

namespace {

// The text of a box nobody can answer any more, for the service manager's or the terminal's log.
void WriteToStandardError(const QString& text) {
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

// Ends a local event loop once the watched window is hidden or closed.
class HideWatcher : public QObject {
public:
    HideWatcher(QWidget* window, QEventLoop* loop) : loop_(loop) { window->installEventFilter(this); }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Hide || event->type() == QEvent::Close)
            QMetaObject::invokeMethod(loop_, &QEventLoop::quit, Qt::QueuedConnection);
        return false;
    }

private:
    QEventLoop* loop_;
};

QFileDialog* ConfigDialog(QWidget* owner, QFileDialog::AcceptMode mode) {
    auto* dialog = new QFileDialog(owner);
    dialog->setAcceptMode(mode);
    dialog->setNameFilter(QStringLiteral("Quorvane Database (*.qrvd)"));
    dialog->setDefaultSuffix(QStringLiteral("qrvd"));
    // Any name is taken, also for opening: a file that does not exist reads as empty and gets the
    // program's own message. A native chooser would insist on an existing file.
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setOption(QFileDialog::DontUseNativeDialog, mode == QFileDialog::AcceptOpen);
    // The program asks its own overwrite question with the path.
    dialog->setOption(QFileDialog::DontConfirmOverwrite, true);
    return dialog;
}

} // namespace

QtPlatform::QtPlatform(const FileLocations& locations)
    : appTitle_(QString::fromLatin1(kAppTitle)), locations_(locations) {}

QMessageBox::StandardButton QtPlatform::Box(QMessageBox::Icon icon, const QString& title, const QString& text,
                                            QMessageBox::StandardButtons buttons) {
    return Box(icon, title, text, buttons, QString());
}

QMessageBox::StandardButton QtPlatform::Box(QMessageBox::Icon icon, const QString& title, const QString& text,
                                            QMessageBox::StandardButtons buttons, const QString& detail) {
    QMessageBox::StandardButton answer = QMessageBox::NoButton;
    if (!ending_) {
        // No owner window: boxes stand on their own, as the program's questions always have.
        QMessageBox box(icon, title, text, buttons);
        box.setDetailedText(detail);
        answer = static_cast<QMessageBox::StandardButton>(Exec(box));
    }
    // Nobody answers a box once the end has begun, also one it closed while it was up.
    if (ending_) {
        WriteToStandardError(detail.isEmpty() ? text : text + QLatin1Char('\n') + detail);
        answer = QMessageBox::NoButton;
    }
    return answer;
}

int QtPlatform::Exec(QDialog& dialog) {
    if (ending_)
        return QDialog::Rejected;
    modals_.emplace_back(&dialog);
    const int result = dialog.exec();
    std::erase(modals_, QPointer<QWidget>(&dialog));
    return result;
}

void QtPlatform::BeginEnding() {
    ending_ = true;
    // Innermost first; each returns to the one below it once control is back in its loop. A copy,
    // as closing runs handlers.
    const std::vector<QPointer<QWidget>> open = modals_;
    for (auto it = open.rbegin(); it != open.rend(); ++it) {
        if (auto* dialog = qobject_cast<QDialog*>(it->data()))
            dialog->reject();
        else if (*it)
            (*it)->hide();
    }
}

void QtPlatform::Notice(const QString& text) {
    Box(QMessageBox::NoIcon, appTitle_, text, QMessageBox::Ok);
}

bool QtPlatform::Question(const QString& text) {
    return Box(QMessageBox::Question, QString::fromLatin1(kQuestionTitle), text,
               QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void QtPlatform::Information(const QString& text) {
    Box(QMessageBox::Information, QString::fromLatin1(kInformationTitle), text, QMessageBox::Ok);
}

Answer QtPlatform::Confirm(const QString& title, const QString& text) {
    switch (
        Box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel)) {
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    default:
        return Answer::Cancel;
    }
}

void QtPlatform::Error(const QString& title, const QString& text) {
    Box(QMessageBox::Critical, title, text, QMessageBox::Ok);
}

void QtPlatform::ErrorWithDetail(const QString& title, const QString& text, const QString& detail) {
    Box(QMessageBox::Critical, title, text, QMessageBox::Ok, detail);
}

void QtPlatform::Beep() {
    QApplication::beep();
}

void QtPlatform::ShowModal(QWidget* window) {
    if (ending_)
        return;
    QPointer<QWidget> guard(window);
    const Qt::WindowModality before = window->windowModality();
    window->setWindowModality(Qt::ApplicationModal);
    QEventLoop loop;
    HideWatcher watcher(window, &loop);
    window->show();
    window->raise();
    window->activateWindow();
    if (window->isVisible()) {
        modals_.emplace_back(window);
        loop.exec(QEventLoop::DialogExec);
        std::erase(modals_, guard);
    }
    if (guard) {
        guard->removeEventFilter(&watcher);
        guard->setWindowModality(before);
    }
}

QString QtPlatform::ChosenFile(QFileDialog* dialog) {
    const QPointer<QFileDialog> guard(dialog);
    QString chosen;
    if (Exec(*dialog) == QDialog::Accepted && guard && !guard->selectedFiles().isEmpty())
        chosen = guard->selectedFiles().constFirst();
    delete guard;
    return chosen;
}

QString QtPlatform::OpenFileName(QWidget* owner) {
    return ChosenFile(ConfigDialog(owner, QFileDialog::AcceptOpen));
}

QString QtPlatform::SaveFileName(QWidget* owner) {
    return ChosenFile(ConfigDialog(owner, QFileDialog::AcceptSave));
}

QString QtPlatform::SaveTableFileName(QWidget* owner, const QString& suggested) {
    auto* dialog = new QFileDialog(owner);
    const QFileInfo file(suggested);
    dialog->setDirectory(file.absolutePath());
    dialog->selectFile(file.fileName());
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setNameFilter(QStringLiteral("Comma-separated values (*.csv)"));
    dialog->setDefaultSuffix(QStringLiteral("csv"));
    return ChosenFile(dialog);
}

std::optional<QColor> QtPlatform::ChooseColor(QWidget* owner, const QColor& initial) {
    QColorDialog dialog(initial, owner);
    if (Exec(dialog) != QDialog::Accepted || !dialog.selectedColor().isValid())
        return std::nullopt;
    return dialog.selectedColor();
}

LibraryCall QtPlatform::CallLibraryProcedure(const QString& path, const char* symbol) {
    return CallLibraryProcedureAt(path, symbol);
}

void QtPlatform::OpenUrl(const QString& url) {
    QDesktopServices::openUrl(QUrl(url));
}

void QtPlatform::StartDetached(const QString& program, const QStringList& arguments) {
    QProcess::startDetached(program, arguments);
}

void QtPlatform::Sleep(int milliseconds) {
    QThread::msleep(static_cast<unsigned long>(milliseconds));
}

// exit() rather than quit(): quit() would first ask every window to close, and the main window's
// close means "go to the tray" or "ask to exit", not "end now".
void QtPlatform::EndApplication() {
    QCoreApplication::exit(0);
}

QString QtPlatform::ExecutablePath() const {
    return QFile::decodeName(locations_.launchPath.c_str());
}

QString QtPlatform::WritableDir() const {
    return QFile::decodeName(locations_.writableDir.c_str());
}

QString QtPlatform::DataDir() const {
    return QFile::decodeName(locations_.dataDir.c_str());
}

} // namespace qv

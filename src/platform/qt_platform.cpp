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

#include "platform/dynamic_library.h"
#include "platform/app_title.h"

namespace qv {

namespace {

QMessageBox::StandardButton Box(QMessageBox::Icon icon, const QString& title, const QString& text,
                                QMessageBox::StandardButtons buttons) {
    // No owner window: boxes stand on their own, as the program's questions always have.
    QMessageBox box(icon, title, text, buttons);
    return static_cast<QMessageBox::StandardButton>(box.exec());
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

QString RunFileDialog(QFileDialog* dialog) {
    QString chosen;
    if (dialog->exec() == QDialog::Accepted && !dialog->selectedFiles().isEmpty())
        chosen = dialog->selectedFiles().constFirst();
    delete dialog;
    return chosen;
}

} // namespace

QtPlatform::QtPlatform(const FileLocations& locations)
    : appTitle_(QString::fromLatin1(kAppTitle)), locations_(locations) {}

void QtPlatform::Notice(const QString& text) { Box(QMessageBox::NoIcon, appTitle_, text, QMessageBox::Ok); }

bool QtPlatform::Question(const QString& text) {
    return Box(QMessageBox::Question, QString::fromLatin1(kQuestionTitle), text,
               QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void QtPlatform::Information(const QString& text) {
    Box(QMessageBox::Information, QString::fromLatin1(kInformationTitle), text, QMessageBox::Ok);
}

Answer QtPlatform::Confirm(const QString& title, const QString& text) {
    switch (Box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel)) {
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

void QtPlatform::Beep() { QApplication::beep(); }

void QtPlatform::ShowModal(QWidget* window) {
    QPointer<QWidget> guard(window);
    const Qt::WindowModality before = window->windowModality();
    window->setWindowModality(Qt::ApplicationModal);
    QEventLoop loop;
    HideWatcher watcher(window, &loop);
    window->show();
    window->raise();
    window->activateWindow();
    if (window->isVisible())
        loop.exec(QEventLoop::DialogExec);
    if (guard) {
        guard->removeEventFilter(&watcher);
        guard->setWindowModality(before);
    }
}

QString QtPlatform::OpenFileName(QWidget* owner) {
    return RunFileDialog(ConfigDialog(owner, QFileDialog::AcceptOpen));
}

QString QtPlatform::SaveFileName(QWidget* owner) {
    return RunFileDialog(ConfigDialog(owner, QFileDialog::AcceptSave));
}

std::optional<QColor> QtPlatform::ChooseColor(QWidget* owner, const QColor& initial) {
    const QColor chosen = QColorDialog::getColor(initial, owner);
    if (!chosen.isValid())
        return std::nullopt;
    return chosen;
}

LibraryCall QtPlatform::CallLibraryProcedure(const QString& path, const char* symbol) {
    return CallLibraryProcedureAt(path, symbol);
}

void QtPlatform::OpenUrl(const QString& url) { QDesktopServices::openUrl(QUrl(url)); }

void QtPlatform::StartDetached(const QString& program, const QStringList& arguments) {
    QProcess::startDetached(program, arguments);
}

void QtPlatform::Sleep(int milliseconds) { QThread::msleep(static_cast<unsigned long>(milliseconds)); }

// exit() rather than quit(): quit() would first ask every window to close, and the main window's
// close means "go to the tray" or "ask to exit", not "end now".
void QtPlatform::EndApplication() { QCoreApplication::exit(0); }

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

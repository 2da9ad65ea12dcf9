#include "support/fake_platform.h"

#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <utility>

#include "platform/app_title.h"
#include "platform/dynamic_library.h"

namespace qvtest {

namespace {
const char* KindName(qv::BoxKind kind) {
    switch (kind) {
    case qv::BoxKind::Notice:
        return "notice";
    case qv::BoxKind::Question:
        return "question";
    case qv::BoxKind::Information:
        return "information";
    case qv::BoxKind::Confirmation:
        return "confirmation";
    case qv::BoxKind::Error:
        return "error";
    }
    return "?";
}

void FailUnexpected(qv::BoxKind kind, const QString& text) {
    const QByteArray message = QByteArray("unexpected ") + KindName(kind) + " box: " + text.toLatin1();
    QTest::qFail(message.constData(), __FILE__, __LINE__);
}
} // namespace

namespace {
QString WithSeparator(QString dir) {
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir;
}
} // namespace

FakePlatform::FakePlatform(QString executableDir)
    : dir_(WithSeparator(std::move(executableDir))), appTitle_(QString::fromLatin1(qv::kAppTitle)),
      autostart_(dir_.toStdString() + "autostart/") {}

qv::LibraryCall FakePlatform::CallLibraryProcedure(const QString& path, const char* symbol) {
    libraryCalls_.append(path + QLatin1Char(':') + QString::fromLatin1(symbol));
    return qv::CallLibraryProcedureAt(path, symbol);
}

QStringList FakePlatform::BoxTexts() const {
    QStringList texts;
    for (const BoxRecord& box : boxes_)
        texts.append(box.text);
    return texts;
}

void FakePlatform::RunNestedLoop() const {
    if (!eventsInBoxes_)
        return;
    QEventLoop loop;
    QTimer::singleShot(20, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::DialogExec);
}

void FakePlatform::Inform(qv::BoxKind kind, const QString& title, const QString& text) {
    boxes_.append({kind, title, text});
    RunNestedLoop();
    if (expected_.isEmpty() || expected_.constFirst() != kind) {
        FailUnexpected(kind, text);
        return;
    }
    expected_.removeFirst();
}

qv::Answer FakePlatform::Ask(qv::BoxKind kind, const QString& title, const QString& text) {
    boxes_.append({kind, title, text});
    RunNestedLoop();
    if (const auto action = std::exchange(whileAsking_, nullptr))
        action();
    if (answers_.isEmpty()) {
        FailUnexpected(kind, text);
        return qv::Answer::No;
    }
    return answers_.takeFirst();
}

void FakePlatform::Notice(const QString& text) {
    Inform(qv::BoxKind::Notice, appTitle_, text);
}

bool FakePlatform::Question(const QString& text) {
    return Ask(qv::BoxKind::Question, QString::fromLatin1(qv::kQuestionTitle), text) == qv::Answer::Yes;
}

void FakePlatform::Information(const QString& text) {
    Inform(qv::BoxKind::Information, QString::fromLatin1(qv::kInformationTitle), text);
}

qv::Answer FakePlatform::Confirm(const QString& title, const QString& text) {
    return Ask(qv::BoxKind::Confirmation, title, text);
}

void FakePlatform::Error(const QString& title, const QString& text) {
    Inform(qv::BoxKind::Error, title, text);
}
void FakePlatform::ErrorWithDetail(const QString& title, const QString& text, const QString& detail) {
    Inform(qv::BoxKind::Error, title, text);
    boxes_.last().detail = detail;
}

void FakePlatform::ShowModal(QWidget* window) {
    modalShown_.append(window);
    if (modalHandler_)
        modalHandler_(window);
}

QString FakePlatform::NextFileName() {
    return fileNames_.isEmpty() ? QString() : fileNames_.takeFirst();
}
QString FakePlatform::OpenFileName(QWidget*) {
    return NextFileName();
}
QString FakePlatform::SaveFileName(QWidget*) {
    return NextFileName();
}
QString FakePlatform::SaveTableFileName(QWidget*, const QString&) {
    return NextFileName();
}
std::optional<QColor> FakePlatform::ChooseColor(QWidget*, const QColor&) {
    return color_;
}

void FakePlatform::StartDetached(const QString& program, const QStringList& arguments) {
    started_.append({program, arguments, slept_, trayIcon_.has_value()});
}

void FakePlatform::AddTrayIcon(const qv::TrayIconRecord& record) {
    ++trayAdds_;
    if (trayAvailable_ && !trayIcon_)
        trayIcon_ = record;
}

void FakePlatform::DeleteTrayIcon(const qv::TrayIconRecord& record) {
    ++trayDeletes_;
    if (trayIcon_ && trayIcon_->window == record.window && trayIcon_->id == record.id)
        trayIcon_.reset();
}

bool FakePlatform::ClickTray(qv::TrayMouse mouse) {
    if (!trayIcon_ || !(trayIcon_->flags & qv::TrayIconRecord::kMessageValid) || !trayIcon_->callback)
        return false;
    // A copy: the handler may delete the icon it was called for.
    const auto callback = trayIcon_->callback;
    callback(trayIcon_->callbackMessage, mouse);
    return true;
}

std::optional<qv::MemoryStatus> FakePlatform::MemoryFigures() const {
    return memory_ ? memory_ : qv::ReadMemoryStatus();
}

std::optional<std::uint64_t> FakePlatform::CycleCounter() const {
    if (!cycleRate_)
        return std::nullopt;
    const auto ns = std::chrono::steady_clock::now().time_since_epoch() / std::chrono::nanoseconds(1);
    return static_cast<std::uint64_t>(static_cast<double>(ns) * *cycleRate_);
}

} // namespace qvtest

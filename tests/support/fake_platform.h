#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

#include "platform/autostart_folder.h"
#include "platform/platform.h"

namespace qvtest {

struct BoxRecord {
    qv::BoxKind kind;
    QString title;
    QString text;
    QString detail = {};
};

// Scripted stand-in for the desktop. Every box is recorded; boxes that ask something take the next
// scripted answer, and a box nobody scripted fails the running test.
class FakePlatform : public qv::Platform {
public:
    explicit FakePlatform(QString executableDir);

    // Answers for the next boxes that ask (Question, Confirmation), in order.
    void Answer(qv::Answer answer) { answers_.append(answer); }
    // Allows the next boxes of this kind that only inform (Notice, Information, Error).
    void ExpectBox(qv::BoxKind kind) { expected_.append(kind); }
    // Runs while the next box that asks is open, as the events a modal box keeps serving would.
    void WhileAsking(std::function<void()> action) { whileAsking_ = std::move(action); }
    int PendingScript() const { return static_cast<int>(answers_.size() + expected_.size()); }
    // Boxes run a short nested event loop before they answer, as a real modal box does: timers
    // and queued events are delivered inside the box.
    void RunEventsInBoxes(bool on) { eventsInBoxes_ = on; }

    const QList<BoxRecord>& Boxes() const { return boxes_; }
    QStringList BoxTexts() const;
    void ClearBoxes() { boxes_.clear(); }
    int Beeps() const { return beeps_; }

    // Runs instead of blocking when a window is shown modally; the window is left visible
    // unless the handler hides it.
    void OnShowModal(std::function<void(QWidget*)> handler) { modalHandler_ = std::move(handler); }
    const QList<QWidget*>& ModalShown() const { return modalShown_; }

    void SetFileNames(QStringList names) { fileNames_ = std::move(names); }
    void SetChosenColor(std::optional<QColor> color) { color_ = color; }

    const QStringList& OpenedUrls() const { return urls_; }
    struct Started {
        QString program;
        QStringList arguments;
        int sleptBeforeMs;
        bool trayIconShown; // the icon was still in the tray when the process started
    };
    const QList<Started>& StartedProcesses() const { return started_; }
    int SleptMs() const { return slept_; }

    void SetAppTitle(const QString& title) override { appTitle_ = title; }
    QString AppTitle() const override { return appTitle_; }
    void Notice(const QString& text) override;
    bool Question(const QString& text) override;
    void Information(const QString& text) override;
    qv::Answer Confirm(const QString& title, const QString& text) override;
    void Error(const QString& title, const QString& text) override;
    void ErrorWithDetail(const QString& title, const QString& text, const QString& detail) override;
    void Beep() override { ++beeps_; }
    // Scripted boxes never wait for anyone, so there is nothing to close.
    void BeginEnding() override {}
    void ShowModal(QWidget* window) override;
    QString OpenFileName(QWidget* owner) override;
    QString SaveFileName(QWidget* owner) override;
    QString SaveTableFileName(QWidget* owner, const QString& suggested) override;
    std::optional<QColor> ChooseColor(QWidget* owner, const QColor& initial) override;
    void OpenUrl(const QString& url) override { urls_.append(url); }
    void StartDetached(const QString& program, const QStringList& arguments) override;
    void Sleep(int milliseconds) override { slept_ += milliseconds; }
    void EndApplication() override { ++endRequests_; }
    int EndRequests() const { return endRequests_; }
    QString ExecutablePath() const override { return dir_ + QStringLiteral("quorvane"); }
    QString WritableDir() const override { return dir_; }
    QString DataDir() const override { return dir_; }
    void SetTaskbarVisible(bool visible) override { taskbarVisible_ = visible; }
    bool TaskbarVisible() const override { return taskbarVisible_; }

    // The tray: one icon at most is shown; adds and deletes are counted even when they change
    // nothing. Without a notification area an added icon is never shown.
    void SetTrayAvailable(bool available) { trayAvailable_ = available; }
    bool TrayAvailable() const override { return trayAvailable_; }
    void AddTrayIcon(const qv::TrayIconRecord& record) override;
    void DeleteTrayIcon(const qv::TrayIconRecord& record) override;
    void PopupTrayMenu(QMenu* menu) override { poppedUp_.append(menu); }
    bool TrayIconShown() const { return trayIcon_.has_value(); }
    const std::optional<qv::TrayIconRecord>& TrayIcon() const { return trayIcon_; }
    int TrayAdds() const { return trayAdds_; }
    int TrayDeletes() const { return trayDeletes_; }
    // The desktop reporting a mouse event on the icon; false when no icon is there to click.
    bool ClickTray(qv::TrayMouse mouse);
    const QList<QMenu*>& PoppedUpMenus() const { return poppedUp_; }

    // Autostart entries go to a folder of their own inside the executable's folder; library calls
    // are recorded and made for real.
    const qv::AutostartFolder& Autostart() const { return autostart_; }
    std::string ReadAutostartEntry(const std::string& name) const override { return autostart_.Read(name); }
    bool WriteAutostartEntry(const std::string& name, const std::string& text) override {
        return autostart_.Write(name, text);
    }
    void DeleteAutostartEntry(const std::string& name) override { autostart_.Delete(name); }
    qv::LibraryCall CallLibraryProcedure(const QString& path, const char* symbol) override;
    const QStringList& LibraryCalls() const { return libraryCalls_; }
    // Memory figures: the machine's own until a test sets its own.
    void SetMemory(std::optional<qv::MemoryStatus> memory) { memory_ = memory; }
    std::optional<qv::MemoryStatus> MemoryFigures() const override;
    // A cycle counter running at this many ticks per nanosecond of the steady clock; none by
    // default. Set it before the windows are created: it is read from another thread.
    void SetCycleRate(std::optional<double> ticksPerNs) { cycleRate_ = ticksPerNs; }
    std::optional<std::uint64_t> CycleCounter() const override;

private:
    void Inform(qv::BoxKind kind, const QString& title, const QString& text);
    qv::Answer Ask(qv::BoxKind kind, const QString& title, const QString& text);
    QString NextFileName();
    void RunNestedLoop() const;

    QString dir_;
    QString appTitle_;
    QList<BoxRecord> boxes_;
    QList<qv::Answer> answers_;
    QList<qv::BoxKind> expected_;
    int beeps_ = 0;
    bool eventsInBoxes_ = false;
    std::function<void(QWidget*)> modalHandler_;
    std::function<void()> whileAsking_;
    QList<QWidget*> modalShown_;
    QStringList fileNames_;
    std::optional<QColor> color_;
    QStringList urls_;
    QList<Started> started_;
    int slept_ = 0;
    int endRequests_ = 0;
    bool taskbarVisible_ = false;
    bool trayAvailable_ = true;
    std::optional<qv::TrayIconRecord> trayIcon_;
    int trayAdds_ = 0;
    int trayDeletes_ = 0;
    QList<QMenu*> poppedUp_;
    qv::AutostartFolder autostart_;
    QStringList libraryCalls_;
    std::optional<qv::MemoryStatus> memory_;
    std::optional<double> cycleRate_;
};

} // namespace qvtest

#pragma once

#include <QAction>
#include <QMenu>
#include <QWidget>
#include <array>

#include "platform/platform.h"
#include "platform/ui_timer.h"

namespace qv {

class TRoster;

// The hidden first window: it owns the tray icon's pop-up menu and three one-shot timers, and
// closing it ends the program.
class TQuorvaneTray : public QWidget {
    Q_OBJECT
public:
    explicit TQuorvaneTray(TRoster& roster);
    ~TQuorvaneTray() override;

    QMenu* PopupMenu1() const { return popupMenu1_; }
    QAction* About3() const { return about3_; }
    QAction* Lock1() const { return lock1_; }
    QAction* Show() const { return show_; }
    QAction* Connections3() const { return connections3_; }
    QAction* Minimize() const { return minimize_; }
    QAction* Restart() const { return restart_; }
    QAction* Exit() const { return exit_; }
    QAction* Unlock1() const { return unlock1_; }
    UiTimer* Timer(int number) const { return timers_.at(number - 1); }
    // The record handed to the desktop for the icon, kept for the whole run.
    const TrayIconRecord& IconRecord() const { return iconRecord_; }
    // The icon is in the notification area (added, not deleted since, and the desktop has one).
    bool IconShown() const { return iconShown_; }

    void Show1Click();
    void MinimizeClick();
    void About3Click();
    void Unlock1Click();
    // The icon's callback message: the mouse event decides.
    void IconMessage(int message, TrayMouse mouse);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildMenu();
    void FormCreate();
    void AddIcon();
    void DeleteIcon();
    void Timer1Timer();
    void Timer2Timer();
    void Timer3Timer();

    TRoster& roster_;
    Platform& platform_;
    QMenu* popupMenu1_ = nullptr;
    QAction* about3_ = nullptr;
    QAction* lock1_ = nullptr;
    QAction* connections3_ = nullptr;
    QAction* show_ = nullptr;
    QAction* minimize_ = nullptr;
    QAction* restart_ = nullptr;
    QAction* exit_ = nullptr;
    QAction* unlock1_ = nullptr;
    std::array<UiTimer*, 3> timers_{};
    TrayIconRecord iconRecord_;
    bool iconShown_ = false;
};

} // namespace qv

#pragma once

#include <QAction>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <array>
#include <memory>

#include "core/logfile/log_time_format.h"
#include "platform/ui_timer.h"

class QPlainTextEdit;

namespace qv {

class Platform;
class TRoster;
class TMappingSlot;
class TConnectionLog;
class TConnectionEventQueue;
class TMappingService;
class TRulesBook;
class TConfigurationCommands;
class TRemoteServer;

// The main window: the mapping grid, the connection list, the menu, the status bar and the
// program's one-shot timers.
class TQuorvaneMapping : public QMainWindow {
    Q_OBJECT
public:
    explicit TQuorvaneMapping(TRoster& roster);
    ~TQuorvaneMapping() override;

    Platform& platform() const { return platform_; }
    TMappingSlot& Slot(int number) const { return *slots_.at(number - 1); }
    // What runs; this window is a view of it.
    TMappingService& Service() const { return *service_; }
    TConnectionEventQueue& Events() const;
    TConnectionLog& Log() const { return *log_; }
    // ServerSocket1, Timer4 and Buffer1: the remote administration server.
    TRemoteServer& RemoteServer() const { return *remoteServer_; }
    UiTimer* Timer(int number) const { return timers_.at(number - 1); }
    // Hidden members the remote administration reads and writes.
    QLabel* Version() const { return version_; }
    QPlainTextEdit* Buffer1() const { return buffer1_; }
    QLabel* StatusPanel(int index) const { return panels_.at(index); }

    QPushButton* LoadIni() const { return loadIni_; }
    QPushButton* SaveIni() const { return saveIni_; }
    QAction* LoadIni2() const { return loadIni2_; }
    QAction* SaveIni2() const { return saveIni2_; }
    QAction* Minimize2() const { return minimize2_; }
    QAction* Restart1() const { return restart1_; }
    QAction* Exit1() const { return exit1_; }
    // SaveConfigurationAs1, LoadConfigurationFrom1 and Loadaolderconfiguration1.
    const std::array<QAction*, 3>& FileItems() const { return fileItems_; }
    QPushButton* Button1() const { return button1_; }
    // "Lock" and "Unlock", and the File menu's "Lock".
    QPushButton* Button4() const { return button4_; }
    QPushButton* Button5() const { return button5_; }
    QAction* Lock1() const { return lock1_; }

    // The fields equal the file: LoadIni, SaveIni, LoadIni2, SaveIni2 and ELogs go off.
    void DisableFileControls();

    // Status bar panel 1: users connected over all six slots.
    void AddToTotal(int delta);
    // "Disabled All" is available while at least one slot is On.
    void UpdateDisabledAll();
    // Before a configuration replaces the fields: every slot, On or not, lists its switch-off and
    // stops, all under one wait; then the grid is emptied and no "Enable" is available.
    void ClearSlotsForReplacement();

    // The ending steps (listeners stopped, closing log line, save switch), once, while every
    // window still exists.
    void EndOfProgram();

    void Button1Click();
    void Exit1Click();
    void Restart1Click();
    void Minimize2Click();
    void About2Click();
    void Checkfor1Click();
    void Language1Click();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;

private:
    void BuildControls();
    void BuildMenu();
    void BuildStatusBar();
    void KeepLayoutWhereTheScreenHoldsIt();
    void BuildTimers();
    void FormCreate();
    void FormClose(QCloseEvent* event);
    void FormDestroy();
    void RestoreMappings();
    void ShowModal(QWidget* window);
    void Timer3Timer();
    void Timer4Timer();
    void Timer5Timer();
    void Timer6Timer();
    void Timer7Timer();
    void Timer8Timer();

    TRoster& roster_;
    Platform& platform_;
    // A child, so Timer1 and Timer2 are found with the window's other timers; destroyed explicitly,
    // once its listeners have stopped, before the views it reports to.
    TMappingService* service_ = nullptr;
    TRulesBook* rulesBook_ = nullptr;
    std::unique_ptr<TConfigurationCommands> commands_;
    std::array<TMappingSlot*, 6> slots_{};
    TConnectionLog* log_ = nullptr;
    TRemoteServer* remoteServer_ = nullptr;
    std::array<UiTimer*, 8> timers_{};
    std::array<QLabel*, 3> panels_{};
    QPushButton* loadIni_ = nullptr;
    QPushButton* saveIni_ = nullptr;
    QPushButton* button1_ = nullptr;
    QPushButton* button4_ = nullptr;
    QPushButton* button5_ = nullptr;
    QPushButton* button6_ = nullptr;
    QPushButton* remoteButton_ = nullptr;
    QAction* saveIni2_ = nullptr;
    QAction* loadIni2_ = nullptr;
    QAction* lock1_ = nullptr;
    QAction* minimize2_ = nullptr;
    QAction* restart1_ = nullptr;
    QAction* exit1_ = nullptr;
    QLabel* version_ = nullptr;
    QPlainTextEdit* buffer1_ = nullptr;
    std::array<QAction*, 3> fileItems_{};
    QAction* language1_ = nullptr;
    bool destroyed_ = false;
};

} // namespace qv

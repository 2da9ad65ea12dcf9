#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/logfile/log_time_format.h"

class QCheckBox;
class QWidget;

namespace qv {

class Platform;
class TQuorvaneTray;
class TQuorvaneMapping;
class TAbout;
class TQuorvaneRemote;
class TQuorvaneMappingPlus;
class TQuorvaneUpdate;
class TQuorvaneMappingUnlock;
class TQuorvaneMappingLock;
class TQuorvaneChangesNews;
class TQuorvaneSettings;
class TConnectionsForm;
class TMappingRulesForm;
class TRulesBook;
class TStoredFields;
class TMappingService;
class TFileControls;
class TRemoteServer;
class UiTimer;

// The twelve windows of the program, created once in this order and destroyed in the reverse order.
// Every window gets the roster at construction and reaches the others through it: the shell uses
// the windows themselves, the other windows only the narrow reach below, which needs no window's
// header.
class TRoster {
public:
    explicit TRoster(Platform& platform);
    ~TRoster();
    TRoster(const TRoster&) = delete;
    TRoster& operator=(const TRoster&) = delete;

    Platform& platform() const { return platform_; }

    TQuorvaneTray& Tray() const { return *tray_; }
    TQuorvaneMapping& Mapping() const { return *mapping_; }
    TAbout& About() const { return *about_; }
    TQuorvaneRemote& Remote() const { return *remote_; }
    TQuorvaneMappingPlus& MappingPlus() const { return *mappingPlus_; }
    TQuorvaneUpdate& Update() const { return *update_; }
    TQuorvaneMappingUnlock& Unlock() const { return *unlock_; }
    TQuorvaneMappingLock& Lock() const { return *lock_; }
    TQuorvaneChangesNews& ChangesNews() const { return *changesNews_; }
    TQuorvaneSettings& Settings() const { return *settings_; }
    TConnectionsForm& Connections() const { return *connections_; }
    TMappingRulesForm& MappingRules() const { return *mappingRules_; }

    // The Load and Save controls of the windows that store fields, and their rules.
    TFileControls& FileControls() const { return *fileControls_; }

    // What runs: the mappings, their events and counts, the log file. The main window, which owns
    // it, hands it over first thing, before anything of it is built.
    TMappingService& Service() const { return *service_; }
    void AttachService(TMappingService* service) { service_ = service; }
    // The mappings' rules as typed and in force; handed over with the service.
    TRulesBook& RulesBook() const { return *rulesBook_; }
    void AttachRulesBook(TRulesBook* book) { rulesBook_ = book; }

    // ---- Narrow reach into the other windows (roster_reach.cpp).
    enum class WindowId {
        Tray,
        Main,
        About,
        Remote,
        Advanced,
        Update,
        Unlock,
        Lock,
        ChangesNews,
        Settings,
        Connections,
        MappingRules
    };
    QWidget& Window(WindowId id) const;
    // The mapping rules window, shown with one mapping chosen (0: the one chosen last).
    void ShowMappingRules(int slot) const;
    // "Mapping #2 (8082 → host:80)": the port mapping `slot` listens on while it runs (else the one typed)
    // and where it relays to; the name alone while its grid column is empty.
    QString MappingCaption(int slot) const;
    // The main window's connection list, its "Save Connections List" switch and its log-file lines.
    void AddLogEntry(const QString& text) const;
    void RemoveLogEntry(const QString& text) const;
    void AppendLogLine(std::string_view fileText, LogLineForm form = LogLineForm::Full) const;
    QCheckBox* LogSaveSwitch() const;
    // The main window's hidden version label and its numbered timers.
    QString VersionText() const;
    UiTimer* MainTimer(int number) const;
    // ServerSocket1 of the main window.
    TRemoteServer& RemoteServer() const;
    // Before a configuration replaces the grid: every mapping stops, the grid is emptied, and no
    // "Enable" is available.
    void ClearMappingsForReplacement() const;
    // The tray icon: shown now; added (true) or deleted by its timers.
    bool TrayIconShown() const;
    void ShowTrayIcon(bool shown) const;
    // The lock: the "Lock" items of the main window and the tray; the interface locked and
    // unlocked; the tray's menu afterwards (`lockItemStays`: a lock that made the file keeps it).
    void SetLockItemsEnabled(bool enabled) const;
    void LockUserInterface();
    void AfterLocking(bool lockItemStays) const;
    void UnlockUserInterface();
    void AfterUnlocking() const;
    void SetUnlockItemEnabled(bool enabled) const;
    // The tray's "About" comes back once the About window closes, unless the program is locked.
    void OfferTrayAbout() const;

    // The stored fields of a configuration, listed on first use, once every window exists.
    const TStoredFields& StoredFields() const;

    // File-system paths of the program's files, in the folders the platform decided at start:
    // files it writes (configuration, log, exchange file) and read-only data beside the executable.
    std::string ConfigPath() const;
    std::string LogPath() const;
    std::string WritableFile(const char* name) const;
    std::string DataFile(const char* name) const;

    // A box runs a nested event loop, in which timers and queued events reach any window. So
    // nothing may open one while the windows are being created: creation handlers run through
    // RunCreation, which reports their errors later, and a notice waits in AfterStart until every
    // window exists and the message loop runs.
    void RunCreation(const std::function<void()>& formCreate);
    void AfterStart(std::function<void()> step);

    // Just before a restart starts the new instance: the configuration is given up for it.
    void OnRestart(std::function<void()> release) { release_ = std::move(release); }
    void ReleaseForRestart() {
        if (release_)
            release_();
    }

    // Set once the process is ending, so closing the main window no longer asks anything.
    bool Ending() const { return ending_; }
    void SetEnding() { ending_ = true; }

private:
    void RunStartSteps();

    Platform& platform_;
    bool ending_ = false;
    bool started_ = false;
    std::vector<std::function<void()>> startSteps_;
    std::function<void()> release_;
    mutable std::unique_ptr<TStoredFields> storedFields_;
    // Before the windows, which register their controls as they are built.
    std::unique_ptr<TFileControls> fileControls_;
    TMappingService* service_ = nullptr;
    TRulesBook* rulesBook_ = nullptr;
    // Declared in creation order: members are destroyed in reverse, as the windows must be.
    std::unique_ptr<TQuorvaneTray> tray_;
    std::unique_ptr<TQuorvaneMapping> mapping_;
    std::unique_ptr<TAbout> about_;
    std::unique_ptr<TQuorvaneRemote> remote_;
    std::unique_ptr<TQuorvaneMappingPlus> mappingPlus_;
    std::unique_ptr<TQuorvaneUpdate> update_;
    std::unique_ptr<TQuorvaneMappingUnlock> unlock_;
    std::unique_ptr<TQuorvaneMappingLock> lock_;
    std::unique_ptr<TQuorvaneChangesNews> changesNews_;
    std::unique_ptr<TQuorvaneSettings> settings_;
    std::unique_ptr<TConnectionsForm> connections_;
    std::unique_ptr<TMappingRulesForm> mappingRules_;
};

} // namespace qv

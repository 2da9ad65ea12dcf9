#include "shell/roster.h"

#include <QFile>
#include <utility>

#include "connections/connections_window.h"
#include "core/logfile/log_file.h"
#include "core/profile/config_names.h"
#include "info/about_window.h"
#include "info/changes_news_window.h"
#include "info/update_window.h"
#include "lock/lock_window.h"
#include "lock/unlock_window.h"
#include "mapping/advanced_window.h"
#include "platform/error_report.h"
#include "platform/platform.h"
#include "prefs/settings_window.h"
#include "remote/remote_server.h"
#include "remote/remote_window.h"
#include "rules/rules_window.h"
#include "shell/file_controls.h"
#include "shell/main_window.h"
#include "shell/stored_fields.h"
#include "shell/tray_window.h"

namespace qv {

TRoster::TRoster(Platform& platform) : platform_(platform), fileControls_(std::make_unique<TFileControls>()) {
    // Each creation runs to its end before the next: the tray exists when the main window starts
    // up, and the main window is filled before the others read their own settings.
    tray_ = std::make_unique<TQuorvaneTray>(*this);
    mapping_ = std::make_unique<TQuorvaneMapping>(*this);
    about_ = std::make_unique<TAbout>(*this);
    remote_ = std::make_unique<TQuorvaneRemote>(*this);
    mappingPlus_ = std::make_unique<TQuorvaneMappingPlus>(*this);
    update_ = std::make_unique<TQuorvaneUpdate>(*this);
    unlock_ = std::make_unique<TQuorvaneMappingUnlock>(*this);
    lock_ = std::make_unique<TQuorvaneMappingLock>(*this);
    changesNews_ = std::make_unique<TQuorvaneChangesNews>(*this);
    settings_ = std::make_unique<TQuorvaneSettings>(*this);
    connections_ = std::make_unique<TConnectionsForm>(*this);
    mappingRules_ = std::make_unique<TMappingRulesForm>(*this);
    // Queued on the tray window, the last to go: a roster that ends before the message loop runs
    // drops what was held back.
    QMetaObject::invokeMethod(
        tray_.get(), [this] { RunStartSteps(); }, Qt::QueuedConnection);
}

const TStoredFields& TRoster::StoredFields() const {
    if (!storedFields_)
        storedFields_ = std::make_unique<TStoredFields>(*this);
    return *storedFields_;
}

TRoster::~TRoster() {
    ending_ = true;
    // The main window's ending steps may report an error in a box: they run while every window
    // still exists, and the windows then go without opening anything.
    if (mapping_)
        mapping_->EndOfProgram();
    settings_.reset();
    changesNews_.reset();
    lock_.reset();
    unlock_.reset();
    update_.reset();
    mappingPlus_.reset();
    remote_.reset();
    about_.reset();
    mapping_.reset();
    tray_.reset();
}

void TRoster::RunCreation(const std::function<void()>& formCreate) {
    Catching(formCreate,
             [this](const QString& text) { AfterStart([this, text] { ReportError(platform_, text); }); });
}

void TRoster::AfterStart(std::function<void()> step) {
    if (started_)
        Guarded(platform_, step);
    else
        startSteps_.push_back(std::move(step));
}

void TRoster::RunStartSteps() {
    started_ = true;
    for (const std::function<void()>& step : std::exchange(startSteps_, {}))
        Guarded(platform_, step);
}

std::string TRoster::WritableFile(const char* name) const {
    return QFile::encodeName(platform_.WritableDir()).toStdString() + name;
}
std::string TRoster::DataFile(const char* name) const {
    return QFile::encodeName(platform_.DataDir()).toStdString() + name;
}

std::string TRoster::ConfigPath() const {
    return WritableFile(kConfigFileName);
}
std::string TRoster::LogPath() const {
    return WritableFile(kLogFileName);
}

} // namespace qv

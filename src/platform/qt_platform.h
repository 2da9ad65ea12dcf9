#pragma once

#include <QMessageBox>
#include <QPointer>
#include <map>
#include <utility>
#include <vector>

#include "platform/autostart_folder.h"
#include "platform/file_locations.h"
#include "platform/platform.h"

class QDialog;
class QFileDialog;
class QSystemTrayIcon;

namespace qv {

// The platform layer of the running program, on Qt Widgets.
class QtPlatform : public Platform {
public:
    explicit QtPlatform(const FileLocations& locations);
    ~QtPlatform() override;

    void SetAppTitle(const QString& title) override { appTitle_ = title; }
    QString AppTitle() const override { return appTitle_; }

    void Notice(const QString& text) override;
    bool Question(const QString& text) override;
    void Information(const QString& text) override;
    Answer Confirm(const QString& title, const QString& text) override;
    void Error(const QString& title, const QString& text) override;
    void ErrorWithDetail(const QString& title, const QString& text, const QString& detail) override;
    void Beep() override;
    void BeginEnding() override;

    void ShowModal(QWidget* window) override;

    QString OpenFileName(QWidget* owner) override;
    QString SaveFileName(QWidget* owner) override;
    QString SaveTableFileName(QWidget* owner, const QString& suggested) override;
    std::optional<QColor> ChooseColor(QWidget* owner, const QColor& initial) override;

    void OpenUrl(const QString& url) override;
    void StartDetached(const QString& program, const QStringList& arguments) override;
    void Sleep(int milliseconds) override;
    void EndApplication() override;

    QString ExecutablePath() const override;
    QString WritableDir() const override;
    QString DataDir() const override;

    void SetTaskbarVisible(bool visible) override { taskbarVisible_ = visible; }
    bool TaskbarVisible() const override { return taskbarVisible_; }

    bool TrayAvailable() const override;
    void AddTrayIcon(const TrayIconRecord& record) override;
    void DeleteTrayIcon(const TrayIconRecord& record) override;
    void PopupTrayMenu(QMenu* menu) override;

    std::string ReadAutostartEntry(const std::string& name) const override { return autostart_.Read(name); }
    bool WriteAutostartEntry(const std::string& name, const std::string& text) override {
        return autostart_.Write(name, text);
    }
    void DeleteAutostartEntry(const std::string& name) override { autostart_.Delete(name); }
    LibraryCall CallLibraryProcedure(const QString& path, const char* symbol) override;
    std::optional<MemoryStatus> MemoryFigures() const override { return ReadMemoryStatus(); }
    std::optional<std::uint64_t> CycleCounter() const override { return ReadCycleCounter(); }

private:
    // Shows a box and waits for its answer; once the end has begun, its text goes to standard
    // error instead and the answer is NoButton.
    QMessageBox::StandardButton Box(QMessageBox::Icon icon, const QString& title, const QString& text,
                                    QMessageBox::StandardButtons buttons, const QString& detail);
    QMessageBox::StandardButton Box(QMessageBox::Icon icon, const QString& title, const QString& text,
                                    QMessageBox::StandardButtons buttons);
    // Runs a dialog modally while it is on the list the ending closes; its result code.
    int Exec(QDialog& dialog);
    // The chosen file of a configuration file dialog, which is deleted afterwards.
    QString ChosenFile(QFileDialog* dialog);

    bool ending_ = false;
    // Boxes, dialogs and modally shown windows that are up now, the innermost last.
    std::vector<QPointer<QWidget>> modals_;
    AutostartFolder autostart_{UserAutostartDirectory()};
    QString appTitle_;
    FileLocations locations_;
    bool taskbarVisible_ = false;
    // Icons by window and id; each icon is a child of its window, so it never outlives it.
    std::map<std::pair<const QWidget*, int>, QPointer<QSystemTrayIcon>> trayIcons_;
};

} // namespace qv

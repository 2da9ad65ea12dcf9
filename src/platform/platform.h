#pragma once

#include <QColor>
#include <QIcon>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <string>

#include "platform/system_figures.h"

class QMenu;
class QWidget;

namespace qv {

// Kinds of message boxes the program shows; tests script answers by kind.
enum class BoxKind {
    Notice,       // plain notice: application title, OK, no icon
    Question,     // Yes/No, question icon, "Quorvane Question"
    Information,  // OK, information icon, "Quorvane Information"
    Confirmation, // Yes/No/Cancel with a caller's title
    Error,        // error box with a caller's title (the general error report)
};

enum class Answer { Ok, Yes, No, Cancel };

inline constexpr const char* kQuestionTitle = "Quorvane Question";
inline constexpr const char* kInformationTitle = "Quorvane Information";

// Mouse events of the tray icon, numbered as the desktop reports them; the layer delivers only
// these two.
enum class TrayMouse { LeftButtonDown = 513, RightButtonDown = 516 };

// The tray icon as a window hands it to the desktop. The window keeps it for the whole run:
// deleting the icon names the same window and id.
struct TrayIconRecord {
    static constexpr int kMessageValid = 1, kIconValid = 2, kTipValid = 4;
    QWidget* window = nullptr;
    int id = 1;
    int flags = kMessageValid | kIconValid | kTipValid;
    int callbackMessage = 1024 + 100;
    QIcon icon;
    QString tip;
    // Receives (callbackMessage, mouse event) while kMessageValid is set.
    std::function<void(int message, TrayMouse mouse)> callback;
};

// What became of a call into a dynamically loaded library.
struct LibraryCall {
    enum Outcome { Called, NotALibrary, LoadFailed, SymbolMissing };
    Outcome outcome = Called;
    QString detail; // the loader's own message when the call did not happen
};

// Everything the windows need from the desktop. The program uses QtPlatform; tests use a scripted
// fake. Windows receive it at construction and never show a box or dialog of their own.
class Platform {
public:
    virtual ~Platform() = default;

    // Title of plain notices and of the application; a language file may replace it.
    virtual void SetAppTitle(const QString& title) = 0;
    virtual QString AppTitle() const = 0;

    virtual void Notice(const QString& text) = 0;
    virtual bool Question(const QString& text) = 0; // true when answered Yes
    virtual void Information(const QString& text) = 0;
    virtual Answer Confirm(const QString& title, const QString& text) = 0;
    virtual void Error(const QString& title, const QString& text) = 0;
    // The same box with a longer text behind its "Show Details..." button.
    virtual void ErrorWithDetail(const QString& title, const QString& text, const QString& detail) = 0;
    virtual void Beep() = 0;
    // The process is ending and nobody may be waited for (a service manager's stop, the session
    // ending): boxes and dialogs already open are closed unanswered, and from now on a box writes
    // its text to standard error and answers No (Cancel) without waiting.
    virtual void BeginEnding() = 0;

    // Shows a window modally: every other window is disabled until it is hidden again.
    virtual void ShowModal(QWidget* window) = 0;

    // File dialogs for configuration files; empty text when the user cancels.
    virtual QString OpenFileName(QWidget* owner) = 0;
    virtual QString SaveFileName(QWidget* owner) = 0;
    // A comma-separated table to write ("*.csv"), starting from the file `suggested` (a full path); the
    // chooser asks before replacing a file.
    virtual QString SaveTableFileName(QWidget* owner, const QString& suggested) = 0;
    virtual std::optional<QColor> ChooseColor(QWidget* owner, const QColor& initial) = 0;

    virtual void OpenUrl(const QString& url) = 0;
    virtual void StartDetached(const QString& program, const QStringList& arguments) = 0;
    // Blocks the calling thread (the restart's wait before starting the new instance).
    virtual void Sleep(int milliseconds) = 0;
    // Leaves the message loop once control returns to it; the windows are destroyed afterwards.
    virtual void EndApplication() = 0;

    // Where files are, decided once per start (platform/file_locations.h).
    // The executable as started, links kept (/usr/bin/quorvane when started through that link):
    // what the restart starts and what the autostart entry's Exec names.
    virtual QString ExecutablePath() const = 0;
    // Folder of the files the program writes (DataQRVN.qrvd, CLogs.txt, DataQRVNServ.qrvd):
    // beside the executable when writable, else the per-user folder. Ends with a separator.
    virtual QString WritableDir() const = 0;
    // Folder of the read-only data beside the real executable (language plug-in and files,
    // Changes.txt, News.txt). Ends with a separator.
    virtual QString DataDir() const = 0;

    // The application's taskbar entry; on Linux it is the main window's own entry, kept as
    // state the windows can ask for.
    virtual void SetTaskbarVisible(bool visible) = 0;
    virtual bool TaskbarVisible() const = 0;

    // Whether the desktop has a notification area at all; without one the icon counts as off.
    virtual bool TrayAvailable() const = 0;
    // Adding an icon that is already there leaves the one icon as it is; deleting one that is
    // not there is harmless.
    virtual void AddTrayIcon(const TrayIconRecord& record) = 0;
    virtual void DeleteTrayIcon(const TrayIconRecord& record) = 0;
    // Pops the icon's menu up at the mouse cursor.
    virtual void PopupTrayMenu(QMenu* menu) = 0;

    // The user's autostart entries, by name: "Quorvane" is the entry the desktop starts at log-on.
    // Reading gives the entry's text, empty when there is none.
    virtual std::string ReadAutostartEntry(const std::string& name) const = 0;
    // Replaces the entry as a whole; false, with the old entry untouched, when it cannot be written.
    virtual bool WriteAutostartEntry(const std::string& name, const std::string& text) = 0;
    // A missing entry, or one that cannot be removed, is no error.
    virtual void DeleteAutostartEntry(const std::string& name) = 0;

    // Loads the library at this full path, calls its procedure (no arguments, no result) on the
    // calling thread and unloads the library once the call has returned.
    virtual LibraryCall CallLibraryProcedure(const QString& path, const char* symbol) = 0;
    // Physical memory figures; nullopt when the system does not tell them.
    virtual std::optional<MemoryStatus> MemoryFigures() const = 0;
    // The processor's cycle counter; callable from any thread. nullopt where none can be read.
    virtual std::optional<std::uint64_t> CycleCounter() const = 0;
};

} // namespace qv

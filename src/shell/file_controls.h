#pragma once

#include <QAction>
#include <QPointer>
#include <QPushButton>
#include <array>

namespace qv {

// The Load and Save controls of the three windows that store fields (the main window with its File
// menu items, the advanced options and the remote settings), and every rule that switches them.
// Each window registers its controls as it is built; until then a rule passes it by.
class TFileControls {
public:
    enum Window { kMain, kAdvanced, kRemote };
    struct Controls {
        QPointer<QPushButton> load;
        QPointer<QPushButton> save;
        QPointer<QAction> loadItem; // the main window's File menu only
        QPointer<QAction> saveItem;
    };

    void Register(Window window, const Controls& controls) { controls_[window] = controls; }
    // The main window's "Save Configuration As...", "Load Configuration From..." and "Load a older
    // configuration" items.
    void RegisterFileItems(const std::array<QAction*, 3>& items);

    // An unsaved change in a window: its Load and Save come on, and the main window's.
    void Changed(Window window);
    // A window's fields equal the file again: its Load and Save go off, and the main window's.
    void MatchFile(Window window);
    // A secondary window wrote its own fields: its own Load and Save go off.
    void SavedHere(Window window);
    // A window's load asks its question meanwhile: its Load is off, and back on when declined.
    void SetLoad(Window window, bool enabled);

    // The main window's save: every control goes off and every Save button is shown again.
    void SavedAll();
    // The main window's load: as a save, but its Load item stays available.
    void LoadedAll();
    // The whole configuration equals the file beside the executable.
    void MatchFileAll();
    // A save under another name: every Save goes off, and the secondary windows' Load.
    void SavedAs();
    // Loaded from another file: unsaved until saved beside the executable, so everything comes on.
    void LoadedElsewhere();
    // While a file command asks and works, its items are off.
    void SetFileItemsEnabled(bool enabled);
    // An older configuration was read: the secondary windows may load the current file but have
    // nothing of their own to save; the main window has.
    void LoadedOlder();

private:
    void Set(Window window, bool load, bool save);
    void ShowSecondarySaves();

    std::array<Controls, 3> controls_{};
    std::array<QPointer<QAction>, 3> fileItems_{};
};

} // namespace qv

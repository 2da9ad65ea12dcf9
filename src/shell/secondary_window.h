#pragma once

#include <QAction>
#include <QKeyEvent>
#include <QMainWindow>
#include <QStatusBar>

namespace qv {

class Platform;
class TRoster;

// The vendor's web site: "Upgrades" and the About window's link open it.
inline constexpr const char* kVendorPage = "https://www.quorvane.example/";

// Help, "About": the tray's "About" stays disabled while the About window is up.
void ShowAboutWindow(TRoster& roster);
// Help, "Upgrades": the vendor's page in the desktop's browser.
void OpenVendorPage(Platform& platform);

// A window of fixed size, centred on the desktop, with only the close box; created once at start
// and then shown (modally) and hidden, never created again.
class SecondaryWindow : public QMainWindow {
    Q_OBJECT
public:
    SecondaryWindow(TRoster& roster, const char* className, const char* caption, QSize size);

    // The menu items every secondary window has.
    struct StandardMenu {
        QAction* exit1 = nullptr;     // File, "Close": closes (hides) the window
        QAction* about2 = nullptr;    // Help, "About" (Ctrl+A)
        QAction* checkfor1 = nullptr; // Help, "Upgrades"
        QAction* help1 = nullptr;     // Help, "Help": always disabled
    };

protected:
    // Escape does what the window's own "Close" does (nothing while that item is disabled).
    void keyPressEvent(QKeyEvent* event) override;

    // "File: Close / Help: About, Upgrades, Help" with their hints, wired to their actions; the
    // images of the main window's image list only where the window shows them.
    StandardMenu BuildStandardMenu(bool withImages);
    // StatusBar1: one simple panel showing the long part of the hint under the mouse.
    QStatusBar* BuildHintStatusBar();

    TRoster& roster_;

private:
    QAction* closeItem_ = nullptr; // File, "Close", once the menu is built
};

} // namespace qv

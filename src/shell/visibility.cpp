#include "shell/visibility.h"

#include <QAction>
#include <QMenu>

#include "connections/connections_window.h"
#include "platform/platform.h"
#include "shell/main_window.h"
#include "shell/roster.h"
#include "shell/tray_window.h"

namespace qv {

void ShowingSequence(TRoster& roster) {
    TQuorvaneMapping& mapping = roster.Mapping();
    TQuorvaneTray& tray = roster.Tray();
    tray.Show()->setEnabled(false);
    mapping.setWindowState(Qt::WindowMaximized);
    mapping.show();
    mapping.activateWindow();
    roster.platform().SetTaskbarVisible(true);
    tray.Minimize()->setEnabled(true);
    mapping.Minimize2()->setEnabled(true);
}

void HidingSequence(TRoster& roster) {
    TQuorvaneMapping& mapping = roster.Mapping();
    TQuorvaneTray& tray = roster.Tray();
    tray.Minimize()->setEnabled(false);
    mapping.Minimize2()->setEnabled(false);
    roster.platform().SetTaskbarVisible(false);
    mapping.hide();
    mapping.setWindowState(Qt::WindowMinimized);
    tray.Show()->setEnabled(true);
    tray.PopupMenu1()->setDefaultAction(tray.Show());
}

void ShowForAnotherStart(TRoster& roster) {
    QAction* show = roster.Tray().Show();
    if (show->isEnabled()) {
        show->trigger();
        return;
    }
    TQuorvaneMapping& window = roster.Mapping();
    if (window.isMinimized())
        window.showMaximized();
    window.raise();
    window.activateWindow();
}

void ShowConnectionsWindow(TRoster& roster) {
    TConnectionsForm& window = roster.Connections();
    window.show();
    window.raise();
    window.activateWindow();
}

} // namespace qv

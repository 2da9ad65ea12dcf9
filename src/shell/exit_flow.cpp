#include "shell/exit_flow.h"

#include <QAction>
#include <array>

#include "platform/platform.h"
#include "shell/main_window.h"
#include "shell/roster.h"
#include "shell/tray_window.h"

namespace qv {

void RunExitFlow(TRoster& roster, EndKind kind) {
    Platform& platform = roster.platform();
    TQuorvaneMapping& mapping = roster.Mapping();
    TQuorvaneTray& tray = roster.Tray();
    // Both menus' Exit and Restart stay disabled while the boxes are up, so the command cannot be
    // started a second time from the other menu.
    const std::array<QAction*, 4> items = {mapping.Exit1(), tray.Exit(), mapping.Restart1(), tray.Restart()};
    for (QAction* item : items)
        item->setEnabled(false);
    if (mapping.SaveIni()->isEnabled())
        platform.Information(QStringLiteral("You are leaving without saving!"));

    const bool exit = kind == EndKind::Exit;
    QAction* ownItem = exit ? mapping.Exit1() : mapping.Restart1();
    if (platform.Question(exit ? QStringLiteral("Are you sure want to exit?")
                               : QStringLiteral("Are you sure want to restart?"))) {
        tray.close();
        if (!exit) {
            // The new instance must find the ports free and the switched-on mappings noted, so the
            // mappings stop and the end's steps run before it starts, not after.
            mapping.EndOfProgram();
            platform.Sleep(1000);
            roster.ReleaseForRestart();
            platform.StartDetached(platform.ExecutablePath(), {QStringLiteral("-copy")});
        }
    } else {
        ownItem->setEnabled(true);
    }
    // The item that was chosen stays disabled after a Yes: the program is ending.
    for (QAction* item : items)
        if (item != ownItem)
            item->setEnabled(true);
}

} // namespace qv

#pragma once

namespace qv {

class TRoster;

enum class EndKind { Exit, Restart };

// Exit and Restart, the same flow from the File menu, the tray menu and the main window's close.
// Yes closes the tray window, which ends the program; Restart then starts it again with "-copy".
void RunExitFlow(TRoster& roster, EndKind kind);

} // namespace qv

#pragma once

namespace qv {

class TRoster;

// Brings the main window back maximized from the tray (tray "Show", left click, tray "About").
void ShowingSequence(TRoster& roster);
// Sends the main window into the tray (tray "Minimize", File "Minimize", the lock).
void HidingSequence(TRoster& roster);
// Options "Connections" and the tray's "Connections": the connections window comes up (it is no modal
// window: the main window stays usable beside it).
void ShowConnectionsWindow(TRoster& roster);
// Another start of the same configuration asked for the window: as the tray's "Show" when the
// window is in the tray, else brought to the front.
void ShowForAnotherStart(TRoster& roster);

} // namespace qv

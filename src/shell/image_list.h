#pragma once

#include <QIcon>

namespace qv {

// ImageList1: the menu images of the main window, the tray menu and the advanced options window,
// by their index. An index without an image gives an empty icon.
QIcon ImageListIcon(int index);

// The program's own 32 by 32 icon, used as the icon of every window and of the tray.
QIcon ProgramIcon();

} // namespace qv

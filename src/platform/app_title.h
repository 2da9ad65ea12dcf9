#pragma once

namespace qv {
// Title of the application, of its plain notice boxes and of the main and tray windows.
inline constexpr const char* kAppTitle = "Quorvane - Internet Port Mapping";
// The version text the main window holds and --version prints.
inline constexpr const char* kVersionText = "1.3 Build 47 07 11 2002";
} // namespace qv

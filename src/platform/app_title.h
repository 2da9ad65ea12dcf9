#pragma once

namespace qv {
// Title of the application, of its plain notice boxes and of the main and tray windows.
inline constexpr const char* kAppTitle = "Quorvane - Internet Port Mapping";
} // namespace qv

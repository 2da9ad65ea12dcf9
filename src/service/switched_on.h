#pragma once

#include <array>
#include <string>

namespace qv {

// Which of the six mapping slots were switched on when the program last ended, kept in the
// settings section (a key per slot, absent when off), and the settings switch that has a start
// switch them back on. Versions without these keys ignore them.
inline constexpr const char* kRestoreMappingsKey = "RestoreMappings";
inline constexpr const char* kRestoreMappingsWord = "Restore";

// Writes the states that differ from the file's as one change of it; throws WriteError.
void StoreSwitchedOn(const std::string& path, const std::array<bool, 6>& on);
bool WasSwitchedOn(const std::string& path, int slot);
bool RestoreMappingsAtStart(const std::string& path);

} // namespace qv

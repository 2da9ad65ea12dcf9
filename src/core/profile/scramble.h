#pragma once

#include <string>
#include <string_view>

namespace qv {

// Shift keys, kept as their decimal texts; ScrambleText and UnscrambleText convert them.
inline constexpr const char* kMappingDataShiftKey = "118";
inline constexpr const char* kLQRVNLShiftKey = "118";
inline constexpr const char* kCLLogsSaveShiftKey = "103";
inline constexpr const char* kTrayIconShiftKey = "124";
inline constexpr const char* kWindowsStateShiftKey = "109";
inline constexpr const char* kQRVNLanguageShiftKey = "107";
inline constexpr const char* kRestoreMappingsShiftKey = "131";
inline constexpr const char* kSwitchedOnShiftKey = "151";
inline constexpr const char* kRulesShiftKey = "137";

// Adds the shift key to every byte, modulo 256. Same length; nothing skipped.
// Throws std::invalid_argument ("'%s' is not a valid integer value") for a shift key that is no integer.
std::string ScrambleText(std::string_view text, std::string_view shiftKey);
// The inverse of ScrambleText under the same shift key.
std::string UnscrambleText(std::string_view text, std::string_view shiftKey);

} // namespace qv

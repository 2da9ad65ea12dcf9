#pragma once

#include <string>

namespace qv {

class Platform;

inline constexpr const char* kOldFileNotice =
    "It is a old file (The new file is encrypted for more security). Error loading the configuration "
    "file.\r\n"
    "This file version is not 2.0, or the file is empty.\r\n"
    "If it is a old configuration click (File - Load a older configuration) to open that file.\r\n"
    "When you have openned your old file save and overwrite on that file.";
inline constexpr const char* kMissingFileNotice =
    "The file DataQRVN.qrvd in your application directory do not exist.";
inline constexpr const char* kReplaceWithOldQuestion =
    "Are you sure remplace your current settings with the old configuration?";
inline constexpr const char* kReplaceQuestion =
    "Are you sure remplace your current settings with the configuration?";

// A configuration file too large to be one of the program's own: the notice naming it and the limit,
// and true; the file is left as it is.
bool NoticeIfTooLarge(Platform& platform, const std::string& path);

// What a reader finds at a configuration path.
enum class ConfigFileState { Missing, Old, Current };
ConfigFileState StateOfConfigFile(const std::string& path);

// Before a load from the configuration beside the executable: a missing file or one without the
// current version marker gets the beep and its notice, and false.
bool CheckLoadable(Platform& platform, const std::string& path);
// The same for a file the user chose: a missing file counts as an old one.
bool CheckCurrentVersion(Platform& platform, const std::string& path);

} // namespace qv

#pragma once

#include <string>

namespace qv {

// The key holding the chosen language file's name, in section QuorvaneDataMapping.
inline constexpr const char* kLanguageKey = "QRVNLanguage";
// How language files are named; the chooser lists the files of the executable's folder so named.
inline constexpr const char* kLanguageFileSuffix = ".lng";

// The chosen language file's name as stored (unscrambled); empty when none is chosen or the
// configuration file is missing.
std::string ChosenLanguageFile(const std::string& configPath);

// Stores the choice (an empty name: the built-in captions) in one whole-file write; a missing
// configuration file is created with the current version marker, so the next start reads it.
// Throws WriteError when the file cannot be written.
void StoreLanguageChoice(const std::string& configPath, const std::string& fileName);

// A name that stays inside the executable's folder: no directory part, not "." or "..".
bool IsBareFileName(const std::string& name);

} // namespace qv

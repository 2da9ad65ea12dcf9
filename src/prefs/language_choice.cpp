#include "prefs/language_choice.h"

#include <filesystem>
#include <system_error>

#include "core/profile/config_names.h"
#include "core/profile/profile_file.h"
#include "core/profile/scramble.h"
#include "core/profile/version_marker.h"

namespace qv {

std::string ChosenLanguageFile(const std::string& configPath) {
    return UnscrambleText(ReadString(configPath, kMappingSection, kLanguageKey), kQRVNLanguageShiftKey);
}

void StoreLanguageChoice(const std::string& configPath, const std::string& fileName) {
    ProfileBatch batch(configPath);
    std::error_code error;
    if (!std::filesystem::exists(configPath, error))
        WriteVersionMarker(batch);
    batch.Write(kMappingSection, kLanguageKey, ScrambleText(fileName, kQRVNLanguageShiftKey));
    batch.Commit();
}

bool IsBareFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

} // namespace qv

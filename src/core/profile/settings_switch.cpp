#include "core/profile/settings_switch.h"

#include "core/profile/config_names.h"
#include "core/profile/profile_file.h"
#include "core/profile/scramble.h"

namespace qv {

bool IsSwitchOn(const std::string& path, const char* key, const char* word, const char* shiftKey) {
    return UnscrambleText(ReadString(path, kSettingsSection, key), shiftKey) == word;
}

void SetSwitch(const std::string& path, const char* key, const char* word, const char* shiftKey, bool on) {
    if (on)
        WriteString(path, kSettingsSection, key, ScrambleText(word, shiftKey));
    else
        DeleteKey(path, kSettingsSection, key);
}

} // namespace qv

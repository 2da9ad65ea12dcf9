#include "service/switched_on.h"

#include "core/profile/config_names.h"
#include "core/profile/profile_file.h"
#include "core/profile/scramble.h"
#include "core/profile/settings_switch.h"

namespace qv {

namespace {
constexpr const char* kWord = "On";

std::string Key(int slot) {
    return "SwitchedOn" + std::to_string(slot);
}
} // namespace

void StoreSwitchedOn(const std::string& path, const std::array<bool, 6>& on) {
    // Only what differs from the file is written: an end with nothing changed leaves it alone.
    ProfileBatch batch(path);
    for (int slot = 1; slot <= 6; ++slot) {
        if (on[slot - 1] == WasSwitchedOn(path, slot))
            continue;
        if (on[slot - 1])
            batch.Write(kSettingsSection, Key(slot), ScrambleText(kWord, kSwitchedOnShiftKey));
        else
            batch.Delete(kSettingsSection, Key(slot));
    }
    batch.Commit();
}

bool WasSwitchedOn(const std::string& path, int slot) {
    return IsSwitchOn(path, Key(slot).c_str(), kWord, kSwitchedOnShiftKey);
}

bool RestoreMappingsAtStart(const std::string& path) {
    return IsSwitchOn(path, kRestoreMappingsKey, kRestoreMappingsWord, kRestoreMappingsShiftKey);
}

} // namespace qv

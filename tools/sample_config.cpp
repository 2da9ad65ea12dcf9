// Writes a configuration file as the program stores it, for the pictures and for trying the
// program out: sample_config FILE [IN OUT HOST]... fills slots 1, 2, ... in order, with saving
// of the connection list switched on. An incoming port written "+PORT" marks its slot as switched
// on when the program last ended, so a start with restoring (or the headless mode) switches it on.
#include <cstdio>
#include <string>

#include "core/profile/config_names.h"
#include "core/profile/profile_file.h"
#include "core/profile/scramble.h"
#include "core/profile/settings_switch.h"
#include "core/profile/version_marker.h"

int main(int argc, char** argv) {
    if (argc < 2 || (argc - 2) % 3 != 0 || (argc - 2) / 3 > 6) {
        std::fprintf(stderr, "usage: %s FILE [INCOMING-PORT OUTGOING-PORT OUTGOING-HOST]...\n", argv[0]);
        return 2;
    }
    const std::string path = argv[1];
    try {
        qv::ProfileBatch batch(path);
        qv::WriteVersionMarker(batch);
        for (int slot = 1; 2 + 3 * slot <= argc; ++slot) {
            const std::string suffix = slot == 1 ? "" : std::to_string(slot);
            const char* const* field = argv + 2 + 3 * (slot - 1);
            const char* names[] = {"IncommingPort", "OutcommingPort", "OutcommingIp"};
            const bool on = field[0][0] == '+';
            for (int i = 0; i < 3; ++i)
                batch.Write(qv::kMappingSection, names[i] + suffix,
                            qv::ScrambleText(field[i] + (i == 0 && on ? 1 : 0), qv::kMappingDataShiftKey));
            const std::string onKey = "SwitchedOn" + std::to_string(slot);
            if (on)
                batch.Write(qv::kSettingsSection, onKey, qv::ScrambleText("On", qv::kSwitchedOnShiftKey));
            else
                batch.Delete(qv::kSettingsSection, onKey);
        }
        batch.Commit();
        qv::SetSwitch(path, "CLLogsSave", "Save", qv::kCLLogsSaveShiftKey, true);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}

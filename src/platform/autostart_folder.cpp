#include "platform/autostart_folder.h"

#include <filesystem>
#include <system_error>
#include <unistd.h>

#include "core/profile/atomic_file.h"
#include "platform/file_locations.h"

namespace qv {

std::string UserAutostartDirectory() {
    return UserConfigDir() + "autostart/";
}

AutostartFolder::AutostartFolder(std::string directory) : directory_(WithSlash(std::move(directory))) {}

std::string AutostartFolder::Read(const std::string& name) const {
    std::string text;
    ReadWholeFile(EntryPath(name), text);
    return text;
}

bool AutostartFolder::Write(const std::string& name, const std::string& text) const {
    std::error_code error;
    std::filesystem::create_directories(directory_, error);
    if (error)
        return false;
    return ReplaceFileAtomically(EntryPath(name), text);
}

void AutostartFolder::Delete(const std::string& name) const {
    ::unlink(EntryPath(name).c_str());
}

} // namespace qv

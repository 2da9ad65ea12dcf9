#include "platform/autostart_folder.h"

#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <system_error>
#include <unistd.h>

#include "core/profile/atomic_file.h"

namespace qv {

namespace {
std::string HomeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir)
        return entry->pw_dir;
    return "/";
}

std::string WithSeparator(std::string path) {
    if (path.empty() || path.back() != '/')
        path += '/';
    return path;
}
} // namespace

std::string UserAutostartDirectory() {
    // A relative value is invalid and must be ignored, as the base-directory rules say.
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    const std::string base = configHome && configHome[0] == '/' ? std::string(configHome)
                                                                : WithSeparator(HomeDirectory()) + ".config";
    return WithSeparator(base) + "autostart/";
}

AutostartFolder::AutostartFolder(std::string directory) : directory_(WithSeparator(std::move(directory))) {}

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

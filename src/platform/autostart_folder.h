#pragma once

#include <string>

namespace qv {

// The folder of the user's autostart entries: $XDG_CONFIG_HOME/autostart, or ~/.config/autostart
// when the variable is unset, empty or not an absolute path. Ends with a separator.
std::string UserAutostartDirectory();

// Autostart entries as files "<name>.desktop" in one folder.
class AutostartFolder {
public:
    explicit AutostartFolder(std::string directory);

    const std::string& Directory() const { return directory_; }
    std::string EntryPath(const std::string& name) const { return directory_ + name + ".desktop"; }

    // The entry's text; empty when it is missing or unreadable.
    std::string Read(const std::string& name) const;
    // Creates the folder when needed and replaces the entry in one step; false when refused.
    bool Write(const std::string& name, const std::string& text) const;
    void Delete(const std::string& name) const;

private:
    std::string directory_;
};

} // namespace qv

#pragma once

#include <string>

namespace qv {

// Where the program's files are. Decided once per start (LocateFiles in main) and handed to the
// platform layer; everything else asks the platform, never the file system, where a file goes.
struct FileLocations {
    // The executable as it was started, made absolute but with symbolic links kept: the name to
    // start it by again (restart) and the autostart entry's Exec (/usr/bin/quorvane, not the
    // private path behind that link).
    std::string launchPath;
    // Folder of the real executable, links followed, with a trailing '/': read-only data
    // (language plug-in, language files, Changes.txt, News.txt).
    std::string dataDir;
    // Folder of the files the program writes (DataQRVN.qrvd, CLogs.txt, DataQRVNServ.qrvd), with a
    // trailing '/': dataDir when the program may write there and it is not under /usr, else the
    // per-user folder.
    std::string writableDir;
    // True when writableDir is the per-user folder.
    bool perUser = false;
};

// What the decision depends on, gathered from the process and its environment.
struct LaunchFacts {
    std::string argv0;          // as the program was started
    std::string realExecutable; // /proc/self/exe
    std::string workingDir;     // current directory at start
    std::string pathVariable;   // $PATH, to find a bare argv0 as the shell did
    std::string xdgConfigHome;  // $XDG_CONFIG_HOME, may be empty
    std::string home;           // $HOME, or the password database's home
};

// The decision itself. Creates the per-user folder (mode 0700) when it is chosen; a failure to
// create it shows later as "Unable to write to ..." on the first save.
FileLocations DecideFileLocations(const LaunchFacts& facts);

// Facts of the running process, then the decision.
FileLocations LocateFiles(const char* argv0);

// The writable files' folder of a program whose read-only data lies in `dataDir`, decided as
// LocateFiles decides, with this process's environment. For code that knows only its own folder
// (the language plug-in).
std::string WritableDirFor(const std::string& dataDir);

// Whether this process may create files in a folder: the kernel's own answer for the effective
// user (mode bits, ACLs, read-only mounts, the immutable flag).
bool DirIsWritable(const std::string& dir);

// The user's configuration folder, with a trailing '/': $XDG_CONFIG_HOME when that is an absolute path,
// else <home>/.config/. Without arguments, this process's, from its environment.
std::string UserConfigDir(const std::string& xdgConfigHome, const std::string& home);
std::string UserConfigDir();

// Name of the per-user folder: quorvane/ in the user's configuration folder.
std::string PerUserDir(const std::string& xdgConfigHome, const std::string& home);

// dir with a trailing '/'.
std::string WithSlash(std::string dir);

} // namespace qv

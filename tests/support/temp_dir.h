#pragma once
#include <filesystem>
#include <string>

namespace qvtest {

// A fresh folder under the system's temporary directory, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    // Path of a file inside the folder, as text.
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Whole contents of a file as bytes; empty when it cannot be read.
std::string ReadAll(const std::string& path);
// Replaces a file with exactly these bytes.
void WriteAll(const std::string& path, const std::string& bytes);

} // namespace qvtest

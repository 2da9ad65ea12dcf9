#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qv {

// A value read from a profile file is cut to this many bytes, as a reader with a 2048-byte buffer does.
inline constexpr size_t kMaxProfileValueLength = 2047;

// A profile file larger than this is neither read nor changed: the program writes a few kilobytes, so a
// file this large is not one of its own, and parsing it would stall every reader.
inline constexpr size_t kMaxProfileFileSize = 8 * 1024 * 1024;
// True when the file at path is larger than kMaxProfileFileSize.
bool ProfileFileTooLarge(const std::string& path);

// What keeps the file at path from being read as a profile: empty for a readable plain file with
// something in it, else "it is a directory", "it is not a regular file", "it is empty" or the
// system's reason.
std::string ProfileFileProblem(const std::string& path);

// A profile file could not be written; what() is "Unable to write to <path>".
class WriteError : public std::runtime_error {
public:
    explicit WriteError(const std::string& path);
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// The value of the key, at most kMaxProfileValueLength bytes; empty when the file, the section or the
// key does not exist or the file cannot be read or is too large. Never throws. The file is parsed once
// for as long as it stays unchanged, however many keys are read.
std::string ReadString(const std::string& path, std::string_view section, std::string_view key);
// As ReadString, but the whole value however long: for the program's own lists, which may be long.
std::string ReadWholeString(const std::string& path, std::string_view section, std::string_view key);

// Stores the value (any bytes) under the key, creating the file, section and key as needed. The file is
// replaced as a whole: on failure it is left exactly as it was and WriteError is thrown.
void WriteString(const std::string& path, std::string_view section, std::string_view key,
                 std::string_view value);

// Removes the key. A missing file, section or key, or a file that cannot be written, is no error.
void DeleteKey(const std::string& path, std::string_view section, std::string_view key);

// Several changes that reach the file together as one new file, so a failure leaves none of them.
class ProfileBatch {
public:
    explicit ProfileBatch(std::string path) : path_(std::move(path)) {}

    const std::string& Path() const { return path_; }
    ProfileBatch& Write(std::string_view section, std::string_view key, std::string_view value);
    ProfileBatch& Delete(std::string_view section, std::string_view key);
    // Applies the changes, in the order given, to the file as it is now; throws WriteError on failure.
    // The batch is empty again afterwards, whatever the outcome. An empty batch touches nothing.
    void Commit();

private:
    struct Change {
        std::string section;
        std::string key;
        std::string value;
        bool remove = false;
    };
    std::string path_;
    std::vector<Change> changes_;
};

// Writes several keys of one section as one new file; throws WriteError on failure.
void WriteStrings(const std::string& path, std::string_view section,
                  const std::vector<std::pair<std::string, std::string>>& keyValues);

} // namespace qv

#include "core/profile/profile_file.h"

#include "core/profile/atomic_file.h"
#include "core/profile/profile_document.h"

#include <cerrno>
#include <mutex>

namespace qv {
namespace {

// Two threads changing the same file must not each start from the old text and lose the other's change.
std::mutex& FileChangeMutex() {
    static std::mutex mutex;
    return mutex;
}

// The file as it is now; a missing file is an empty one. False when a file is there but cannot be
// read: changing it then would throw away what it holds.
bool LoadDocument(const std::string& path, ProfileDocument& document) {
    std::string bytes;
    const int error = ReadWholeFile(path, bytes);
    document = ProfileDocument::Parse(bytes);
    return error == 0 || error == ENOENT;
}

} // namespace

WriteError::WriteError(const std::string& path)
    : std::runtime_error("Unable to write to " + path), path_(path) {}

std::string ReadString(const std::string& path, std::string_view section, std::string_view key) {
    try {
        ProfileDocument document;
        LoadDocument(path, document);
        std::optional<std::string> value = document.Value(section, key);
        if (!value)
            return {};
        if (value->size() > kMaxProfileValueLength)
            value->resize(kMaxProfileValueLength);
        return std::move(*value);
    } catch (...) {
        // Reading never fails: a file too large for memory reads as empty like any unreadable one.
        return {};
    }
}

void WriteString(const std::string& path, std::string_view section, std::string_view key,
                 std::string_view value) {
    ProfileBatch(path).Write(section, key, value).Commit();
}

void DeleteKey(const std::string& path, std::string_view section, std::string_view key) {
    try {
        std::lock_guard<std::mutex> lock(FileChangeMutex());
        ProfileDocument document;
        if (LoadDocument(path, document) && document.Remove(section, key))
            ReplaceFileAtomically(path, document.Serialise());
    } catch (...) {
        // A key that cannot be deleted stays; the caller goes on.
    }
}

ProfileBatch& ProfileBatch::Write(std::string_view section, std::string_view key, std::string_view value) {
    changes_.push_back({std::string(section), std::string(key), std::string(value), false});
    return *this;
}

ProfileBatch& ProfileBatch::Delete(std::string_view section, std::string_view key) {
    changes_.push_back({std::string(section), std::string(key), {}, true});
    return *this;
}

void ProfileBatch::Commit() {
    std::vector<Change> changes;
    changes.swap(changes_);
    if (changes.empty())
        return;
    bool written = false;
    try {
        std::lock_guard<std::mutex> lock(FileChangeMutex());
        ProfileDocument document;
        if (LoadDocument(path_, document)) {
            for (const Change& change : changes) {
                if (change.remove)
                    document.Remove(change.section, change.key);
                else
                    document.Set(change.section, change.key, change.value);
            }
            written = ReplaceFileAtomically(path_, document.Serialise());
        }
    } catch (const std::exception&) {
        written = false; // out of memory: the file stays as it was
    }
    if (!written)
        throw WriteError(path_);
}

void WriteStrings(const std::string& path, std::string_view section,
                  const std::vector<std::pair<std::string, std::string>>& keyValues) {
    ProfileBatch batch(path);
    for (const auto& [key, value] : keyValues)
        batch.Write(section, key, value);
    batch.Commit();
}

} // namespace qv

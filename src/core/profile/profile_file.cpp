#include "core/profile/profile_file.h"

#include "core/profile/atomic_file.h"
#include "core/profile/profile_document.h"
#include "core/profile/temporary_files.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace qv {
namespace {

// Two threads changing the same file must not each start from the old text and lose the other's change.
std::mutex& FileChangeMutex() {
    static std::mutex mutex;
    return mutex;
}

// What stat tells of a file's contents. Changes made here always put a new file in place; an edit in
// place by another program changes the size or the times.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};
    bool operator==(const FileStamp& o) const {
        return device == o.device && inode == o.inode && size == o.size &&
               modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
               changed.tv_sec == o.changed.tv_sec && changed.tv_nsec == o.changed.tv_nsec;
    }
};

bool StampOf(const std::string& path, FileStamp& stamp) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return false;
    stamp = {info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
    return true;
}

// The last file parsed, reused while it is unchanged: a start-up, a load or a save reads dozens of keys
// and must not parse the file for each.
struct ParsedFile {
    std::string path;
    FileStamp stamp;
    std::shared_ptr<const ProfileDocument> document;
};
std::mutex cacheMutex;
ParsedFile cache;

void Remember(const std::string& path, const FileStamp& stamp,
              std::shared_ptr<const ProfileDocument> document) {
    std::lock_guard lock(cacheMutex);
    cache = {path, stamp, std::move(document)};
}

// File times tick coarsely: a file changed in place within the same tick as the stamp was taken would
// look unchanged. Only a file whose last change is older than that is remembered.
bool Settled(const FileStamp& stamp) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const long long ageNs =
        (now.tv_sec - stamp.changed.tv_sec) * 1000000000LL + (now.tv_nsec - stamp.changed.tv_nsec);
    return ageNs > 50000000LL;
}

// The file as it is now; a missing file is an empty one. error is 0 or ENOENT when the document is the
// file's, EFBIG when the file is larger than kMaxProfileFileSize, another errno when it cannot be read:
// changing it then would throw away what it holds.
std::shared_ptr<const ProfileDocument> LoadDocument(const std::string& path, int& error) {
    // The first look at a file in this process, at start, clears away what a save killed midway left.
    RemoveStaleTemporaryFilesOnce(path);
    FileStamp stamp;
    if (!StampOf(path, stamp)) {
        error = errno;
        return std::make_shared<const ProfileDocument>();
    }
    {
        std::lock_guard lock(cacheMutex);
        if (cache.document && cache.path == path && cache.stamp == stamp) {
            error = 0;
            return cache.document;
        }
    }
    std::string bytes;
    error = ReadWholeFile(path, bytes, kMaxProfileFileSize);
    auto document = std::make_shared<const ProfileDocument>(ProfileDocument::Parse(bytes));
    if (error == 0 && Settled(stamp))
        Remember(path, stamp, document);
    return document;
}

bool Changeable(int error) {
    return error == 0 || error == ENOENT;
}

// Writes the changed document as the new file and remembers it parsed afresh, as the next read will want;
// the new file is a new inode, so it cannot be mistaken for the one before.
bool Store(const std::string& path, const ProfileDocument& document) {
    const std::string bytes = document.Serialise();
    if (!ReplaceFileAtomically(path, bytes))
        return false;
    FileStamp stamp;
    if (StampOf(path, stamp))
        Remember(path, stamp, std::make_shared<const ProfileDocument>(ProfileDocument::Parse(bytes)));
    return true;
}

} // namespace

bool ProfileFileTooLarge(const std::string& path) {
    FileStamp stamp;
    return StampOf(path, stamp) && static_cast<unsigned long long>(stamp.size) > kMaxProfileFileSize;
}

std::string ProfileFileProblem(const std::string& path) {
    // Opened, not only looked at, so that a file this user may not read says so; non-blocking, so
    // that a pipe given as the file cannot hold the reader up.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return std::strerror(errno);
    struct stat info {};
    const int error = ::fstat(fd, &info) == 0 ? 0 : errno;
    ::close(fd);
    if (error != 0)
        return std::strerror(error);
    if (S_ISDIR(info.st_mode))
        return "it is a directory";
    if (!S_ISREG(info.st_mode))
        return "it is not a regular file";
    return info.st_size == 0 ? "it is empty" : "";
}

WriteError::WriteError(const std::string& path)
    : std::runtime_error("Unable to write to " + path), path_(path) {}

std::string ReadWholeString(const std::string& path, std::string_view section, std::string_view key) {
    try {
        int error = 0;
        const auto document = LoadDocument(path, error);
        return document->Value(section, key).value_or(std::string());
    } catch (...) {
        // Reading never fails: a file too large for memory reads as empty like any unreadable one.
        return {};
    }
}

std::string ReadString(const std::string& path, std::string_view section, std::string_view key) {
    std::string value = ReadWholeString(path, section, key);
    if (value.size() > kMaxProfileValueLength)
        value.resize(kMaxProfileValueLength);
    return value;
}

void WriteString(const std::string& path, std::string_view section, std::string_view key,
                 std::string_view value) {
    ProfileBatch(path).Write(section, key, value).Commit();
}

void DeleteKey(const std::string& path, std::string_view section, std::string_view key) {
    try {
        std::lock_guard<std::mutex> lock(FileChangeMutex());
        int error = 0;
        ProfileDocument document = *LoadDocument(path, error);
        if (Changeable(error) && document.Remove(section, key))
            Store(path, document);
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
        int error = 0;
        ProfileDocument document = *LoadDocument(path_, error);
        if (Changeable(error)) {
            for (const Change& change : changes) {
                if (change.remove)
                    document.Remove(change.section, change.key);
                else
                    document.Set(change.section, change.key, change.value);
            }
            written = Store(path_, document);
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

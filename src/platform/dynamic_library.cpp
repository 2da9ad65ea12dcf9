#include "platform/dynamic_library.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace qv {

namespace {
QString LoaderMessage() {
    const char* message = dlerror();
    return message ? QString::fromLocal8Bit(message) : QString();
}

// Unloads on every path out, also when the procedure throws.
class LoadedLibrary {
public:
    explicit LoadedLibrary(void* handle) : handle_(handle) {}
    ~LoadedLibrary() {
        if (handle_)
            dlclose(handle_);
    }
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;
    void* Get() const { return handle_; }

private:
    void* handle_;
};

class OpenFile {
public:
    explicit OpenFile(int fd) : fd_(fd) {}
    ~OpenFile() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

bool ReadAt(int fd, void* into, size_t size, off_t offset) {
    auto* bytes = static_cast<char*>(into);
    while (size > 0) {
        const ssize_t got = ::pread(fd, bytes, size, offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        bytes += got;
        size -= static_cast<size_t>(got);
        offset += got;
    }
    return true;
}

// Whether [offset, offset + length) lies within a file of `size` bytes.
bool Within(unsigned long long offset, unsigned long long length, unsigned long long size) {
    return offset <= size && length <= size - offset;
}

#if __SIZEOF_POINTER__ == 8
constexpr unsigned char kNativeClass = ELFCLASS64;
#else
constexpr unsigned char kNativeClass = ELFCLASS32;
#endif
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr unsigned char kNativeData = ELFDATA2LSB;
#else
constexpr unsigned char kNativeData = ELFDATA2MSB;
#endif

// Why the file cannot be handed to the loader, or empty when it can. The loader maps the file parts of
// the segments its program headers name and touches them: a page past the end of a cut file kills the
// whole process (SIGBUS), and opening a pipe waits for a writer for ever. So only a regular file is
// opened, without waiting, and only one whose ELF header, program headers and segments all lie within it.
std::string UnloadableReason(const char* path) {
    struct stat named {};
    if (::stat(path, &named) != 0)
        return std::strerror(errno);
    if (!S_ISREG(named.st_mode))
        return "not a regular file";
    const OpenFile file(::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat opened {};
    if (file.Get() < 0 || ::fstat(file.Get(), &opened) != 0)
        return std::strerror(errno);
    if (!S_ISREG(opened.st_mode) || opened.st_ino != named.st_ino || opened.st_dev != named.st_dev)
        return "the file changed while it was checked";
    const auto size = static_cast<unsigned long long>(opened.st_size);

    ElfW(Ehdr) header{};
    if (!ReadAt(file.Get(), &header, sizeof header, 0) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0)
        return "no ELF header";
    if (header.e_ident[EI_CLASS] != kNativeClass || header.e_ident[EI_DATA] != kNativeData ||
        header.e_type != ET_DYN)
        return "not a shared object of this system";
    if (header.e_phentsize != sizeof(ElfW(Phdr)) || header.e_phnum == 0 ||
        !Within(header.e_phoff, 1ULL * header.e_phnum * sizeof(ElfW(Phdr)), size))
        return "program headers beyond the end of the file";
    std::vector<ElfW(Phdr)> segments(header.e_phnum);
    if (!ReadAt(file.Get(), segments.data(), segments.size() * sizeof(ElfW(Phdr)),
                static_cast<off_t>(header.e_phoff)))
        return "program headers unreadable";
    for (const ElfW(Phdr) & segment : segments)
        if (!Within(segment.p_offset, segment.p_filesz, size))
            return "a segment lies beyond the end of the file: the file is cut short";
    return {};
}
} // namespace

LibraryCall CallLibraryProcedureAt(const QString& path, const char* symbol) {
    const QByteArray name = QFile::encodeName(path);
    const std::string reason = UnloadableReason(name.constData());
    if (!reason.empty())
        return {LibraryCall::NotALibrary, QString::fromLocal8Bit(reason.c_str())};
    dlerror();
    // Loaded by its name, not through the descriptor checked above: a library that looks up where it
    // was loaded from (dladdr) must see its own folder. Local binding keeps the library's symbols from
    // standing in for the program's own.
    LoadedLibrary library(dlopen(name.constData(), RTLD_NOW | RTLD_LOCAL));
    if (!library.Get())
        return {LibraryCall::LoadFailed, LoaderMessage()};
    dlerror();
    void* address = dlsym(library.Get(), symbol);
    if (!address)
        return {LibraryCall::SymbolMissing, LoaderMessage()};
    using Procedure = void (*)();
    reinterpret_cast<Procedure>(address)();
    return {LibraryCall::Called, QString()};
}

} // namespace qv

#include "platform/dynamic_library.h"

#include <QFile>
#include <dlfcn.h>

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
} // namespace

LibraryCall CallLibraryProcedureAt(const QString& path, const char* symbol) {
    dlerror();
    // Local binding keeps the library's symbols from standing in for the program's own.
    LoadedLibrary library(dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL));
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

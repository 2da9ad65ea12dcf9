#pragma once

#include "platform/platform.h"

namespace qv {

// Loads the shared object at this full path, looks the procedure up, calls it and unloads the
// object again. Nothing is called when the object does not load or lacks the procedure. A file that is
// no regular file, or whose ELF headers or segments do not lie within it (cut short), is not handed to
// the loader at all: NotALibrary, with the reason as detail.
LibraryCall CallLibraryProcedureAt(const QString& path, const char* symbol);

} // namespace qv

#pragma once

#include "platform/platform.h"

namespace qv {

// Loads the shared object at this full path, looks the procedure up, calls it and unloads the
// object again. Nothing is called when the object does not load or lacks the procedure.
LibraryCall CallLibraryProcedureAt(const QString& path, const char* symbol);

} // namespace qv

#pragma once

#include <string>

namespace qv {

// Name of a new temporary file beside target that this process writes before it takes target's place:
// "<target>.tmp<pid>-<n>-<attempt>", so that whoever finds it later can tell whether its writer lives.
std::string TemporaryNameFor(const std::string& target, int attempt);

// Removes the temporary files beside target whose writer has died before it could rename them (a
// process killed while it saved): each is a whole copy of the file, secrets included. Files of a running
// process are left alone, as one of them may be about to take target's place; so are files of this very
// process once it has begun writing any.
void RemoveStaleTemporaryFiles(const std::string& target);

// The same for the file at the end of path's links, the first time this process asks for that path.
void RemoveStaleTemporaryFilesOnce(const std::string& path);

} // namespace qv

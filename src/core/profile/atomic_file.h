#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qv {

// Replaces the file at path with exactly these bytes, all or nothing: the bytes go to a new file beside
// it (owner-only until then), reach the disk, and then take the old file's place in one rename. An
// existing file keeps its permission bits. A symbolic link, or a chain of them, stays as it is: the file
// at its end is the one replaced, in its own folder, or created when the last link dangles.
// Returns false (the old file untouched, no temporary file left) when any step fails; errno tells why.
bool ReplaceFileAtomically(const std::string& path, std::string_view bytes);

// Reads the whole file into bytes. Returns 0, or the errno of the failure with bytes empty; something
// other than a regular file at path gives EINVAL (a pipe or device is never waited on), a file of more
// than maxSize bytes EFBIG.
int ReadWholeFile(const std::string& path, std::string& bytes, size_t maxSize = static_cast<size_t>(-1));

} // namespace qv

#pragma once

#include <string>

namespace qv {

class ProfileBatch;

// True when the file's version marker is the current one, compared as stored (scrambled) bytes.
// A missing file, an empty file or a missing or other marker are all false.
bool IsCurrentVersion(const std::string& path);

// Writes the current version marker; throws WriteError when the file cannot be written.
void WriteVersionMarker(const std::string& path);
// Adds the current version marker to a batch of changes written together.
void WriteVersionMarker(ProfileBatch& batch);

} // namespace qv

#pragma once

#include <string>

namespace qv {

// A switch of section QuorvaneDataSettings: on is its word scrambled with its shift key, off is the
// key's absence; any other stored value reads as off.
bool IsSwitchOn(const std::string& path, const char* key, const char* word, const char* shiftKey);
// Writes the word (throws WriteError) or deletes the key (silently, as deleting does).
void SetSwitch(const std::string& path, const char* key, const char* word, const char* shiftKey, bool on);

} // namespace qv

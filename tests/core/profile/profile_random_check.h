#pragma once

#include <string>
#include <string_view>

namespace qvtest {

// Reads an arbitrary profile text, changes one key and reads it again. Returns an empty text when the
// reader kept its promises (a parse gives back the same bytes, the written value reads back exactly,
// every other probed key reads as before, a removed key is gone); otherwise what went wrong.
// The fuzz target and the randomized test share it.
std::string CheckProfileChange(std::string_view file, unsigned char selector, std::string_view value);

} // namespace qvtest

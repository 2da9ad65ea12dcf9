#pragma once

#include <string>
#include <utility>
#include <vector>

namespace qv {

// The shape of a profile file, which shows a copy stopped part-way: its sections in order, each with
// whether a key follows its header, and whether its last line ends with a line break.
struct ProfileOutline {
    std::vector<std::pair<std::string, bool>> sections;
    bool lineEnded = true;
};

// The outline of the file as it is now; that of an empty file when it cannot be read.
ProfileOutline ReadProfileOutline(const std::string& path);

} // namespace qv

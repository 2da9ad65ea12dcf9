#include "core/profile/profile_outline.h"

#include "core/profile/atomic_file.h"
#include "core/profile/profile_document.h"
#include "core/profile/profile_file.h"

namespace qv {

ProfileOutline ReadProfileOutline(const std::string& path) {
    std::string bytes;
    if (ReadWholeFile(path, bytes, kMaxProfileFileSize) != 0)
        return {};
    return ProfileDocument::Parse(bytes).Outline();
}

} // namespace qv

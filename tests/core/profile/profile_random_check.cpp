#include "core/profile/profile_random_check.h"

#include "core/profile/profile_document.h"

#include <optional>

namespace qvtest {
namespace {

// Names the random files are built from, so that lookups hit as often as they miss.
constexpr const char* kSections[] = {"S", "s", "T", "Long Name"};
constexpr const char* kKeys[] = {"k", "K", "x", "VQRVNV"};

// Entries 0 and 1 of both lists differ only in letter case, so they name the same thing.
bool SameName(int a, int b) {
    return a == b || (a < 2 && b < 2);
}

} // namespace

std::string CheckProfileChange(std::string_view file, unsigned char selector, std::string_view value) {
    qv::ProfileDocument document = qv::ProfileDocument::Parse(file);
    if (document.Serialise() != file)
        return "parse and serialise changed the bytes";

    std::optional<std::string> before[4][4];
    for (int s = 0; s < 4; ++s)
        for (int k = 0; k < 4; ++k)
            before[s][k] = document.Value(kSections[s], kKeys[k]);

    const int section = selector & 3;
    const int key = (selector >> 2) & 3;
    const bool remove = (selector & 0x10) != 0;
    if (remove)
        document.Remove(kSections[section], kKeys[key]);
    else
        document.Set(kSections[section], kKeys[key], value);

    const qv::ProfileDocument reread = qv::ProfileDocument::Parse(document.Serialise());
    for (int s = 0; s < 4; ++s) {
        for (int k = 0; k < 4; ++k) {
            const bool same = SameName(s, section) && SameName(k, key);
            const std::optional<std::string> after = reread.Value(kSections[s], kKeys[k]);
            if (same) {
                if (remove ? after.has_value() : after != std::string(value))
                    return remove ? "removed key still there" : "written value did not read back";
            } else if (after != before[s][k]) {
                return std::string("key [") + kSections[s] + "] " + kKeys[k] + " changed";
            }
        }
    }
    return {};
}

} // namespace qvtest

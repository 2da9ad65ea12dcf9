#include "core/profile/version_marker.h"

#include "core/profile/config_names.h"
#include "core/profile/profile_file.h"
#include "core/profile/scramble.h"

namespace qv {
namespace {

std::string ScrambledMarker() {
    return ScrambleText(kVersionMarkerText, kMappingDataShiftKey);
}

} // namespace

bool IsCurrentVersion(const std::string& path) {
    return ReadString(path, kMappingSection, kVersionKey) == ScrambledMarker();
}

void WriteVersionMarker(const std::string& path) {
    WriteString(path, kMappingSection, kVersionKey, ScrambledMarker());
}

void WriteVersionMarker(ProfileBatch& batch) {
    batch.Write(kMappingSection, kVersionKey, ScrambledMarker());
}

} // namespace qv

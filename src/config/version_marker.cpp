#include "config/version_marker.h"

#include "config/config_names.h"
#include "config/profile_file.h"
#include "config/scramble.h"

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

#pragma once

namespace qv {

// Sections of the configuration file.
inline constexpr const char* kMappingSection = "QuorvaneDataMapping";
inline constexpr const char* kRemoteSection = "QuorvaneDataRemoteMapping";
inline constexpr const char* kSettingsSection = "QuorvaneDataSettings";
// The rules of the mappings (who may connect, fallbacks, PROXY protocol); older versions ignore it.
inline constexpr const char* kRulesSection = "QuorvaneDataRules";

// The configuration file, in the folder of the files the program writes.
inline constexpr const char* kConfigFileName = "DataQRVN.qrvd";

// The version marker: key in kMappingSection and its plain (unscrambled) text.
inline constexpr const char* kVersionKey = "VQRVNV";
inline constexpr const char* kVersionMarkerText = "2.0";

} // namespace qv

#pragma once

#include <QString>
#include <array>
#include <string>

#include "service/mapping_service.h"

namespace qv {

// A mapping as the grid shows it and the configuration keeps it: three texts, and whether it was
// switched on when the window last ended.
struct StoredMapping {
    QString host;
    QString destinationPort;
    QString listenPort;
    bool switchedOn = false;

    bool operator==(const StoredMapping&) const = default;
};

// Key of a grid field in the mapping section, and the objectName of its edit: mapping 1 carries no
// digit ("IncommingPort"), the others end in theirs.
QString SlotFieldKey(const char* base, int slot);

// The six mappings of a configuration file; absent keys read as empty texts and switched off.
std::array<StoredMapping, TMappingService::kSlots> ReadStoredMappings(const std::string& path);

// What "Enable" checks before a mapping starts, in its order: the empty fields, then the numbers.
// Returns the notice that refuses the mapping, or an empty text with `target` filled in. Throws
// ConvertError for a port that is no number at all.
QString CheckMapping(int slot, const StoredMapping& texts, MappingTarget& target);

} // namespace qv

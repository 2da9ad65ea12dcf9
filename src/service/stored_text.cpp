#include "service/stored_text.h"

#include "core/profile/profile_file.h"

namespace qv {

QString ReadStoredText(const std::string& path, const char* section, const QString& key,
                       const char* shiftKey) {
    return Latin1Text(UnscrambleText(ReadString(path, section, Latin1Bytes(key)), shiftKey));
}

void WriteStoredText(ProfileBatch& batch, const char* section, const QString& key, const QString& text) {
    batch.Write(section, Latin1Bytes(key), ScrambleText(Latin1Bytes(text), kMappingDataShiftKey));
}

} // namespace qv

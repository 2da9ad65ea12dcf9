#pragma once

#include <QString>
#include <string>

#include "core/profile/scramble.h"

namespace qv {

class ProfileBatch;

// A field's text as the configuration keeps it: its Latin-1 bytes, scrambled. An absent key reads
// as the empty text.
QString ReadStoredText(const std::string& path, const char* section, const QString& key,
                       const char* shiftKey = kMappingDataShiftKey);
void WriteStoredText(ProfileBatch& batch, const char* section, const QString& key, const QString& text);

// Between widget texts and stored bytes: one byte per character both ways, so any byte survives.
inline std::string Latin1Bytes(const QString& text) {
    return text.toLatin1().toStdString();
}
inline QString Latin1Text(const std::string& bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

} // namespace qv

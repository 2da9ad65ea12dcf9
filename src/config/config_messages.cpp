#include "config/config_messages.h"

#include <QFile>
#include <QFileInfo>

#include "config/version_marker.h"
#include "platform/platform.h"

namespace qv {

bool CheckCurrentVersion(Platform& platform, const std::string& path) {
    if (IsCurrentVersion(path))
        return true;
    platform.Beep();
    platform.Notice(QString::fromLatin1(kOldFileNotice));
    return false;
}

bool CheckLoadable(Platform& platform, const std::string& path) {
    if (!QFileInfo::exists(QFile::decodeName(path.c_str()))) {
        platform.Beep();
        platform.Notice(QString::fromLatin1(kMissingFileNotice));
        return false;
    }
    return CheckCurrentVersion(platform, path);
}

} // namespace qv

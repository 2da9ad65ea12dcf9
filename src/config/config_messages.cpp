#include "config/config_messages.h"

#include <QFile>
#include <QFileInfo>

#include "core/profile/profile_file.h"
#include "core/profile/version_marker.h"
#include "platform/platform.h"

namespace qv {

ConfigFileState StateOfConfigFile(const std::string& path) {
    if (!QFileInfo::exists(QFile::decodeName(path.c_str())))
        return ConfigFileState::Missing;
    return IsCurrentVersion(path) ? ConfigFileState::Current : ConfigFileState::Old;
}

bool NoticeIfTooLarge(Platform& platform, const std::string& path) {
    if (!ProfileFileTooLarge(path))
        return false;
    platform.Notice(QStringLiteral("The configuration file %1 is larger than %2 bytes. It has not been read "
                                   "and is left as it is.")
                        .arg(QFile::decodeName(path.c_str()))
                        .arg(kMaxProfileFileSize));
    return true;
}

bool CheckCurrentVersion(Platform& platform, const std::string& path) {
    if (NoticeIfTooLarge(platform, path))
        return false;
    if (IsCurrentVersion(path))
        return true;
    platform.Beep();
    platform.Notice(QString::fromLatin1(kOldFileNotice));
    return false;
}

bool CheckLoadable(Platform& platform, const std::string& path) {
    if (StateOfConfigFile(path) == ConfigFileState::Missing) {
        platform.Beep();
        platform.Notice(QString::fromLatin1(kMissingFileNotice));
        return false;
    }
    return CheckCurrentVersion(platform, path);
}

} // namespace qv

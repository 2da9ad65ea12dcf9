#include <QApplication>
#include <QListWidget>

#include "log/connection_log.h"

#include "core/profile/config_names.h"
#include "core/profile/profile_file.h"
#include "core/profile/scramble.h"
#include "core/profile/version_marker.h"
#include "support/roster_fixture.h"

namespace qvtest {

QStringList RosterFixture::List() const {
    QStringList entries;
    const QListWidget* list = roster->Mapping().Log().ListCient();
    for (int i = 0; i < list->count(); ++i)
        entries << list->item(i)->text();
    return entries;
}

void RosterFixture::Store(const char* section, const char* key, const std::string& plain,
                          const char* shiftKey) const {
    qv::WriteString(ConfigPath(), section, key, qv::ScrambleText(plain, shiftKey));
}

void RosterFixture::StoreCurrentMarker() const {
    qv::WriteVersionMarker(ConfigPath());
}

} // namespace qvtest

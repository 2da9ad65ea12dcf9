#include <QApplication>

#include "config/config_names.h"
#include "config/profile_file.h"
#include "config/scramble.h"
#include "config/version_marker.h"
#include "support/roster_fixture.h"

namespace qvtest {

void RosterFixture::Store(const char* section, const char* key, const std::string& plain,
                          const char* shiftKey) const {
    qv::WriteString(ConfigPath(), section, key, qv::ScrambleText(plain, shiftKey));
}

void RosterFixture::StoreCurrentMarker() const { qv::WriteVersionMarker(ConfigPath()); }

} // namespace qvtest

#include "info/changes_news_window.h"

namespace qv {

TQuorvaneChangesNews::TQuorvaneChangesNews(TRoster& roster)
    : SecondaryWindow(roster, "TQuorvaneChangesNews", "Quorvane - Internet Port Mapping - Changes/News", QSize(713, 520)) {}

} // namespace qv

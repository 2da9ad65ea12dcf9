#pragma once

class QAction;

namespace qv {

class TRoster;

// "Options, Language": runs the language plug-in beside the executable, or says it is missing
// and offers its download. `language1` is the menu item, unusable while the boxes are up.
void RunLanguagePlugin(TRoster& roster, QAction* language1);

} // namespace qv

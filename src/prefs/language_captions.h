#pragma once

namespace qv {

class TRoster;

// The main window's Timer8, once per start: the captions of the language file chosen in the
// configuration. A missing configuration, no choice or a missing file changes nothing, silently.
void ApplyLanguageCaptions(TRoster& roster);

} // namespace qv

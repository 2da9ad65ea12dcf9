#pragma once

#include <string>

namespace qv {

// `quorvane --headless [--config FILE]`: the mappings of a configuration without any window, display
// or tray. Runs until SIGTERM or SIGINT; SIGHUP reads the file again. Returns the exit status: 1 when
// another instance runs the configuration or no mapping can run, else 0.
int RunHeadless(int argc, char** argv, const std::string& configOption);

} // namespace qv

#pragma once

#include <QString>
#include <QStringList>

namespace qv {

// What the command line asks for. The program takes no arguments of its own beyond the
// informational ones; "-copy" is what the restart passes and changes nothing.
struct CommandLine {
    bool run = true;   // start the program
    int exitCode = 0;  // when not run
    QString output;    // for standard output
    QString errors;    // for standard error
};

// Reads the arguments (program name first). Qt's own options must already be removed when
// the program is to run; unknown options and stray arguments give the usage on standard error
// and exit status 2.
CommandLine ParseCommandLine(const QStringList& arguments);

} // namespace qv

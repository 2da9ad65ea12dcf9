#pragma once

#include <QString>
#include <QStringList>

namespace qv {

// What the command line asks for: the windows, or with --headless the mappings alone (--config
// naming another configuration file); "-copy" is what the restart passes.
struct CommandLine {
    bool run = true; // start the program
    bool headless = false;
    bool copy = false;
    QString config;   // --config FILE, headless only
    int exitCode = 0; // when not run
    QString output;   // for standard output
    QString errors;   // for standard error
};

// Reads the arguments (program name first), the toolkit's own options already taken out; unknown
// options and stray arguments give the usage on standard error and exit status 2.
CommandLine ParseCommandLine(const QStringList& arguments);

// The arguments without the toolkit's own options (-platform offscreen, -style=fusion, -reverse,
// also spelt with two dashes), which its application object takes out itself. Lets the command
// line be judged before that object exists, as it needs a display.
QStringList WithoutToolkitOptions(const QStringList& arguments);

} // namespace qv

#include "shell/command_line.h"

#include <QCommandLineParser>
#include <QFileInfo>

#include "platform/app_title.h"

namespace qv {

namespace {
constexpr const char* kDescription = "Relays local TCP ports to other hosts and ports.";
} // namespace

CommandLine ParseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    // Single-dash words are whole options, so the restart's "-copy" is one option, not -c -o -p -y.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    QCommandLineOption copy(QStringLiteral("copy"), QStringLiteral("Started again by Restart."));
    copy.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(copy);

    // Qt names the program only once its application object exists; --help answers before.
    QString usage = parser.helpText();
    const QString name =
        arguments.isEmpty() ? QStringLiteral("quorvane") : QFileInfo(arguments.first()).fileName();
    usage.replace(0, usage.indexOf(QLatin1Char('\n')), QStringLiteral("Usage: %1 [options]").arg(name));

    CommandLine result;
    const bool parsed = parser.parse(arguments);
    QString problem = parser.errorText();
    if (parsed && !parser.positionalArguments().isEmpty())
        problem = QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().first());
    if (!problem.isEmpty()) {
        result.run = false;
        result.exitCode = 2;
        result.errors = problem + QLatin1Char('\n') + usage;
    } else if (parser.isSet(help)) {
        result.run = false;
        result.output = usage;
    } else if (parser.isSet(version)) {
        result.run = false;
        result.output =
            QStringLiteral("%1 %2\n").arg(QString::fromLatin1(kAppTitle), QString::fromLatin1(kVersionText));
    }
    return result;
}

} // namespace qv

#include "shell/command_line.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <algorithm>
#include <array>

#include "platform/app_title.h"

namespace qv {

namespace {
constexpr const char* kDescription = "Relays local TCP and UDP ports to other hosts and ports.";

// The toolkit's documented options, with the X11 ones: those followed by a value, those that stand
// alone, and those that carry their value after '='.
constexpr std::array kToolkitOptionsWithValue = {
    "platform",    "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
    "qwindowicon", "qwindowtitle",       "session",       "style",  "stylesheet",
    "display",     "geometry",           "title",         "icon",   "name",
    "visual"};
constexpr std::array kToolkitFlags = {"reverse", "widgetcount", "testability", "nograb", "dograb"};
constexpr std::array kToolkitOptionsWithEquals = {
    "style=", "stylesheet=", "qmljsdebugger=", "dialogs=", "fontengine="};

template <std::size_t N> bool Names(const std::array<const char*, N>& names, const QString& word) {
    return std::any_of(names.begin(), names.end(),
                       [&word](const char* name) { return word == QLatin1String(name); });
}
template <std::size_t N> bool Prefixes(const std::array<const char*, N>& prefixes, const QString& word) {
    return std::any_of(prefixes.begin(), prefixes.end(),
                       [&word](const char* prefix) { return word.startsWith(QLatin1String(prefix)); });
}
} // namespace

QStringList WithoutToolkitOptions(const QStringList& arguments) {
    QStringList kept;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        const bool option = i > 0 && argument.startsWith(QLatin1Char('-'));
        const QString word = argument.mid(argument.startsWith(QLatin1String("--")) ? 2 : 1);
        if (option && Names(kToolkitOptionsWithValue, word) && i + 1 < arguments.size())
            ++i;
        else if (!option || !(Names(kToolkitFlags, word) || Prefixes(kToolkitOptionsWithEquals, word)))
            kept << argument;
    }
    return kept;
}

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
    const QCommandLineOption headless(
        QStringLiteral("headless"),
        QStringLiteral("Run the mappings switched on in the configuration, without any window."));
    parser.addOption(headless);
    const QCommandLineOption config(QStringLiteral("config"),
                                    QStringLiteral("With --headless, the configuration file to run."),
                                    QStringLiteral("FILE"));
    parser.addOption(config);

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
    else if (parsed && parser.isSet(config) && !parser.isSet(headless))
        problem = QStringLiteral("--config goes with --headless.");
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
    result.headless = result.run && parser.isSet(headless);
    result.copy = result.run && parser.isSet(copy);
    result.config = parser.value(config);
    return result;
}

} // namespace qv

// The command line in Qt's conventions: --help, --version, and one optional folder.
#include "CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>

#include <cstdio>

namespace {

void print(std::FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

// The window system's options, which QApplication takes away later; here they must neither
// be refused nor mistaken for the folder.
QList<QCommandLineOption> qtOptions()
{
    QList<QCommandLineOption> options{
        QCommandLineOption(QStringLiteral("platform"), QStringLiteral("Qt's window system plugin."),
                           QStringLiteral("name")),
        QCommandLineOption(QStringLiteral("display"), QStringLiteral("The X display."), QStringLiteral("display"))};
    for (const char *name : {"platformpluginpath", "platformtheme", "plugin", "qwindowgeometry", "geometry",
                             "qwindowtitle", "title", "qwindowicon", "icon", "name", "visual", "style",
                             "stylesheet", "session", "qmljsdebugger"})
        options.append(QCommandLineOption(QString::fromLatin1(name), QString(), QStringLiteral("value")));
    for (const char *name : {"reverse", "widgetcount", "sync", "nograb", "dograb", "testability"})
        options.append(QCommandLineOption(QString::fromLatin1(name), QString()));
    for (QCommandLineOption &option : options)
        option.setFlags(QCommandLineOption::HiddenFromHelp);
    return options;
}

// Tells the parser what the program takes; returns Qt's options as --help-all names them.
QStringList describe(QCommandLineParser &parser)
{
    // Qt's own options are written with one dash (-platform offscreen), so "-platform" must
    // be one word and not the letters p, l, a, ...
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        QStringLiteral("Finds files of identical content below a folder and offers to move the "
                       "surplus copies to the trash."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(
        QStringLiteral("FOLDER"),
        QStringLiteral("The folder to look in; the search starts when you press \"Start now!\"."),
        QStringLiteral("[FOLDER]"));
    QStringList qtOptionNames;
    for (const QCommandLineOption &option : qtOptions()) {
        parser.addOption(option);
        qtOptionNames << QLatin1Char('-') + option.names().constFirst();
    }
    return qtOptionNames;
}

// Answered on the terminal: the program then ends with `exitCode` instead of opening its window.
CommandLine answered(int exitCode)
{
    CommandLine result;
    result.done = true;
    result.exitCode = exitCode;
    return result;
}

CommandLine refused(const QString &why)
{
    print(stderr, QStringLiteral("samelyn: %1\nTry 'samelyn --help'.\n").arg(why));
    return answered(1);
}

// Prints the help or the version when asked for; false when neither was.
bool answeredHelpOrVersion(const QCommandLineParser &parser, const QStringList &qtOptionNames)
{
    const bool all = parser.isSet(QStringLiteral("help-all"));
    if (all || parser.isSet(QStringLiteral("help"))) {
        print(stdout, parser.helpText());
        if (all)
            print(stdout, QStringLiteral("\nQt's options, see its documentation:\n  %1\n")
                              .arg(qtOptionNames.join(QLatin1Char(' '))));
        return true;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        print(stdout, QStringLiteral("%1 %2\n").arg(QCoreApplication::applicationName(),
                                                     QCoreApplication::applicationVersion()));
        return true;
    }
    return false;
}

} // namespace

CommandLine CommandLine::parse(const QStringList &arguments, const QString &currentFolder)
{
    QCommandLineParser parser;
    const QStringList qtOptionNames = describe(parser);
    if (!parser.parse(arguments))
        return refused(parser.errorText());
    if (answeredHelpOrVersion(parser, qtOptionNames))
        return answered(0);
    const QStringList folders = parser.positionalArguments();
    if (folders.size() > 1)
        return refused(QStringLiteral("give at most one folder"));

    CommandLine result;
    // Made absolute against where the program was started, and only tidied: a link in the
    // path is the user's way to name the folder, so it is not resolved.
    if (!folders.isEmpty() && !folders.constFirst().isEmpty())
        result.folder = QDir::cleanPath(QDir(currentFolder).absoluteFilePath(folders.constFirst()));
    result.platform = parser.value(QStringLiteral("platform"));
    result.display = parser.value(QStringLiteral("display"));
    return result;
}

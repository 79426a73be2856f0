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

} // namespace

CommandLine CommandLine::parse(const QStringList &arguments, const QString &currentFolder)
{
    QCommandLineParser parser;
    // Qt's own options are written with one dash (-platform offscreen), so "-platform" must
    // be one word and not the letters p, l, a, ...
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        QStringLiteral("Finds files of identical content below a folder and offers to move the "
                       "surplus copies to the trash."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("FOLDER"),
                                 QStringLiteral("The folder to look in; the search starts when you press \"Start now!\"."),
                                 QStringLiteral("[FOLDER]"));

    // The window system's options, which QApplication takes away later; here they must
    // neither be refused nor mistaken for the folder.
    QCommandLineOption platform(QStringLiteral("platform"), QStringLiteral("Qt's window system plugin."),
                                QStringLiteral("name"));
    QCommandLineOption display(QStringLiteral("display"), QStringLiteral("The X display."),
                               QStringLiteral("display"));
    QList<QCommandLineOption> qtOptions{platform, display};
    QStringList qtOptionNames;
    for (const char *name : {"platformpluginpath", "platformtheme", "plugin", "qwindowgeometry", "geometry",
                             "qwindowtitle", "title", "qwindowicon", "icon", "name", "visual", "style",
                             "stylesheet", "session", "qmljsdebugger"})
        qtOptions.append(QCommandLineOption(QString::fromLatin1(name), QString(), QStringLiteral("value")));
    for (const char *name : {"reverse", "widgetcount", "sync", "nograb", "dograb", "testability"})
        qtOptions.append(QCommandLineOption(QString::fromLatin1(name), QString()));
    for (QCommandLineOption &option : qtOptions) {
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
        qtOptionNames << QLatin1Char('-') + option.names().constFirst();
    }

    CommandLine result;
    if (!parser.parse(arguments)) {
        print(stderr, QStringLiteral("samelyn: %1\nTry 'samelyn --help'.\n").arg(parser.errorText()));
        result.done = true;
        result.exitCode = 1;
        return result;
    }
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        print(stdout, parser.helpText());
        if (parser.isSet(QStringLiteral("help-all")))
            print(stdout, QStringLiteral("\nQt's options, see its documentation:\n  %1\n").arg(qtOptionNames.join(QLatin1Char(' '))));
        result.done = true;
        return result;
    }
    if (parser.isSet(version)) {
        print(stdout, QStringLiteral("%1 %2\n").arg(QCoreApplication::applicationName(),
                                                     QCoreApplication::applicationVersion()));
        result.done = true;
        return result;
    }
    const QStringList folders = parser.positionalArguments();
    if (folders.size() > 1) {
        print(stderr, QStringLiteral("samelyn: give at most one folder\nTry 'samelyn --help'.\n"));
        result.done = true;
        result.exitCode = 1;
        return result;
    }
    // Made absolute against where the program was started, and only tidied: a link in the
    // path is the user's way to name the folder, so it is not resolved.
    if (!folders.isEmpty() && !folders.constFirst().isEmpty())
        result.folder = QDir::cleanPath(QDir(currentFolder).absoluteFilePath(folders.constFirst()));
    result.platform = parser.value(platform);
    result.display = parser.value(display);
    return result;
}

// Starts the program: the command line, then the window, which is all there is.
#include "CommandLine.h"
#include "DisplayCheck.h"
#include "SignalRelay.h"
#include "StartupMessages.h"
#include "Worker.h"
#include "frmFinderMain.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>

#include <cstdio>
#include <optional>
#include <unistd.h>

namespace {

void nameTheProgram()
{
    QCoreApplication::setApplicationName(QStringLiteral("Samelyn"));
    QCoreApplication::setApplicationVersion(QStringLiteral(SAMELYN_VERSION));
}

} // namespace

int main(int argc, char *argv[])
{
    CommandLine options;
    std::optional<DisplayCheck> display;
    {
        // Help, version and a missing display are answered without the window system, which
        // would abort the program when it finds no display.
        QCoreApplication terminal(argc, argv);
        nameTheProgram();
        options = CommandLine::parse(QCoreApplication::arguments(), QDir::currentPath());
        if (options.done)
            return options.exitCode;
        display.emplace(options.platform, options.display);
        if (const QString trouble = display->whyNot(); !trouble.isEmpty()) {
            std::fprintf(stderr, "samelyn: %s\n", trouble.toLocal8Bit().constData());
            return 1;
        }
    }

    // Until Qt has its own connection, the check's keeps an X server with no other client
    // from resetting under it; and a display that answered the check may still refuse Qt.
    std::optional<StartupMessages> startup(std::in_place);
    QApplication app(argc, argv);
    display.reset();
    startup.reset();
    nameTheProgram();
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Samelyn"));
    QGuiApplication::setDesktopFileName(QStringLiteral(SAMELYN_APP_ID));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/samelyn.svg")));

    try {
        int code = 0;
        {
            // Before the window makes its scratch folder: from then on a signal must not end
            // the program without removing it.
            SignalRelay relay;
            frmFinderMain window;
            relay.setWindow(&window);
            window.setFolderText(options.folder);
            window.show();
            code = QApplication::exec();
        }
        // A thread still held in a read of a drive that does not answer would keep the
        // program alive, or be cut off in the middle of the program's own ending.
        if (!Worker::waitForAll(100)) {
            std::fflush(nullptr);
            ::_exit(code);
        }
        return code;
    } catch (const std::exception &error) {
        // The window could not even be made (its scratch folder, say).
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Samelyn"),
                        QStringLiteral("Error: ") + QString::fromStdString(error.what()), QMessageBox::Ok);
        box.exec();
        return 1;
    }
}

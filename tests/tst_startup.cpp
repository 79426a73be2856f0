// Starting and ending the program: its command line, a missing or refusing display, and the
// signals that end it as closing the window does.
#include "CommandLine.h"
#include "SignalRelay.h"
#include "SystemTools.h"
#include "TestDir.h"
#include "WindowDriver.h"

#include <QDeadlineTimer>
#include <QDialog>
#include <QLineEdit>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <thread>
#include <vector>

namespace {

// Opened before main makes a root test process "nobody", who cannot pass the private folders
// (such as /root) that may hold the checkout; the descriptor still leads to the file, which
// anyone may run.
const int programFile = ::open(SAMELYN_BINARY, O_PATH | O_CLOEXEC);

QString program()
{
    return QStringLiteral("/proc/self/fd/%1").arg(programFile);
}

// The environment of a machine without any desktop session.
QProcessEnvironment headless()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "WAYLAND_SOCKET", "QT_QPA_PLATFORM", "XDG_SESSION_TYPE"})
        environment.remove(QString::fromLatin1(name));
    return environment;
}

// Cancels whatever box is still open, so that a relay that fails cannot hang the test.
// Returns whether there was one.
bool rejectDialogs()
{
    bool found = false;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *dialog = qobject_cast<QDialog *>(widget); dialog && dialog->isVisible()) {
            dialog->reject();
            found = true;
        }
    }
    return found;
}

} // namespace

class tst_startup : public QObject
{
    Q_OBJECT

private slots:
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("display");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");

        const QString version = QStringLiteral("^Samelyn " SAMELYN_VERSION "\n$");
        const QString oneLine = QStringLiteral("^samelyn: [^\n]+\n$");
        QTest::newRow("version") << QStringList{"--version"} << "" << 0 << version << "^$";
        QTest::newRow("help") << QStringList{"--help"} << "" << 0 << "\\[FOLDER\\]" << "^$";
        QTest::newRow("Qt's options are not the folder")
            << QStringList{"-platform", "offscreen", "-v"} << "" << 0 << version << "^$";
        QTest::newRow("no display") << QStringList{} << "" << 1 << "^$" << oneLine;
        QTest::newRow("no X server") << QStringList{"/"} << ":4711" << 1 << "^$" << oneLine;
        // Past the check, which leaves this plugin to Qt: Qt's failure, told in our words.
        QTest::newRow("no such window system")
            << QStringList{"-platform", "nosuch"} << "" << 1 << "^$" << "^samelyn: cannot open a window: [^\n]+\n$";
        QTest::newRow("two folders") << QStringList{"/", "/tmp"} << "" << 1 << "^$" << "^samelyn: ";
    }

    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, display);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, err);

        QProcessEnvironment environment = headless();
        if (!display.isEmpty())
            environment.insert(QStringLiteral("DISPLAY"), display);
        QProcess program;
        program.setProcessEnvironment(environment);
        program.start(::program(), arguments);
        QVERIFY(program.waitForFinished(30000));
        // Not aborted by Qt for want of a display: ended on its own, with its own word.
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), exitCode);
        QVERIFY2(QString::fromLocal8Bit(program.readAllStandardOutput()).contains(QRegularExpression(out)), qPrintable(out));
        const QString errors = QString::fromLocal8Bit(program.readAllStandardError());
        QVERIFY2(errors.contains(QRegularExpression(err)), qPrintable(errors));
    }

    void folderArgument_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("txtPath");

        QTest::newRow("none") << QStringList{} << "";
        QTest::newRow("relative") << QStringList{"Pictures/2024"} << "/home/ann/Pictures/2024";
        QTest::newRow("current folder") << QStringList{"."} << "/home/ann";
        QTest::newRow("parent, trailing slash") << QStringList{"../bob/"} << "/home/bob";
        QTest::newRow("absolute") << QStringList{"/srv/photos"} << "/srv/photos";
        QTest::newRow("after Qt's options") << QStringList{"-platform", "offscreen", "-reverse", "x"}
                                            << "/home/ann/x";
    }

    void folderArgument()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, txtPath);

        const CommandLine options
            = CommandLine::parse(QStringList{"samelyn"} + arguments, QStringLiteral("/home/ann"));
        QVERIFY(!options.done);
        frmFinderMain window;
        window.setFolderText(options.folder);
        QCOMPARE(control<QLineEdit>(window, "txtPath")->text(), txtPath);
        // The folder is only filled in: nothing was searched.
        QVERIFY(lines(window, "lstFiles").isEmpty());
        QVERIFY(!window.isRunning());
    }

    // Twenty starts, each on an X server with no other client, as under xinit or xvfb-run:
    // such a server resets as its last client leaves, and refuses whoever connects meanwhile.
    void startsOnAnXServerAlone()
    {
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (xvfb.isEmpty())
            QSKIP("Xvfb is not installed");
        // That moment is long enough to hit on a busy machine: every core is kept busy meanwhile.
        std::atomic_bool loaded = true;
        std::vector<std::jthread> load;
        for (int core = 0; core < QThread::idealThreadCount(); ++core)
            load.emplace_back([&] {
                while (loaded) {
                }
            });
        const auto unload = qScopeGuard([&] { loaded = false; });
        // A window is made, and a signal can close it, once its scratch folder is there.
        const QDir workspaces(qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/samelyn"));
        const auto windowMade = [&] { return !workspaces.entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty(); };
        QStringList failed;
        for (int start = 1; start <= 20; ++start) {
            // On an abstract socket only, it leaves nothing in /tmp once ended.
            QProcess server;
            server.start(xvfb, {"-displayfd", "1", "-nolisten", "tcp", "-nolisten", "unix"});
            const auto stopServer = qScopeGuard([&] {
                server.terminate();
                server.waitForFinished(30000);
            });
            while (!server.canReadLine() && server.waitForReadyRead(30000)) {
            }
            QVERIFY2(server.canReadLine(), server.readAllStandardError().constData());
            QProcessEnvironment environment = headless();
            environment.insert(QStringLiteral("DISPLAY"), QLatin1Char(':') + QString::fromLatin1(server.readLine().trimmed()));

            QProcess samelyn;
            samelyn.setProcessEnvironment(environment);
            samelyn.start(program());
            const QDeadlineTimer deadline(30000);
            while (!samelyn.waitForFinished(20) && !windowMade() && !deadline.hasExpired()) {
            }
            const bool opened = samelyn.state() == QProcess::Running && windowMade();
            if (opened) {
                ::kill(samelyn.processId(), SIGTERM);
                QVERIFY(samelyn.waitForFinished(30000));
            }
            const bool ended = samelyn.exitStatus() == QProcess::NormalExit;
            if (!opened || !ended || samelyn.exitCode() != 0) {
                failed << QStringLiteral("start %1: %2, %3 %4: %5")
                              .arg(start)
                              .arg(opened ? QStringLiteral("opened") : QStringLiteral("no window"),
                                   ended ? QStringLiteral("status") : QStringLiteral("crashed"))
                              .arg(ended ? samelyn.exitCode() : -1)
                              .arg(QString::fromLocal8Bit(samelyn.readAllStandardError()));
            }
        }
        QVERIFY2(failed.isEmpty(), qPrintable(failed.join(QLatin1Char('\n'))));
    }

    void signalClosesWindow_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<QString>("open");

        QTest::newRow("SIGTERM, message box") << int(SIGTERM) << "message box";
        QTest::newRow("SIGHUP, folder chooser") << int(SIGHUP) << "folder chooser";
        QTest::newRow("SIGINT, the window alone") << int(SIGINT) << "";
    }

    void signalClosesWindow()
    {
        QFETCH(int, signal);
        QFETCH(QString, open);

        TestDir dir;
        // The real boxes and chooser, as the program shows them.
        Messages::setHandler({});
        SystemTools::instance().setFolderChooser({});
        SignalRelay relay;
        frmFinderMain window;
        relay.setWindow(&window);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QString workFolder = window.state().WorkFolder;
        QVERIFY(QFileInfo(workFolder).isDir());

        bool raised = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            if (!raised && (open.isEmpty() || QApplication::activeModalWidget())) {
                raised = true;
                ::raise(signal);
            }
        });
        poll.start(10);
        bool rescued = false;
        QTimer::singleShot(10000, &poll, [&] { rescued = rejectDialogs(); });

        if (open == QLatin1String("message box")) {
            // An empty folder: the search ends at once with its "DONE!" box.
            window.setFolderText(dir.path());
            window.cmdStart_Click();
        } else if (open == QLatin1String("folder chooser")) {
            window.cmdBrowse1_Click();
        }
        QVERIFY2(!rescued, "the box stayed open");
        QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), 10000);
        QVERIFY(raised);
        QVERIFY(!QFileInfo::exists(workFolder));
        QVERIFY(!QApplication::activeModalWidget());
    }
};

SAMELYN_TEST_MAIN(tst_startup)
#include "tst_startup.moc"

// The window's smaller commands, driven by clicks: delete the proposed files, browse, show a line.
#include "Opener.h"
#include "SurplusCopies.h"
#include "SystemTools.h"
#include "TestDir.h"
#include "WindowDriver.h"

#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDirIterator>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScopeGuard>
#include <QApplication>
#include <QStandardPaths>
#include <QTimer>

#include <optional>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The path a trash's record of a file gives.
QString recordedPath(const QString &infoFile)
{
    const QByteArray record = contentOf(infoFile);
    const qsizetype at = record.indexOf("\nPath=") + 6;
    return QFile::decodeName(QByteArray::fromPercentEncoding(record.mid(at, record.indexOf('\n', at) - at)));
}

// The files in the trash by the full path their record gives, with their contents.
QMap<QString, QByteArray> trash()
{
    const QString folder =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Trash/");
    QMap<QString, QByteArray> files;
    for (const QString &info : QDir(folder + "info").entryList(QDir::Files | QDir::Hidden))
        files.insert(recordedPath(folder + "info/" + info), contentOf(folder + "files/" + info.chopped(10)));
    return files;
}

// Adds `proposed` to the files to delete, in a set that keeps `kept`, both as a search finds them.
void propose(SearchState &state, const QString &proposed, const QString &kept)
{
    const auto found = [&state](const QString &path) {
        struct stat st {};
        const QByteArray native = QFile::encodeName(path);
        ::lstat(native.constData(), &st);
        return state.Paths.add(native, FileId::of(st));
    };
    const PathStore::Id keptId = found(kept);
    state.CopySets.push_back({{keptId}, keptId});
    state.DestinedPairs.push_back({found(proposed), int(state.CopySets.size()) - 1});
    state.DestinedFiles.append(state.DestinedPairs.back().proposed);
}

bool writeTo(const char *path, const QByteArray &text)
{
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    const bool written = fd >= 0 && ::write(fd, text.constData(), size_t(text.size())) == text.size();
    return ::close(fd) == 0 && written;
}

// Enters a user and mount namespace of the process's own, where it may mount what only it
// sees, as root there or as itself. For a child process only: it changes the whole process.
bool enterOwnNamespaces(bool asRoot)
{
    const QByteArray uid = QByteArray::number(::geteuid()), gid = QByteArray::number(::getegid());
    return ::unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0 && writeTo("/proc/self/setgroups", "deny")
        && writeTo("/proc/self/uid_map", (asRoot ? "0" : uid) + ' ' + uid + " 1")
        && writeTo("/proc/self/gid_map", (asRoot ? "0" : gid) + ' ' + gid + " 1")
        && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

// Makes `path` another user's file as far as this process can tell: root gives it away; any
// other user becomes root in namespaces of its own and mounts a file of the real root's over
// it. False where the system allows neither. For a child process only.
bool makeAnotherUsers(const QString &path, const char *rootsFile)
{
    const QByteArray native = QFile::encodeName(path);
    if (::geteuid() == 0)
        return ::chown(native.constData(), 65534, 65534) == 0;
    return enterOwnNamespaces(true) && ::mount(rootsFile, native.constData(), nullptr, MS_BIND, nullptr) == 0;
}

// What becomes of `proposed` at a press of KILL once `prepare` has changed the world: its line
// with the reason it stayed or "moved" when it went, then what `look` tells afterwards; nothing
// when `prepare` fails, as where this system lets no test make the change. All of it happens
// in a child process, so that only the child sees the change.
std::optional<QString> killInChild(const QString &proposed, const QString &kept, const std::function<bool()> &prepare,
                                   const std::function<QString()> &look = {})
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return QStringLiteral("no pipe");
    const pid_t child = ::fork();
    if (child == 0) {
        if (!prepare())
            ::_exit(77);
        SearchState state;
        propose(state, proposed, kept);
        const KillReport report = removeSurplusCopies(state, [](const QString &, int) {}, [] {});
        QString outcome = report.stayedLines.value(0, QStringLiteral("moved"));
        if (look)
            outcome += '\n' + look();
        const QByteArray text = outcome.toUtf8();
        ::_exit(::write(ends[1], text.constData(), size_t(text.size())) == text.size() ? 0 : 1);
    }
    ::close(ends[1]);
    QByteArray text;
    char buffer[512];
    for (ssize_t got; (got = ::read(ends[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, got);
    ::close(ends[0]);
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return QStringLiteral("the child process failed");
    if (WEXITSTATUS(status) == 77)
        return std::nullopt;
    return QString::fromUtf8(text);
}

// Answers every request to open a file or its folder, as a desktop that can or cannot, and
// remembers it.
struct OpenerCatcher
{
    OpenerCatcher()
    {
        Opener::setHandler([this](Opener::Target target, const QString &path) {
            opened << (target == Opener::Target::File ? QStringLiteral("file ") : QStringLiteral("folder ")) + path;
            return works;
        });
    }
    ~OpenerCatcher() { Opener::setHandler({}); }
    OpenerCatcher(const OpenerCatcher &) = delete;
    OpenerCatcher &operator=(const OpenerCatcher &) = delete;

    QStringList opened;
    bool works = true;
};

// The menu up now, or nullptr.
QMenu *menuShown()
{
    return qobject_cast<QMenu *>(QApplication::activePopupWidget());
}

QStringList itemsOf(const QMenu *menu)
{
    QStringList texts;
    for (const QAction *action : menu->actions())
        texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
    return texts;
}

// The Menu key on a list as the desktop's platform delivers it (the headless one passes it on
// as a plain key).
QMenu *menuKey(QWidget *list)
{
    QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(5, 5), list->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(list, &event);
    return menuShown();
}

// A right-click on a line, through the window as the system delivers it.
QMenu *rightClick(frmFinderMain &window, const char *list, int row)
{
    auto *box = control<LineListBox>(window, list);
    const QPoint at = box->viewport()->mapTo(&window, box->rowRect(row).center());
    QTest::mouseClick(window.windowHandle(), Qt::RightButton, {}, at);
    return menuShown();
}

} // namespace

class tst_commands : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        frmFinderMain::setFatalHandler({});
        SystemTools::instance().setFolderChooser({});
        if (QMenu *menu = menuShown())
            menu->close();
    }

    void killMovesProposedFilesToTrash()
    {
        // 246 bytes: too long for the trash to keep with ".trashinfo" added, and three copies
        // share it, so the second and third need other names there too.
        const QString name = QString(80, QChar(0x6F22)) + QStringLiteral("ab.txt");
        QCOMPARE(QFile::encodeName(name).size(), 246);
        TestDir dir;
        const QStringList kept{dir.createFile(QStringLiteral("a1"), "alpha"),
                               dir.createFile(QStringLiteral("b1"), "bravo!"), dir.createFile("c", "c")};
        const QStringList surplus{dir.createFile("x/" + name, "alpha"), dir.createFile("y/" + name, "alpha"),
                                  dir.createFile("z/" + name, "bravo!")};
        const QMap<QString, QByteArray> trashBefore = trash();
        frmFinderMain window;
        QStringList focusAtBox;
        QList<bool> buttonsHeld; // at each KILL's box: no button may be pressed yet
        // At the fourth box, the second KILL's, the window is asked to close.
        MessageCatcher catcher([&](const QString &text) {
            focusAtBox << (QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString());
            if (text.startsWith("Okay!"))
                buttonsHeld << std::ranges::none_of(window.findChildren<QPushButton *>(), &QWidget::isEnabled);
            if (focusAtBox.size() == 4 && window.close())
                focusAtBox << "closed during KILL";
        });
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        // Before any search there is nothing to delete; the search below still finds every copy.
        click(window, "cmdKillDestined");
        startSearch(window, dir.path(), true);
        QCOMPARE(catcher.texts, (QStringList{"Okay!", "DONE!"}));
        QCOMPARE(lines(window, "lstDestined").join('|'), surplus.join('|').toLower());

        dir.createFile(QStringLiteral("b1"), "bravo?");
        // Pressed from the keyboard: the focus rests on the emptied list meanwhile, not on
        // whatever Qt would pick as the buttons go, and comes back.
        auto *kill = control<QPushButton>(window, "cmdKillDestined");
        kill->setFocus();
        QTest::keyClick(kill, Qt::Key_Space);
        QCOMPARE(focusAtBox.last(), "lstDestined");
        QCOMPARE(QApplication::focusWidget(), kill);
        QCOMPARE(catcher.texts.last(), "Okay!\n\n2 files moved to the trash (10 bytes).\n1 file stayed:\n" + surplus.last()
                                           + " (kept copy changed)");
        QCOMPARE(lines(window, "lstDestined"), QStringList{surplus.last().toLower()});

        // What stayed is tried again; a close asked for meanwhile waits until KILL is done.
        dir.createFile(QStringLiteral("b1"), "bravo!");
        click(window, "cmdKillDestined");
        QCOMPARE(focusAtBox.last(), "lstDestined");
        QVERIFY(!window.isVisible());
        QCOMPARE(catcher.texts.last(), "Okay!\n\n1 file moved to the trash (6 bytes).");
        for (const QString &path : surplus + kept)
            QVERIFY2(QFileInfo::exists(path) == kept.contains(path), qPrintable(path));
        QMap<QString, QByteArray> added = trash();
        added.removeIf([&](auto entry) { return trashBefore.contains(entry.key()); });
        QCOMPARE(added.keys(), surplus);
        QCOMPARE(added.values(), (QByteArrayList{"alpha", "alpha", "bravo!"}));
        QCOMPARE(buttonsHeld, QList<bool>(3, true));
    }

    // KILL's work, without the window: each proposed file goes only while it is still a copy
    // of its kept file; what stays is kept in order, each with why, and the box names five.
    void killReport_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<bool>("allStay"); // the trash itself is the trouble
        const auto row = [](const char *change, const char *reason, bool allStay = false) {
            QTest::newRow(change) << QString::fromLatin1(change) << QString::fromLatin1(reason) << allStay;
        };
        row("last byte differs", "kept copy changed");
        row("grown", "kept copy changed");
        row("kept copy gone", "kept copy is gone");
        row("folder locked", "could not be moved to the trash: permission denied");
        row("folder swapped for a link", "changed since the search");
        row("trash below a file", "could not be moved to the trash: the trash folder cannot be made (not a directory)",
            true);
    }

    void killReport()
    {
        QFETCH(QString, change);
        QFETCH(QString, reason);
        QFETCH(bool, allStay);
        TestDir dir;
        SearchState state;
        const QString kept = dir.createFile(QStringLiteral("a"), "alpha");
        QStringList stays; // first in the list: the command must go on past them
        for (int i = 1; i <= 6; ++i) {
            stays << dir.createFile(QStringLiteral("sub/a%1").arg(i), "alpha");
            dir.createFile(QStringLiteral("outside/a%1").arg(i), "alpha");
            propose(state, stays.last(), kept);
        }
        const QString goes = dir.createFile(QStringLiteral("c"), "bravo!");
        propose(state, goes, dir.createFile(QStringLiteral("b"), "bravo!"));
        propose(state, dir.createFile(QStringLiteral("gone"), "bravo!"), dir.path(QStringLiteral("b")));
        QVERIFY(dir.removeFile(QStringLiteral("gone")));

        const QByteArray sub = QFile::encodeName(dir.path(QStringLiteral("sub")));
        const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
        const auto undo = qScopeGuard([&] {
            ::chmod(sub.constData(), 0700);
            qputenv("XDG_DATA_HOME", dataHome);
        });
        if (change == "last byte differs" || change == "grown")
            dir.createFile(QStringLiteral("a"), change == "grown" ? "alpha!" : "alphb");
        else if (change == "kept copy gone")
            QVERIFY(dir.removeFile(QStringLiteral("a")));
        else if (change == "folder locked")
            QCOMPARE(::chmod(sub.constData(), 0555), 0);
        else if (change == "folder swapped for a link")
            QVERIFY(QDir(dir.path()).rename("sub", "moved") && QFile::link(dir.path("outside"), dir.path("sub")));
        else
            qputenv("XDG_DATA_HOME", QFile::encodeName(dir.createFile("plain") + "/data"));
        QStringList statuses;
        // Each status with the progress a screen reader is given with it.
        const KillReport report = removeSurplusCopies(
            state, [&](const QString &text, int percent) { statuses << text + ' ' + QString::number(percent); }, [] {});

        for (const QString &path : stays)
            QCOMPARE(contentOf(path), "alpha");
        QCOMPARE(QFileInfo::exists(goes), allStay);
        QCOMPARE(statuses.first(), "Moving file 1 of 8 to the trash... 13");
        QCOMPARE(statuses.last(), "Moving file 8 of 8 to the trash... 100");
        QStringList shown; // the box names the first five of the files that stayed
        for (const QString &path : stays.mid(0, 5))
            shown << path + " (" + reason + ')';
        QCOMPARE(report.message(), "Okay!\n\n" + QString(allStay ? "" : "1 file moved to the trash (6 bytes).\n")
                                       + "1 file already gone.\n" + QString(allStay ? "7" : "6") + " files stayed:\n"
                                       + shown.join('\n') + "\n...");
        const std::vector<PathStore::Id> &ids = state.DestinedFiles.ids();
        QCOMPARE(report.stayedFiles.ids(), std::vector(ids.begin(), ids.begin() + (allStay ? 7 : 6)));
    }

    // The obsolete list's menu decides what KILL moves: not this file, this one kept instead
    // of its set's kept copy, the copies in a folder kept. KILL then moves exactly what the
    // list shows, and says how much; the other lists stay as the search left them.
    void choicesThenKill()
    {
        TestDir dir;
        const QString top = dir.createDir("Summer photos"); // past 60 characters: menus cut it
        // Each name's file holds its last letter, once for a, twice for b...
        const QStringList all = QString("a keep/a other/a b keep/b c other/c d other/d").split(' ');
        for (const QString &name : all)
            dir.createFile("Summer photos/" + name, QByteArray(name.back().unicode() - 'a' + 1, name.back().toLatin1()));
        QCOMPARE(::link(QFile::encodeName(top + "/c").constData(), QFile::encodeName(top + "/c2").constData()), 0);
        // The paths of `names`, as the lists show them or as they are.
        const auto at = [&](const QString &names, bool shown = true) {
            QStringList paths;
            for (const QString &name : names.split(' '))
                paths << (shown ? (top + '/' + name).toLower() : top + '/' + name);
            return paths;
        };
        const auto cut = [&](const QString &name) { return at(name)[0].left(29) + QChar(0x2026) + at(name)[0].right(30); };
        const QMap<QString, QByteArray> trashBefore = trash();
        frmFinderMain window;
        MessageCatcher catcher;
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        startSearch(window, top, true);
        QCOMPARE(lines(window, "lstDestined"), at("keep/a other/a keep/b other/c other/d"));
        auto *kill = control<QPushButton>(window, "cmdKillDestined");
        QCOMPARE(kill->toolTip(), "Move 5 files (11 bytes) to the trash");
        const QStringList files = lines(window, "lstFiles"), equal = lines(window, "lstEqual");

        // From the keyboard, on the second line.
        auto *destined = control<LineListBox>(window, "lstDestined");
        destined->setFocus();
        QTest::keyClick(destined, Qt::Key_Down);
        QTest::keyClick(destined, Qt::Key_Down);
        QMenu *menu = menuKey(destined);
        QVERIFY(menu);
        QCOMPARE(itemsOf(menu), (QStringList{"Open", "Open Containing Folder", "Copy Path", "-", "Do Not Move",
                                             "Keep This Instead of " + cut("a"), "Keep Copies in " + cut("other/")}));
        for (const Qt::Key key : {Qt::Key_Down, Qt::Key_Down, Qt::Key_Down, Qt::Key_Return})
            QTest::keyClick(menu, key);
        QTRY_COMPARE(lines(window, "lstDestined"), at("keep/a keep/b other/c other/d"));
        QCOMPARE(destined->currentRow(), 1);

        // With the mouse. The kept copy and its other name take the place of the one kept instead.
        for (const auto &[row, item] : {std::pair(2, "Keep This Instead of " + cut("c")),
                                        std::pair(0, "Keep Copies in " + cut("keep/"))}) {
            menu = rightClick(window, "lstDestined", row);
            QVERIFY(menu);
            const QList<QAction *> items = menu->actions();
            const auto chosen = std::find_if(items.begin(), items.end(), [&](QAction *a) { return a->text() == item; });
            QVERIFY2(chosen != items.end(), qPrintable(itemsOf(menu).join('|')));
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(*chosen).center());
            QTRY_VERIFY(!menuShown());
        }
        QTRY_COMPARE(lines(window, "lstDestined"), at("a b c c2 other/d"));
        QCOMPARE(kill->toolTip(), "Move 5 files (13 bytes) to the trash");
        QCOMPARE(kill->accessibleDescription(), kill->toolTip());
        QCOMPARE(lines(window, "lstFiles"), files);
        QCOMPARE(lines(window, "lstEqual"), equal);

        click(window, "cmdKillDestined");
        QCOMPARE(catcher.texts, (QStringList{"DONE!", "Okay!\n\n5 files moved to the trash (13 bytes)."}));
        QCOMPARE(kill->toolTip(), "Move 0 files (0 bytes) to the trash");
        QMap<QString, QByteArray> added = trash();
        added.removeIf([&](auto entry) { return trashBefore.contains(entry.key()); });
        const QStringList moved = at("a b c c2 other/d", false);
        QCOMPARE(added.keys(), moved);
        for (const QString &name : all)
            QVERIFY2(QFileInfo::exists(top + '/' + name) != moved.contains(top + '/' + name), qPrintable(name));
    }

    // Whoever may move another user's file (root, or anyone who may write its folder) leaves it
    // where it is: in our trash its owner could neither see nor restore it.
    void killLeavesOtherUsersFiles()
    {
        const char *rootsFile = "/etc/passwd";
        TestDir dir;
        const QString kept = dir.createFile(QStringLiteral("kept"), contentOf(QString::fromLatin1(rootsFile)));
        const QString proposed = dir.createFile(QStringLiteral("proposed"), contentOf(QString::fromLatin1(rootsFile)));
        const std::optional<QString> outcome =
            killInChild(proposed, kept, [&] { return makeAnotherUsers(proposed, rootsFile); });
        if (!outcome)
            QSKIP("this system lets a test make no file of another user");
        QCOMPARE(*outcome, proposed + " (belongs to nobody: start Samelyn as that user to move it to their trash)");
    }

    // On a drive of its own a file goes to the trash at the top of its mount, where trash tools
    // look; a folder bound elsewhere on the drive is a mount of its own. Where the trash is on
    // another mount the file stays, and no trash below the mount point takes it instead.
    void killIntoTheDrivesTrash_data()
    {
        QTest::addColumn<QString>("mounted");   // what else is mounted on the drive
        QTest::addColumn<QString>("proposed");  // on the drive
        QTest::addColumn<QString>("outcome");   // "moved", or why it stayed
        QTest::addColumn<QStringList>("files"); // on the drive afterwards, with what records give
        const QString own = ".Trash-" + QString::number(::geteuid());
        // What a trash folder holds once the file `a` from `proposed` is in it.
        const auto holding = [](const QString &trash, const QString &proposed) {
            return QStringList{trash + "/files/a", trash + "/info/a.trashinfo <- {drive}/" + proposed};
        };
        QTest::newRow("top of the drive") << "" << "sub/a" << "moved" << (holding(own, "sub/a") << "kept");
        // The bound folder is seen in its own place too.
        QTest::newRow("bind mount")
            << "bound" << "bound/a" << "moved"
            << (holding("bound/" + own, "bound/a") + holding("real/" + own, "bound/a") << "kept");
        QTest::newRow("trash on another mount")
            << own + "/files" << "sub/a" << "could not be moved to the trash: its trash is on another part of the drive"
            << QStringList{"kept", "sub/a"};
    }

    void killIntoTheDrivesTrash()
    {
        QFETCH(QString, mounted);
        QFETCH(QString, proposed);
        QFETCH(QString, outcome);
        QFETCH(QStringList, files);
        TestDir dir;
        const QString drive = dir.createDir("my drive"); // the kernel's table of mounts escapes the space
        // In the child: false where it may mount no drive of its own.
        const auto mountDrive = [&] {
            const QByteArray top = QFile::encodeName(drive), on = top + '/' + QFile::encodeName(mounted);
            if (!enterOwnNamespaces(false) || ::mount("samelyn-test", top.constData(), "tmpfs", 0, "mode=0700") != 0)
                return false;
            bool made = mounted.isEmpty();
            if (mounted == "bound") // another folder of the drive, bound here
                made = ::mkdir((top + "/real").constData(), 0700) == 0 && ::mkdir(on.constData(), 0700) == 0
                    && ::mount((top + "/real").constData(), on.constData(), nullptr, MS_BIND, nullptr) == 0;
            else if (!made) // the trash at the top, its "files" another drive
                made = ::mkdir(on.left(on.lastIndexOf('/')).constData(), 0700) == 0 && ::mkdir(on.constData(), 0700) == 0
                    && ::mount("samelyn-other", on.constData(), "tmpfs", 0, "mode=0700") == 0;
            if (!made)
                qFatal("cannot make %s", on.constData());
            dir.createFile("my drive/" + proposed, "alpha");
            dir.createFile("my drive/kept", "alpha");
            return true;
        };
        const auto look = [&] {
            QStringList seen;
            for (QDirIterator it(drive, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) {
                const QString path = it.next();
                const bool record = path.endsWith(".trashinfo");
                seen << path.mid(drive.size() + 1) + (record ? " <- " + recordedPath(path) : QString());
            }
            seen.sort();
            return seen.join('\n');
        };
        const QString path = drive + '/' + proposed;
        const std::optional<QString> result = killInChild(path, drive + "/kept", mountDrive, look);
        if (!result)
            QSKIP("this system lets a test mount no drive of its own");
        files.replaceInStrings("{drive}", drive).sort();
        QCOMPARE(*result, (outcome == "moved" ? outcome : path + " (" + outcome + ')') + '\n' + files.join('\n'));
    }

    // A search shows one list while it builds another: KILL rests, and refuses even when asked,
    // and the obsolete list's menu offers no choice of what KILL moves.
    void killRefusedDuringRun()
    {
        TestDir dir;
        const QStringList files{dir.createFile("a1", "alpha"), dir.createFile("a2", "alpha")};
        frmFinderMain window;
        MessageCatcher catcher;
        startSearch(window, dir.path(), true);
        int asked = 0;
        QStringList offered;
        ScopedHook hook([&] {
            if (!window.isRunning() || control<QPushButton>(window, "cmdKillDestined")->isEnabled() || asked++)
                return;
            window.cmdKillDestined_Click();
            window.lstDestined_ContextMenu(0, QPoint(), true);
            if (QMenu *menu = menuShown()) {
                offered = itemsOf(menu);
                menu->close();
            }
        });
        click(window, "cmdStart");
        QVERIFY(asked > 0);
        QCOMPARE(offered, (QStringList{"Open", "Open Containing Folder", "Copy Path"}));
        QCOMPARE(catcher.texts, (QStringList{"DONE!", "DONE!"}));
        QVERIFY(QFileInfo::exists(files[0]) && QFileInfo::exists(files[1]));
    }

    void browse()
    {
        frmFinderMain window;
        auto *path = control<QLineEdit>(window, "txtPath");
        QStringList prompts;
        for (const QString &chosen : {QStringLiteral("/x"), QString()}) {
            SystemTools::instance().setFolderChooser([&prompts, chosen](QWidget *, const QString &prompt) {
                prompts << prompt;
                return chosen;
            });
            path->setText(QStringLiteral("/somewhere/typed"));
            click(window, "cmdBrowse1");
            QCOMPARE(path->text(), chosen);
        }
        QCOMPARE(prompts, (QStringList{"Look where?", "Look where?"}));
    }

    // What a line's menu offers for a pair of equal files: each command for each file, under
    // names that tell them apart; no "Open" for what a desktop might run instead of show.
    void lineMenuOffers_data()
    {
        QTest::addColumn<QStringList>("files"); // as the search meets them; "+x": executable
        QTest::addColumn<QStringList>("names"); // as the menu names them
        QTest::addColumn<bool>("opens");
        QTest::newRow("two names") << QStringList{"a.jpg", "b.jpg"} << QStringList{"a.jpg", "b.jpg"} << true;
        QTest::newRow("one name in two folders") << QStringList{"Holiday/IMG_101.JPG", "Pictures/IMG_101.JPG"}
                                                 << QStringList{"Holiday/IMG_101.JPG", "Pictures/IMG_101.JPG"} << true;
        QTest::newRow("ampersand and tab") << QStringList{"Tom & Jerry.avi", "Tom & Jerry\t2.avi"}
                                           << QStringList{"Tom && Jerry.avi", "Tom && Jerry\\t2.avi"} << true;
        QTest::newRow("a name reversed to pass for a photo")
            << QStringList{"holiday\u200B\u202Egpj.exe", "holiday\u202Egpj.exe"}
            << QStringList{"holiday\\u200B\\u202Egpj.exe", "holiday\\u202Egpj.exe"} << false;
        QTest::newRow("scripts") << QStringList{"run.sh+x", "run copy.sh+x"} << QStringList{"run.sh", "run copy.sh"} << false;
        QTest::newRow("programs") << QStringList{"tool+x", "tool-old+x"} << QStringList{"tool", "tool-old"} << false;
        QTest::newRow("launchers") << QStringList{"app.desktop", "app (1).desktop"}
                                   << QStringList{"app.desktop", "app (1).desktop"} << false;
        QTest::newRow("Windows programs") << QStringList{"setup.exe", "setup(1).exe"}
                                          << QStringList{"setup.exe", "setup(1).exe"} << false;
        QTest::newRow("photos on a card that marks every file executable")
            << QStringList{"DSC_1.jpg+x", "DSC_1 (1).jpg+x"} << QStringList{"DSC_1.jpg", "DSC_1 (1).jpg"} << true;
    }
    void lineMenuOffers()
    {
        QFETCH(QStringList, files);
        QFETCH(QStringList, names);
        QFETCH(bool, opens);
        TestDir dir;
        for (QString file : files) {
            const bool executable = file.endsWith("+x");
            file.chop(executable ? 2 : 0);
            const QString path = dir.createFile(file.replace("\\t", "\t"), "same");
            if (executable)
                QVERIFY(QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner));
        }
        frmFinderMain window;
        MessageCatcher catcher;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        startSearch(window, dir.path(), true);
        QCOMPARE(catcher.texts, QStringList{"DONE!"});
        // The pair as first found is the bottom line.
        QMenu *menu = rightClick(window, "lstEqual", 1);
        QVERIFY(menu);
        QCOMPARE(menu->accessibleName(), "Line menu");
        QStringList expected;
        if (opens)
            expected << "Open " + names[0] << "Open " + names[1] << "-";
        expected << "Open Containing Folder of " + names[0] << "Open Containing Folder of " + names[1] << "-"
                 << "Copy Path of " + names[0] << "Copy Path of " + names[1];
        QCOMPARE(itemsOf(menu), expected);
    }

    // The menu acts on the file the search found, by its real name, and changes nothing in the
    // window. A right-click, the Menu key or Shift+F10 opens it, the keys at the current line,
    // and the keys reach every item. A file gone since the search is named, and nothing opened.
    void lineMenu()
    {
        TestDir dir;
        const QString original = dir.createFile("Photos/Beach.JPG", "sand");
        const QString copy = dir.createFile("Photos/Beach copy.JPG", "sand");
        frmFinderMain window;
        // Each box runs an event loop of its own while it is up, as a modal box does.
        MessageCatcher catcher([](const QString &) {
            QEventLoop box;
            QTimer::singleShot(0, &box, &QEventLoop::quit);
            box.exec();
        });
        OpenerCatcher opener;
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        startSearch(window, dir.path(), true);
        const auto shown = [&] {
            QStringList state;
            for (const char *list : {"lstFiles", "lstEqual", "lstDestined"})
                state << lines(window, list) << QString::number(control<LineListBox>(window, list)->currentRow());
            return state;
        };
        const QStringList before = shown();
        const QString a = original.toLower(), c = copy.toLower();
        QCOMPARE(before, (QStringList{c, a, "-1", c + " <--> " + a, a + " <--> " + c, "-1", c, "-1"}));

        // The mouse, on a line not selected: the last item, reached by the keys, copies the real path.
        QMenu *menu = rightClick(window, "lstFiles", 1);
        QVERIFY(menu);
        QCOMPARE(itemsOf(menu), (QStringList{"Open", "Open Containing Folder", "Copy Path"}));
        QTest::keyClick(menu, Qt::Key_Up);
        QTest::keyClick(menu, Qt::Key_Return);
        QTRY_COMPARE(QGuiApplication::clipboard()->text(), original);
        QCOMPARE(shown(), before);

        // The Menu key on the current line: every item in turn, from the first.
        auto *equal = control<LineListBox>(window, "lstEqual");
        equal->setFocus();
        QTest::keyClick(equal, Qt::Key_Down);
        QStringList selected = shown();
        menu = menuKey(equal);
        QVERIFY(menu);
        QCOMPARE(menu->pos(), equal->viewport()->mapToGlobal(equal->rowRect(0).bottomLeft()));
        QStringList reached;
        for (int i = 0; i < 6; ++i, QTest::keyClick(menu, Qt::Key_Down))
            reached << menu->activeAction()->text();
        QCOMPARE(reached, (QStringList{"Open Beach copy.JPG", "Open Beach.JPG",
                                       "Open Containing Folder of Beach copy.JPG", "Open Containing Folder of Beach.JPG",
                                       "Copy Path of Beach copy.JPG", "Copy Path of Beach.JPG"}));
        QCOMPARE(menu->activeAction()->text(), "Open Beach copy.JPG");
        QTest::keyClick(menu, Qt::Key_Return);
        QTRY_COMPARE(opener.opened, QStringList{"file " + copy});
        opener.works = false;
        QVERIFY(menuKey(equal));
        QTest::keyClick(menuShown(), Qt::Key_Down);
        QTest::keyClick(menuShown(), Qt::Key_Down);
        QTest::keyClick(menuShown(), Qt::Key_Return);
        QTRY_COMPARE(opener.opened, (QStringList{"file " + copy, "folder " + copy}));
        QCOMPARE(catcher.texts, (QStringList{"DONE!", "Could not show the folder of:\n" + copy}));
        QCOMPARE(shown(), selected);

        // Shift+F10 on the proposed copy, gone since the search: named, nothing opened or copied.
        QVERIFY(QFile::remove(copy));
        auto *destined = control<LineListBox>(window, "lstDestined");
        destined->setFocus();
        QTest::keyClick(destined, Qt::Key_Home);
        selected = shown();
        for (const int item : {0, 1, 2}) {
            QTest::keyClick(destined, Qt::Key_F10, Qt::ShiftModifier);
            menu = menuShown();
            QVERIFY(menu);
            QCOMPARE(menu->pos(), destined->viewport()->mapToGlobal(destined->rowRect(0).bottomLeft()));
            menu->actions().at(item)->trigger();
            menu->close();
            QTRY_COMPARE(catcher.texts.size(), 3 + item);
            QCOMPARE(catcher.texts.last(), "Gone or changed since the search:\n" + copy);
        }
        QCOMPARE(opener.opened.size(), 2);
        QCOMPARE(QGuiApplication::clipboard()->text(), original);
        QCOMPARE(shown(), selected);
    }
};

SAMELYN_TEST_MAIN(tst_commands)
#include "tst_commands.moc"

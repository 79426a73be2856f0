// Tests of the toolkit: percentages, file contents, the folder walk and the file-system services.
#include "CommonTools.h"
#include "frmFinderMain.h"
#include "FileSeeker.h"
#include "FileText.h"
#include "SystemTools.h"
#include "TestDir.h"
#include "ToolkitError.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QScopeGuard>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qint64 MiB = 1024 * 1024;

// Not all zeros, so that reading the wrong place of a file shows as a difference.
QByteArray pattern(qint64 size)
{
    QByteArray bytes(qsizetype(size), Qt::Uninitialized);
    QRandomGenerator generator(size);
    for (char &c : bytes)
        c = char(generator.bounded(256));
    return bytes;
}

bool makeFifo(const QString &path)
{
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
}

// A file of `size` bytes that takes no room on disk but its last byte.
bool makeSparse(const QString &path, qint64 size, char last)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.resize(size) && file.seek(size - 1) && file.putChar(last);
}

ToolkitError::Kind loadFailure(const QString &path)
{
    try {
        (void)FileText::load(path);
    } catch (const ToolkitError &error) {
        return error.kind();
    }
    return ToolkitError::Kind::General; // loaded: no kind a test expects
}

// The files the seeker reports (path + name) and the entries it skips. `yield` is handed the
// files reported so far whenever the seeker yields.
std::pair<QStringList, QStringList> walk(const QString &folder, bool includeSubFolders,
                                         const std::function<void(const QStringList &)> &yield = {})
{
    QStringList found, skipped;
    FileSeeker seeker;
    seeker.Folder = folder;
    seeker.Pattern = QStringLiteral("*.*");
    seeker.IncludeSubFolders = includeSubFolders;
    seeker.FoundFile = [&](const QString &name, const QString &path) {
        found.append(path + name);
        QElapsedTimer waited; // lets the seeker's yield come due at its next step
        for (waited.start(); yield && !waited.hasExpired(6);) {}
    };
    seeker.SkippedEntry = [&skipped](const QString &path, bool) { skipped.append(path); };
    seeker.Yield = [&] { if (yield) yield(found); };
    seeker.Search(0, 0, 0, 0);
    return {found, skipped};
}

} // namespace

class TestToolkit : public QObject
{
    Q_OBJECT

private slots:
    void percentText()
    {
        const struct { double part, whole; const char *text; } cases[] = {
            {1, 3, "33%"}, {2147483647.0, 2147483647.0, "100%"}, {1, 0, "0%"}, {1, -2, "0%"}};
        for (const auto &c : cases)
            QCOMPARE(CommonTools::instance().PercentText(c.part, c.whole), QString::fromLatin1(c.text));
    }

    void equals_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<qint64>("changeAt"); // -1: identical
        QTest::newRow("empty") << qint64(0) << qint64(-1);
        QTest::newRow("one byte, differs") << qint64(1) << qint64(0);
        // The held file's last chunk is a short one.
        for (const qint64 size : {3 * MiB, FileText::WholeLimit + MiB + 3}) {
            const char *kind = size > FileText::WholeLimit ? "held" : "in memory";
            const std::pair<const char *, qint64> changes[] = {
                {"equal", -1}, {"first byte", 0}, {"middle", size / 2},
                {"before chunk edge", MiB - 1}, {"after chunk edge", MiB}, {"last byte", size - 1}};
            for (const auto &[where, at] : changes)
                QTest::addRow("%s, %s", kind, where) << size << at;
        }
    }
    void equals()
    {
        QFETCH(qint64, size);
        QFETCH(qint64, changeAt);
        TestDir dir;
        QByteArray bytes = pattern(size);
        const QString a = dir.createFile("a", bytes);
        if (changeAt >= 0)
            bytes[qsizetype(changeAt)] ^= 0x40;
        const QString b = dir.createFile("b", bytes);
        const QString link = dir.path("link");
        QVERIFY(::link(QFile::encodeName(a).constData(), QFile::encodeName(link).constData()) == 0);

        const FileText textA = FileText::load(a);
        const FileText textB = FileText::load(b);
        QCOMPARE(textA.size(), size);
        QCOMPARE(textA.isHeldOpen(), size > FileText::WholeLimit);
        QCOMPARE(textA.equals(textB), changeAt < 0);
        QCOMPARE(textB.equals(textA), changeAt < 0);
        QVERIFY(!textA.isSameFileAs(textB));
        QVERIFY(textA.isSameFileAs(FileText::load(link)));
        // A held file read on later: once it grew or shrank it equals nothing.
        if (textA.isHeldOpen() && changeAt < 0) {
            for (const qint64 change : {1, -1}) {
                QVERIFY(::truncate(QFile::encodeName(b).constData(), off_t(size + change)) == 0);
                QVERIFY(!textA.equals(textB) && !textB.equals(textA));
            }
        }
    }

    // A file loaded by the size it had when it was found: one that grew since is read no
    // further and equals nothing, not even itself; one that shrank is what it now holds.
    void changedSinceFound()
    {
        TestDir dir;
        const QString grown = dir.createFile("grown", "0123456789");
        const QString kept = dir.createFile("kept", "0123");
        const FileText early = FileText::load(grown, 4);
        QCOMPARE(early.size(), 4);
        QVERIFY(!early.equals(FileText::load(kept, 4)));
        QVERIFY(!early.equals(FileText::load(grown, 4)));
        const FileText shrunk = FileText::load(kept, 9);
        QCOMPARE(shrunk.size(), 4);
        QVERIFY(shrunk.equals(FileText::load(kept)));
        QVERIFY(!shrunk.isSameFileAs(FileText::load(kept, 4)));
    }

    // Past 2 GiB a 32-bit size or offset wraps; the difference sits in the very last byte.
    void sparseOver2GiB()
    {
        // Holes read some thirty times faster from a memory file system than from a disk one.
        QTemporaryDir inMemory("/dev/shm/tst_toolkit-XXXXXX");
        TestDir dir;
        const QString a = (inMemory.isValid() ? inMemory.path() : dir.path()) + "/a";
        const QString b = a + "b";
        const qint64 size = 3221225472;
        QVERIFY(makeSparse(a, size, 'x') && makeSparse(b, size, 'y'));
        const FileText textA = FileText::load(a);
        QCOMPARE(textA.size(), size);
        QVERIFY(!textA.equals(FileText::load(b)));
        QVERIFY(makeSparse(b, size, 'x'));
        QVERIFY(textA.equals(FileText::load(b)));
    }

    void loadFailures()
    {
        TestDir dir;
        const QString file = dir.createFile("file", "bytes");
        const QString unreadable = dir.createFile("unreadable", "bytes");
        QVERIFY(QFile::setPermissions(unreadable, {}));
        QVERIFY(makeFifo(dir.path("fifo"))); // no writer: opening it must not wait for one
        QVERIFY(QFile::link(file, dir.path("link")));
        QCOMPARE(loadFailure(dir.path("missing")), ToolkitError::Kind::NotFound);
        QCOMPARE(loadFailure(file + "/below"), ToolkitError::Kind::NotFound);
        QCOMPARE(loadFailure(unreadable), ToolkitError::Kind::Unreadable);
        QCOMPARE(loadFailure(dir.path("fifo")), ToolkitError::Kind::Unreadable);
        QCOMPARE(loadFailure(dir.path("link")), ToolkitError::Kind::Unreadable);
        QCOMPARE(loadFailure(dir.path()), ToolkitError::Kind::Unreadable);
    }

    void seeker()
    {
        TestDir dir;
        const QString root = dir.createDir("root") + QLatin1Char('/');
        for (const char *name : {"b.txt", "a.txt", "B.txt", "9.txt", "10.txt", "noext", "z.txt", "A/x.txt",
                                 "A/deep/y.txt", "A/m.txt", "c/c.txt", "c/d/o.txt",
                                 // Copies kept for recovery, the home's trash sorting first, and scratch files.
                                 ".local/share/Trash/files/a.txt", ".Trash-1000/a.txt", ".Trash/a.txt",
                                 "x/.snapshots/a.txt", "x/.zfs/snapshot/a.txt", "data/Trash/a.txt", "scratch/w/1.tmp"})
            dir.createFile(QStringLiteral("root/") + QLatin1String(name), name);
        dir.createFile("root/scratch/CACHEDIR.TAG", FileSeeker::ScratchTag);
        dir.createFile("root/c/CACHEDIR.TAG", "Signature: 8a477f597d28d172789f06886806bc55\n# Another program's\n");
        dir.createDir("root/empty");
        QVERIFY(QFile::link(root + "a.txt", root + "linkToFile"));
        QVERIFY(QFile::link(QFileInfo(dir.createFile("elsewhere/e.txt")).path(), root + "linkToFolder"));
        QVERIFY(makeFifo(root + "pipe"));
        const QByteArray badName = QFile::encodeName(root) + "bad\xff.txt";
        QVERIFY(::close(::open(badName.constData(), O_WRONLY | O_CREAT | O_EXCL, 0600)) == 0);
        QVERIFY(::chmod(QFile::encodeName(dir.createDir("root/locked")).constData(), 0) == 0);
        // The user's trash is known by identity, here behind a linked data folder.
        const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
        QVERIFY(QFile::link(root + "data", dir.path("linkedData")) && qputenv("XDG_DATA_HOME", QFile::encodeName(dir.path("linkedData"))));
        const auto cleanUp = qScopeGuard([&] {
            ::unlink(badName.constData()); // a name Qt cannot give back
            dataHome.isNull() ? qunsetenv("XDG_DATA_HOME") : qputenv("XDG_DATA_HOME", dataHome);
        });

        const QStringList topFiles{root + "10.txt", root + "9.txt", root + "B.txt", root + "a.txt",
                                   root + "b.txt", root + "noext", root + "z.txt"};
        const QString bad = root + QFile::decodeName("bad\xff.txt");
        QCOMPARE(walk(dir.path("root"), false), std::pair(topFiles, QStringList{bad}));
        QCOMPARE(walk(dir.path("root"), true),
                 std::pair(topFiles + QStringList({root + "A/m.txt", root + "A/x.txt", root + "A/deep/y.txt",
                                                   root + "c/CACHEDIR.TAG", root + "c/c.txt", root + "c/d/o.txt"}),
                           QStringList{bad, root + "locked/"}));
        // Searched directly, or below: nothing either.
        for (const char *inside : {".local/share/Trash/files", ".Trash-1000", "x/.zfs/snapshot", "data/Trash", "scratch/w"})
            QCOMPARE(walk(root + inside, true), (std::pair<QStringList, QStringList>()));
        QVERIFY(walk("/proc", true).first.isEmpty());
        // A window's own scratch folders, whichever window made them.
        frmFinderMain window;
        QVERIFY(QFile(window.state().WorkFolder + "/0.tmp").open(QIODevice::WriteOnly));
        QCOMPARE(walk(QFileInfo(window.state().WorkFolder).path(), true), (std::pair<QStringList, QStringList>()));
    }

    // A sub-folder swapped, after its parent was listed, for a link or another folder: not entered.
    void seekerSwappedFolder()
    {
        for (const bool toLink : {true, false}) {
            TestDir dir;
            dir.createFile("t/a.txt");
            const QString sub = QFileInfo(dir.createFile("t/b/in.txt")).path();
            const QString outside = QFileInfo(dir.createFile("outside/notes.txt")).path();
            bool swapped = false;
            const auto [found, skipped] = walk(dir.path("t"), true, [&](const QStringList &found) {
                if (!swapped && !found.isEmpty())
                    swapped = QFile::rename(sub, sub + "-moved") && (toLink ? QFile::link(outside, sub) : QFile::rename(outside, sub));
            });
            QVERIFY(swapped);
            QCOMPARE(found, QStringList{dir.path("t/a.txt")});
            QCOMPARE(skipped, QStringList{sub + "/"});
        }
    }

    void listFiles()
    {
        SystemTools &tools = SystemTools::instance();
        for (const char *refused : {"", "/nonexistent-folder", "/etc/passwd"})
            QVERIFY_THROWS_EXCEPTION(ToolkitError, (void)tools.ListFiles(QString::fromLatin1(refused), 0, 0));
        TestDir dir;
        for (const char *name : {"b", "a", ".hidden", "B", "sub/inner"})
            dir.createFile(name);
        QVERIFY(QFile::link(dir.path("a"), dir.path("link")));
        QVERIFY(makeFifo(dir.path("pipe")));
        QCOMPARE(tools.ListFiles(dir.path(), 0, 0),
                 (QStringList{dir.path(".hidden"), dir.path("B"), dir.path("a"), dir.path("b")}));
    }

    void deleteFolderStaysInside()
    {
        TestDir dir;
        const QString kept = dir.createFile("outside/kept", "kept");
        dir.createFile("victim/sub/file");
        QVERIFY(QFile::link(dir.path("outside"), dir.path("victim/linkToFolder")));
        QVERIFY(QFile::link(kept, dir.path("victim/sub/linkToFile")));
        QVERIFY_THROWS_EXCEPTION(ToolkitError, SystemTools::instance().DeleteFolder(dir.path("victim/linkToFolder")));
        SystemTools::instance().DeleteFolder(dir.path("victim"));
        QVERIFY(!QFileInfo::exists(dir.path("victim")));
        QCOMPARE(QFileInfo(kept).size(), 4);
    }
};

SAMELYN_TEST_MAIN(TestToolkit)
#include "tst_toolkit.moc"

// Tests of the toolkit: percentages, the folder walk and the file-system services.
#include "CommonTools.h"
#include "frmFinderMain.h"
#include "FileSeeker.h"
#include "SystemTools.h"
#include "TestDir.h"
#include "ToolkitError.h"
#include "Trash.h"
#include "Worker.h"

#include <QScopeGuard>

#include <climits>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool makeFifo(const QString &path)
{
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
}

// The files the seeker reports (path + name) and the entries it skips. `entering` is called
// on the walk's thread before each sub-folder is opened.
std::pair<QStringList, QStringList> walk(const QString &folder, bool includeSubFolders,
                                         const std::function<void(const QString &)> &entering = {})
{
    QStringList found, skipped;
    FileSeeker seeker;
    seeker.Folder = folder;
    seeker.Pattern = QStringLiteral("*.*");
    seeker.IncludeSubFolders = includeSubFolders;
    seeker.FoundFile = [&](const QString &name, const QString &path) { found.append(path + name); };
    seeker.SkippedEntry = [&skipped](const QString &path, bool, FileSeeker::Skip) { skipped.append(path); };
    seeker.Entering = entering;
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

        const QStringList topFiles{root + "10.txt", root + "9.txt", root + "a.txt", root + "B.txt",
                                   root + "b.txt", root + "noext", root + "z.txt"};
        const QString bad = root + QFile::decodeName("bad\xff.txt");
        QCOMPARE(walk(dir.path("root"), false), std::pair(topFiles, QStringList{bad}));
        QCOMPARE(walk(dir.path("root"), true),
                 std::pair(topFiles + QStringList({root + "A/m.txt", root + "A/x.txt", root + "A/deep/y.txt",
                                                   root + "c/c.txt", root + "c/CACHEDIR.TAG", root + "c/d/o.txt"}),
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

    // The copy a person calls the original comes first: shown before hidden, outside a backup
    // folder before inside, a name that marks no copy before one that does; then a name that
    // begins another, up to its extension, before it, whatever the case.
    void seekerOrder_data()
    {
        QTest::addColumn<QStringList>("names"); // in the order they must be reported
        QTest::newRow("copy") << QStringList{"IMG_101.jpg", "IMG_101 copy.jpg"};
        QTest::newRow("numbered") << QStringList{"installer.deb", "installer(1).deb", "installer(2).deb"};
        QTest::newRow("numbered after a blank") << QStringList{"report.pdf", "report (1).pdf"};
        QTest::newRow("dash") << QStringList{"letter.txt", "letter-old.txt"};
        QTest::newRow("not ASCII")
            << QStringList{QStringLiteral("Brief für Müller.txt"), QStringLiteral("Brief für Müller (Kopie).txt")};
        QTest::newRow("one extension of two parts")
            << QStringList{"Backup.TAR.GZ", "Backup.tar.xz", "Backup-old.tar.bz2", "Backup-old.tar.zst.1"};
        QTest::newRow("stem, then extension") << QStringList{"a", "a.jpg", "a.txt", "a b.jpg", "B"};
        QTest::newRow("case") << QStringList{"Notes/a.txt", "Notes/B.txt", "Notes/b.txt", "Notes/C.txt", "notes/a.txt"};
        QTest::newRow("dot files") << QStringList{".bashrc", ".profile", ".bashrc.bak"};
        QTest::newRow("hidden") << QStringList{"z/IMG_1004.jpg", ".cache/z.jpg", ".cache/thumbs/.thumb_IMG_1004.jpg",
                                               "a/.x.jpg"};
        QTest::newRow("copy place") << QStringList{"Oldies/a.txt", "Pictures/2023/IMG_1001.jpg", "Backup/Pictures-2023/IMG_1001.jpg",
                                                   "backup-2019/x", "Copy of stuff/y", "Old/letter.odt", "z/KOPIEN/a.txt"};
        QTest::newRow("copy marks")
            << QStringList{QStringLiteral("Documents/kündigung wohnung.txt"), "Pictures/photo.png", "x/(1).txt",
                           "x/copyright.txt", "x/report(1).pdf", QStringLiteral("Documents/Kündigung Wohnung – Kopie.txt"),
                           "Downloads/report (1).pdf", "Pictures/Photo copy.png", "x/a.txt~", "x/b copy 2.txt",
                           "x/c.orig", "x/Copy of a.txt", "x/d_copie.txt", QStringLiteral("x/e—kopie 3.txt"), "x/f.bak"};
    }
    void seekerOrder()
    {
        QFETCH(QStringList, names);
        TestDir dir;
        QStringList expected;
        // Made backwards, as a listing might well give them.
        for (auto name = names.crbegin(); name != names.crend(); ++name)
            dir.createFile(*name);
        for (const QString &name : names)
            expected << dir.path(name);
        QCOMPARE(walk(dir.path(), true).first, expected);
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
            const auto [found, skipped] = walk(dir.path("t"), true, [&](const QString &) {
                if (!swapped)
                    swapped = QFile::rename(sub, sub + "-moved") && (toLink ? QFile::link(outside, sub) : QFile::rename(outside, sub));
            });
            QVERIFY(swapped);
            QCOMPARE(found, QStringList{dir.path("t/a.txt")});
            QCOMPARE(skipped, QStringList{sub + "/"});
        }
    }

    // A path the system takes, up to its last byte, is walked; one byte more and the file, or
    // the folder with everything in it, is left out and named.
    void seekerPathLengths()
    {
        TestDir dir;
        const QString deep = dir.createDir("deep");
        const auto cleanUp = qScopeGuard([&] { SystemTools::instance().DeleteFolder(deep); });
        // The longest path the system takes ends in "ab"; "d/" is as long, and entered.
        const QByteArray folder = relativeOfLength(QFile::encodeName(deep).size(), PATH_MAX - 1, "ab").chopped(2);
        for (const char *name : {"ab", "abc", "d/e", "fg/h"})
            createBelow(deep, folder + name);
        const QString full = deep + '/' + QString::fromLatin1(folder);
        QCOMPARE(walk(deep, true),
                 std::pair(QStringList{full + "ab"}, QStringList{full + "abc", full + "d/e", full + "fg/"}));
    }

    // A tree deeper than the process may hold folders open, walked with a handful of
    // descriptors to spare: every file is found, nothing is called unopenable, nothing stays open.
    void seekerDeepUnderLowLimit()
    {
        TestDir dir;
        QString relative = QStringLiteral("deep");
        for (int level = 0; level < 40; ++level)
            relative += QStringLiteral("/d%1").arg(level % 10);
        const QString bottom = dir.createFile(relative + "/x.bin", "same");
        const QString side = dir.createFile("deep/d0/y.bin", "same");
        QTRY_COMPARE(Worker::alive(), 0); // the listers of the walks before, with their folders
        const int openBefore = int(QDir("/proc/self/fd").entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size());
        rlimit saved {};
        ::getrlimit(RLIMIT_NOFILE, &saved);
        rlimit lowered = saved;
        lowered.rlim_cur = rlim_t(openBefore + 3);
        QVERIFY(::setrlimit(RLIMIT_NOFILE, &lowered) == 0);
        const auto [found, skipped] = walk(dir.path("deep"), true);
        ::setrlimit(RLIMIT_NOFILE, &saved);
        QCOMPARE(found, (QStringList{side, bottom}));
        QCOMPARE(skipped, QStringList());
        QTRY_COMPARE(int(QDir("/proc/self/fd").entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size()), openBefore);
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

    // A mount's mount point, as the kernel's table of mounts gives it: found by the mount's id
    // in the first field alone, and taken from the fifth with the escapes undone, once.
    void mountPoint_data()
    {
        QTest::addColumn<quint64>("mountId");
        QTest::addColumn<QByteArray>("point");
        QTest::newRow("by the first field") << quint64(26) << QByteArray("/");
        QTest::newRow("a parent's id only") << quint64(1) << QByteArray();
        QTest::newRow("escaped space") << quint64(2) << QByteArray("/media/me/My Drive");
        QTest::newRow("tab, newline, backslash") << quint64(7) << QByteArray("/home/me/a\tb\nc\\040");
        QTest::newRow("bytes as they are, at the end") << quint64(8) << QByteArray("/caf\xc3\xa9");
        QTest::newRow("no such mount") << quint64(6) << QByteArray();
    }
    void mountPoint()
    {
        QFETCH(quint64, mountId);
        QFETCH(QByteArray, point);
        const QByteArray table = "21 26 0:20 / /proc rw,relatime - proc proc rw\n"
                                 "262 26 0:40 /@home /home rw - btrfs /dev/sda2 rw,subvol=/@home\n"
                                 "26 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
                                 "2 26 0:39 / /media/me/My\\040Drive rw - vfat /dev/sdb1 rw\n"
                                 "7 262 0:41 /a\\134b /home/me/a\\011b\\012c\\134040 rw - tmpfs t rw\n"
                                 "8 26 0:42 / /caf\xc3\xa9 rw - tmpfs t rw";
        QCOMPARE(Trash::mountPointOf(table, mountId), point);
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

// Tests of the toolkit: percentages, file contents, the folder walk and the file-system services.
#include "CommonTools.h"
#include "FileSeeker.h"
#include "FileText.h"
#include "SystemTools.h"
#include "TestDir.h"
#include "TextList.h"
#include "ToolkitError.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>

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

void makeFifo(const QString &path)
{
    QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
}

// A file of `size` bytes that takes no room on disk but its last byte.
void makeSparse(const QString &path, qint64 size, char last)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    QVERIFY(fd >= 0);
    const bool ok = ::ftruncate(fd, off_t(size)) == 0 && ::pwrite(fd, &last, 1, off_t(size - 1)) == 1;
    ::close(fd);
    QVERIFY(ok);
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

struct Walk
{
    QStringList found; // Path + FileName
    QStringList skipped;
};

Walk walk(const QString &folder, bool includeSubFolders)
{
    Walk result;
    FileSeeker seeker;
    seeker.Folder = folder;
    seeker.Pattern = QStringLiteral("*.*");
    seeker.IncludeSubFolders = includeSubFolders;
    seeker.FoundFile = [&result](const QString &fileName, const QString &path) {
        QVERIFY2(path.endsWith(QLatin1Char('/')), qPrintable(path));
        result.found.append(path + fileName);
    };
    seeker.SkippedEntry = [&result](const QString &path) { result.skipped.append(path); };
    seeker.Search(0, 0, 0, 0);
    return result;
}

} // namespace

class TestToolkit : public QObject
{
    Q_OBJECT

private slots:
    void percentText_data()
    {
        QTest::addColumn<double>("part");
        QTest::addColumn<double>("whole");
        QTest::addColumn<QString>("text");
        QTest::newRow("third") << 1.0 << 3.0 << "33%";
        QTest::newRow("half") << 1.0 << 2.0 << "50%";
        QTest::newRow("none") << 0.0 << 5.0 << "0%";
        QTest::newRow("all of the largest count") << 2147483647.0 << 2147483647.0 << "100%";
        QTest::newRow("whole 0") << 1.0 << 0.0 << "0%";
        QTest::newRow("0 of 0") << 0.0 << 0.0 << "0%";
        QTest::newRow("whole negative") << 1.0 << -2.0 << "0%";
    }
    void percentText()
    {
        QFETCH(double, part);
        QFETCH(double, whole);
        QFETCH(QString, text);
        QCOMPARE(CommonTools::instance().PercentText(part, whole), text);
    }

    void equals_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<qint64>("changeAt"); // -1: identical
        const qint64 large = FileText::WholeLimit + MiB + 3; // the last chunk is a short one
        QTest::newRow("empty") << qint64(0) << qint64(-1);
        QTest::newRow("one byte, equal") << qint64(1) << qint64(-1);
        QTest::newRow("one byte, differs") << qint64(1) << qint64(0);
        for (const qint64 size : {3 * MiB, large}) {
            const QByteArray kind = size > FileText::WholeLimit ? "held" : "in memory";
            QTest::addRow("%s, equal", kind.constData()) << size << qint64(-1);
            QTest::addRow("%s, first byte", kind.constData()) << size << qint64(0);
            QTest::addRow("%s, middle", kind.constData()) << size << size / 2;
            QTest::addRow("%s, before chunk edge", kind.constData()) << size << MiB - 1;
            QTest::addRow("%s, after chunk edge", kind.constData()) << size << MiB;
            QTest::addRow("%s, last byte", kind.constData()) << size << size - 1;
        }
    }
    void equals()
    {
        QFETCH(qint64, size);
        QFETCH(qint64, changeAt);
        TestDir dir;
        QByteArray bytes = pattern(size);
        const QString a = dir.createFile(QStringLiteral("a"), bytes);
        if (changeAt >= 0)
            bytes[qsizetype(changeAt)] = char(bytes.at(qsizetype(changeAt)) ^ 0x40);
        const QString b = dir.createFile(QStringLiteral("b"), bytes);

        const FileText textA = FileText::load(a);
        const FileText textB = FileText::load(b);
        QCOMPARE(textA.size(), size);
        QCOMPARE(textA.isHeldOpen(), size > FileText::WholeLimit);
        QCOMPARE(textA.equals(textB), changeAt < 0);
        QCOMPARE(textB.equals(textA), changeAt < 0);
        QVERIFY(!textA.isSameFileAs(textB));
    }

    void heldFileChangesSize_data()
    {
        QTest::addColumn<qint64>("change");
        QTest::newRow("shrinks") << qint64(-1);
        QTest::newRow("grows") << qint64(1);
    }
    void heldFileChangesSize()
    {
        QFETCH(qint64, change);
        TestDir dir;
        const qint64 size = FileText::WholeLimit + 1;
        const QByteArray bytes = pattern(size);
        const FileText a = FileText::load(dir.createFile(QStringLiteral("a"), bytes));
        const FileText b = FileText::load(dir.createFile(QStringLiteral("b"), bytes));
        QVERIFY(a.equals(b));
        QVERIFY(::truncate(QFile::encodeName(dir.path(QStringLiteral("b"))).constData(), off_t(size + change)) == 0);
        QVERIFY(!a.equals(b));
        QVERIFY(!b.equals(a));
    }

    // A file loaded by the size it had when it was found: one that grew since is read no
    // further and equals nothing, not even itself; one that shrank is what it now holds.
    void changedSinceFound()
    {
        TestDir dir;
        const QString grown = dir.createFile(QStringLiteral("grown"), "0123456789");
        const QString kept = dir.createFile(QStringLiteral("kept"), "0123");
        const FileText early = FileText::load(grown, 4);
        QCOMPARE(early.size(), 4);
        QVERIFY(!early.equals(FileText::load(kept, 4)));
        QVERIFY(!early.equals(FileText::load(grown, 4)));
        const FileText shrunk = FileText::load(kept, 9);
        QCOMPARE(shrunk.size(), 4);
        QVERIFY(shrunk.equals(FileText::load(kept)));
        QVERIFY(!shrunk.isSameFileAs(FileText::load(kept, 4)));
    }

    void hardLink()
    {
        TestDir dir;
        const QString a = dir.createFile(QStringLiteral("a"), "same");
        const QString copy = dir.createFile(QStringLiteral("copy"), "same");
        const QString link = dir.path(QStringLiteral("link"));
        QVERIFY(::link(QFile::encodeName(a).constData(), QFile::encodeName(link).constData()) == 0);
        QVERIFY(FileText::load(a).isSameFileAs(FileText::load(link)));
        QVERIFY(!FileText::load(a).isSameFileAs(FileText::load(copy)));
    }

    // Past 2 GiB a 32-bit size or offset wraps; the difference sits in the very last byte.
    void sparseOver2GiB()
    {
        // A disk file system fills every hole read with fresh pages, some thirty times slower
        // than memory does: where there is a memory file system, the files live there.
        QTemporaryDir inMemory(QStringLiteral("/dev/shm/tst_toolkit-XXXXXX"));
        TestDir dir;
        const QString folder = inMemory.isValid() ? inMemory.path() : dir.path();
        const qint64 size = 3221225472;
        const QString a = folder + QStringLiteral("/a");
        const QString b = folder + QStringLiteral("/b");
        makeSparse(a, size, 'x');
        makeSparse(b, size, 'y');
        const FileText textA = FileText::load(a);
        QCOMPARE(textA.size(), size);
        QVERIFY(!textA.equals(FileText::load(b)));
        makeSparse(b, size, 'x');
        QVERIFY(textA.equals(FileText::load(b)));
    }

    void loadFailures_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<ToolkitError::Kind>("kind");
        QTest::newRow("missing") << "missing" << ToolkitError::Kind::NotFound;
        QTest::newRow("below a file") << "below a file" << ToolkitError::Kind::NotFound;
        QTest::newRow("mode 000") << "mode 000" << ToolkitError::Kind::Unreadable;
        QTest::newRow("fifo without writer") << "fifo" << ToolkitError::Kind::Unreadable;
        QTest::newRow("folder") << "folder" << ToolkitError::Kind::Unreadable;
        QTest::newRow("symbolic link") << "link" << ToolkitError::Kind::Unreadable;
    }
    void loadFailures()
    {
        QFETCH(QString, what);
        QFETCH(ToolkitError::Kind, kind);
        TestDir dir;
        const QString file = dir.createFile(QStringLiteral("file"), "bytes");
        QString path = dir.path(what);
        if (what == QLatin1String("below a file"))
            path = file + QStringLiteral("/x");
        else if (what == QLatin1String("mode 000"))
            QVERIFY(QFile::copy(file, path) && ::chmod(QFile::encodeName(path).constData(), 0) == 0);
        else if (what == QLatin1String("fifo"))
            makeFifo(path);
        else if (what == QLatin1String("folder"))
            dir.createDir(what);
        else if (what == QLatin1String("link"))
            QVERIFY(QFile::link(file, path));
        QCOMPARE(loadFailure(path), kind);
    }

    void seeker()
    {
        TestDir dir;
        const QString root = dir.createDir(QStringLiteral("root")) + QLatin1Char('/');
        for (const char *name : {"b.txt", "a.txt", "B.txt", "9.txt", "10.txt", "noext", "z.txt", "A/x.txt",
                                 "A/deep/y.txt", "A/m.txt", "c/c.txt", "c/d/o.txt"})
            dir.createFile(QStringLiteral("root/") + QLatin1String(name), name);
        dir.createDir(QStringLiteral("root/empty"));
        QVERIFY(QFile::link(root + QStringLiteral("a.txt"), root + QStringLiteral("linkToFile")));
        QVERIFY(QFile::link(dir.createDir(QStringLiteral("elsewhere")), root + QStringLiteral("linkToFolder")));
        dir.createFile(QStringLiteral("elsewhere/e.txt"));
        makeFifo(root + QStringLiteral("pipe"));
        const QByteArray badName = QFile::encodeName(root) + "bad\xff.txt";
        const int fd = ::open(badName.constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        QVERIFY(fd >= 0);
        ::close(fd);
        const QString locked = dir.createDir(QStringLiteral("root/locked"));
        QVERIFY(::chmod(QFile::encodeName(locked).constData(), 0) == 0);
        // The temporary folder's own clean-up can neither enter the one nor name the other.
        const auto cleanUp = qScopeGuard([&] {
            ::chmod(QFile::encodeName(locked).constData(), 0700);
            ::unlink(badName.constData());
        });

        const QStringList topFiles{root + "10.txt", root + "9.txt", root + "B.txt", root + "a.txt",
                                   root + "b.txt", root + "noext", root + "z.txt"};
        Walk flat = walk(dir.path(QStringLiteral("root")), false);
        QCOMPARE(flat.found, topFiles);
        QCOMPARE(flat.skipped, QStringList{root + QFile::decodeName("bad\xff.txt")});

        Walk deep = walk(dir.path(QStringLiteral("root")), true);
        QCOMPARE(deep.found, topFiles + QStringList({root + "A/m.txt", root + "A/x.txt", root + "A/deep/y.txt",
                                                     root + "c/c.txt", root + "c/d/o.txt"}));
        QCOMPARE(deep.skipped, (QStringList{root + QFile::decodeName("bad\xff.txt"), root + "locked/"}));
    }

    void seekerDoesNotEnterProc()
    {
        QVERIFY(walk(QStringLiteral("/proc"), true).found.isEmpty());
    }

    void listFilesRefuses_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::newRow("empty text") << QString();
        QTest::newRow("missing") << "/nonexistent-folder";
        QTest::newRow("a file") << "/etc/passwd";
    }
    void listFilesRefuses()
    {
        QFETCH(QString, folder);
        QVERIFY_THROWS_EXCEPTION(ToolkitError, (void)SystemTools::instance().ListFiles(folder, 0, 0));
    }

    void listFiles()
    {
        TestDir dir;
        for (const char *name : {"b", "a", ".hidden", "B", "sub/inner"})
            dir.createFile(QLatin1String(name));
        QVERIFY(QFile::link(dir.path(QStringLiteral("a")), dir.path(QStringLiteral("link"))));
        makeFifo(dir.path(QStringLiteral("pipe")));
        QCOMPARE(SystemTools::instance().ListFiles(dir.path(), 0, 0),
                 (QStringList{dir.path(".hidden"), dir.path("B"), dir.path("a"), dir.path("b")}));
    }

    void uniqueNameAndSpecialFolder()
    {
        SystemTools &tools = SystemTools::instance();
        const QString first = tools.GetUniqueName();
        const QRegularExpression hex(QStringLiteral("^[0-9a-f]{32}$"));
        QVERIFY2(hex.match(first).hasMatch(), qPrintable(first));
        QVERIFY(tools.GetUniqueName() != first);

        const QString base = tools.GetSpecialFolder(1003, 0, 0);
        QVERIFY(!base.endsWith(QLatin1Char('/')));
        struct stat st {};
        QVERIFY(::lstat(QFile::encodeName(base).constData(), &st) == 0);
        QVERIFY(S_ISDIR(st.st_mode));
        QCOMPARE(st.st_mode & 077, 0u);
        QCOMPARE(st.st_uid, ::geteuid());
        QVERIFY_THROWS_EXCEPTION(ToolkitError, (void)tools.GetSpecialFolder(1001, 0, 0));
    }

    void deleteFolderStaysInside()
    {
        TestDir dir;
        const QString kept = dir.createFile(QStringLiteral("outside/kept"), "kept");
        dir.createFile(QStringLiteral("victim/sub/file"));
        QVERIFY(QFile::link(dir.path(QStringLiteral("outside")), dir.path(QStringLiteral("victim/linkToFolder"))));
        QVERIFY(QFile::link(kept, dir.path(QStringLiteral("victim/sub/linkToFile"))));
        QVERIFY_THROWS_EXCEPTION(ToolkitError, SystemTools::instance().DeleteFolder(
                                                   dir.path(QStringLiteral("victim/linkToFolder"))));
        SystemTools::instance().DeleteFolder(dir.path(QStringLiteral("victim")));
        QVERIFY(!QFileInfo::exists(dir.path(QStringLiteral("victim"))));
        QFile file(kept);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("kept"));
    }

    void deleteFileTrashes()
    {
        TestDir dir;
        const QString name = SystemTools::instance().GetUniqueName();
        const QString path = dir.createFile(name, "precious");
        SystemTools::instance().DeleteFile(path);
        QVERIFY(!QFileInfo::exists(path));
        QFile trashed(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
                      + QStringLiteral("/Trash/files/") + name);
        QVERIFY2(trashed.open(QIODevice::ReadOnly), qPrintable(trashed.fileName()));
        QCOMPARE(trashed.readAll(), QByteArray("precious"));
        try {
            SystemTools::instance().DeleteFile(path);
        } catch (const ToolkitError &error) {
            QFAIL(qPrintable(QStringLiteral("a file already gone: ") + error.message()));
        }
    }

    void textList()
    {
        TextList list;
        for (const char *text : {"a", "b", "a"})
            list.append(QLatin1String(text));
        QCOMPARE(list.count(), 3);
        QCOMPARE((QStringList{list.item(1), list.item(2), list.item(3)}), (QStringList{"a", "b", "a"}));
        QVERIFY(CommonTools::instance().ListContains(list, QStringLiteral("a")));
        QVERIFY(!CommonTools::instance().ListContains(list, QStringLiteral("A")));
        QVERIFY(!list.contains(QStringLiteral("c")));
    }
};

SAMELYN_TEST_MAIN(TestToolkit)
#include "tst_toolkit.moc"

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

// The files the seeker reports (path + name) and the entries it skips.
std::pair<QStringList, QStringList> walk(const QString &folder, bool includeSubFolders)
{
    QStringList found, skipped;
    FileSeeker seeker;
    seeker.Folder = folder;
    seeker.Pattern = QStringLiteral("*.*");
    seeker.IncludeSubFolders = includeSubFolders;
    seeker.FoundFile = [&found](const QString &name, const QString &path) { found.append(path + name); };
    seeker.SkippedEntry = [&skipped](const QString &path, bool) { skipped.append(path); };
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
                                 "A/deep/y.txt", "A/m.txt", "c/c.txt", "c/d/o.txt"})
            dir.createFile(QStringLiteral("root/") + QLatin1String(name), name);
        dir.createDir("root/empty");
        QVERIFY(QFile::link(root + "a.txt", root + "linkToFile"));
        QVERIFY(QFile::link(dir.createDir("elsewhere"), root + "linkToFolder"));
        dir.createFile("elsewhere/e.txt");
        QVERIFY(makeFifo(root + "pipe"));
        const QByteArray badName = QFile::encodeName(root) + "bad\xff.txt";
        QVERIFY(::close(::open(badName.constData(), O_WRONLY | O_CREAT | O_EXCL, 0600)) == 0);
        const QByteArray locked = QFile::encodeName(dir.createDir("root/locked"));
        QVERIFY(::chmod(locked.constData(), 0) == 0);
        const auto cleanUp = qScopeGuard([&] { ::unlink(badName.constData()); }); // a name Qt cannot give back

        const QStringList topFiles{root + "10.txt", root + "9.txt", root + "B.txt", root + "a.txt",
                                   root + "b.txt", root + "noext", root + "z.txt"};
        const QString bad = root + QFile::decodeName("bad\xff.txt");
        const auto [flat, flatSkipped] = walk(dir.path("root"), false);
        QCOMPARE(flat, topFiles);
        QCOMPARE(flatSkipped, QStringList{bad});
        const auto [deep, deepSkipped] = walk(dir.path("root"), true);
        QCOMPARE(deep, topFiles + QStringList({root + "A/m.txt", root + "A/x.txt", root + "A/deep/y.txt",
                                               root + "c/c.txt", root + "c/d/o.txt"}));
        QCOMPARE(deepSkipped, (QStringList{bad, root + "locked/"}));
        QVERIFY(walk("/proc", true).first.isEmpty());
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

    void uniqueNameAndSpecialFolder()
    {
        SystemTools &tools = SystemTools::instance();
        const QString name = tools.GetUniqueName();
        QVERIFY2(QRegularExpression("^[0-9a-f]{32}$").match(name).hasMatch(), qPrintable(name));
        QVERIFY(tools.GetUniqueName() != name);

        // The program's scratch space: a folder of this user's alone.
        const QString base = tools.GetSpecialFolder(1003, 0, 0);
        struct stat st {};
        QVERIFY(!base.endsWith(QLatin1Char('/')) && ::lstat(QFile::encodeName(base).constData(), &st) == 0);
        QVERIFY(S_ISDIR(st.st_mode) && (st.st_mode & 077) == 0 && st.st_uid == ::geteuid());
        QVERIFY_THROWS_EXCEPTION(ToolkitError, (void)tools.GetSpecialFolder(1001, 0, 0));
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

    void deleteFileTrashes()
    {
        TestDir dir;
        const QString name = SystemTools::instance().GetUniqueName();
        const QString path = dir.createFile(name, "precious");
        SystemTools::instance().DeleteFile(path);
        QVERIFY(!QFileInfo::exists(path));
        QFile trashed(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash/files/" + name);
        QVERIFY2(trashed.open(QIODevice::ReadOnly), qPrintable(trashed.fileName()));
        QCOMPARE(trashed.readAll(), QByteArray("precious"));
        QVERIFY_THROWS_NO_EXCEPTION(SystemTools::instance().DeleteFile(path)); // already gone: no error
    }

    void textList()
    {
        TextList list;
        for (const char *text : {"a", "b", "a"})
            list.append(text);
        QCOMPARE(list.count(), 3);
        QCOMPARE((QStringList{list.item(1), list.item(2), list.item(3)}), (QStringList{"a", "b", "a"}));
        QVERIFY(CommonTools::instance().ListContains(list, "a"));
        QVERIFY(!CommonTools::instance().ListContains(list, "A") && !list.contains("c"));
    }
};

SAMELYN_TEST_MAIN(TestToolkit)
#include "tst_toolkit.moc"

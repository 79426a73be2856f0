// End-to-end tests of the search run, driven through the window as a user drives it.
#include "frmFinderMain.h"

#include "EventPump.h"
#include "GroupContent.h"
#include "SearchRun.h"
#include "SystemTools.h"
#include "TestDir.h"
#include "Worker.h"
#include "WindowDriver.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QRegularExpression>

#include <QElapsedTimer>

#include <atomic>
#include <climits>
#include <cmath>
#include <fcntl.h>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Buckets = QMap<QString, QByteArray>;

const std::atomic<bool> noCancel{false};

QStringList textsOf(const PathLines &list)
{
    QStringList texts;
    for (int i = 1; i <= list.count(); ++i)
        texts << list.item(i);
    return texts;
}

// Every bucket file of the window's workspace and what it holds.
Buckets workspaceOf(const SearchState &state)
{
    Buckets files;
    for (const QString &name : QDir(state.WorkFolder).entryList(QDir::Files | QDir::Hidden | QDir::System))
        files.insert(name, contentOf(state.WorkFolder + QLatin1Char('/') + name));
    return files;
}

// List lines of files in `folder` named by one letter each: "c b" are the paths of c and b,
// "cb" is the line of the pair (c, b).
QStringList linesOf(const QString &folder, const QString &tokens)
{
    QStringList lines;
    for (const QString &token : tokens.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QString first = folder + QLatin1Char('/') + token[0];
        lines.append((token.size() == 1 ? first : first + " <--> " + folder + QLatin1Char('/') + token[1]).toLower());
    }
    return lines;
}

// A bucket file as the run writes it: the lower-cased paths of `letters`, each ended by CR LF.
QByteArray bucket(const QString &folder, const QString &letters)
{
    QByteArray lines;
    for (const QString &path : linesOf(folder, letters))
        lines += QFile::encodeName(path) + "\r\n";
    return lines;
}

// Each proposed file with the file it was found equal to, by their real names.
QStringList destinedPairs(const SearchState &state)
{
    QStringList pairs;
    for (const DestinedPair &pair : state.DestinedPairs)
        pairs.append(state.Paths.path(pair.proposed) + QStringLiteral(" | ")
                     + state.Paths.path(state.CopySets.at(std::size_t(pair.set)).kept));
    return pairs;
}

// Entries of a folder of /proc/self: "fd" counts open descriptors, "task" threads.
int countOf(const char *what)
{
    return int(QDir(QStringLiteral("/proc/self/") + QLatin1String(what)).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size());
}

// Lowers the soft limit of open files for as long as it lives.
struct OpenFileLimit
{
    explicit OpenFileLimit(rlim_t soft)
    {
        ::getrlimit(RLIMIT_NOFILE, &saved);
        rlimit lowered = saved;
        lowered.rlim_cur = soft;
        if (::setrlimit(RLIMIT_NOFILE, &lowered) != 0)
            qFatal("cannot lower the open-file limit");
    }
    ~OpenFileLimit() { ::setrlimit(RLIMIT_NOFILE, &saved); }
    OpenFileLimit(const OpenFileLimit &) = delete;
    OpenFileLimit &operator=(const OpenFileLimit &) = delete;
    rlimit saved {};
};

// A file as the walk records it: its path and which file it is on disk.
DiskFile found(const QString &path)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        qFatal("cannot look at %s", qPrintable(path));
    return {QFile::encodeName(path), quint64(st.st_dev), quint64(st.st_ino)};
}

// A shown window whose message boxes are answered.
struct Finder
{
    Finder() { window.show(); }
    ~Finder() { EventPump::setHook({}); }

    // One search, started as a user starts it; gives the texts of the boxes it showed.
    QStringList search(const QString &folder)
    {
        if (!QTest::qWaitForWindowExposed(&window))
            return {QStringLiteral("the window was never shown")};
        const qsizetype before = messages.texts.size();
        control<QLineEdit>(window, "txtPath")->setText(folder);
        QTest::mouseClick(button("cmdStart"), Qt::LeftButton);
        return messages.texts.mid(before);
    }

    // Runs `act` once, after the first yield at which `when` holds.
    static void actOnce(std::function<bool()> when, std::function<void()> act)
    {
        EventPump::setHook([=, done = std::make_shared<bool>(false)] {
            if (!*done && (*done = when()))
                act();
        });
    }

    QPushButton *button(const char *name) const { return control<QPushButton>(window, name); }
    QStringList lines(const char *list) const { return ::lines(window, list); }
    const SearchState &state() const { return window.state(); }
    QStringList destined() const { return textsOf(state().DestinedFiles); }

    frmFinderMain window;
    MessageCatcher messages;
};

// The run's side of the window, told as a list of what it was asked to do: each status text
// as it changed, each box, and when the run took and gave back the buttons.
struct RecordingHost : SearchHost
{
    QString folder;
    QString status, statusB;
    QStringList told;

    QString folderText() const override { return folder; }
    bool subFoldersTicked() const override { return false; }
    void enterRunning() override { told << QStringLiteral("running"); }
    void leaveRunning() override { told << QStringLiteral("idle"); }
    QString statusText() const override { return status; }
    void setStatus(const QString &text) override
    {
        if (std::exchange(status, text) != text)
            told << text;
    }
    void setStatusB(const QString &text) override
    {
        if (std::exchange(statusB, text) != text)
            told << QStringLiteral("B: ") + text;
    }
    void setProgress(int) override {}
    void fileLinesAdded(int) override {}
    void equalLinesAdded(int) override {}
    void showDestined() override {}
    void showMessage(const QString &text) override { told << QStringLiteral("box: ") + text; }
    void yield() override { QCoreApplication::processEvents(); }
    void breathe() override {}
};

// The search as first drawn up, with nothing made fast: whole files read with QFile, lists
// searched from the front. The window must reach exactly its results.
struct PlainSearch
{
    QMap<QString, QStringList> buckets; // bucket name, lines in the order appended
    QHash<QString, QString> realPath;   // lower-cased path, the file behind it
    QStringList files, equal, destined, references; // files and equal: newest first
    QString status, statusB; // what the status lines say at the end
    int loads = 0;
    int stopAtLoad = 0; // the load during which the stop button is pressed, 0 for none
    bool stop = false;

    QString run(const QString &folder)
    {
        QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::NoSort);
        std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) { return keyOf(a) < keyOf(b); });
        for (const QString &name : names) {
            const QString path = folder + QLatin1Char('/') + name;
            realPath.insert(path.toLower(), path);
            buckets[QString::number(QFileInfo(path).size()) + QStringLiteral(".tmp")].append(path.toLower());
        }
        destined.clear();
        references.clear();
        int g = 0;
        for (auto group = buckets.cbegin(); group != buckets.cend() && !stop; ++group) {
            ++g;
            status = QStringLiteral("Comparing group %1 of %2 (%3)...").arg(g).arg(buckets.size()).arg(percent(g, buckets.size()));
            statusB.clear();
            if (group->size() > 1)
                compare(*group);
        }
        return std::exchange(stop, false) ? QStringLiteral("Canceled!") : QStringLiteral("DONE!");
    }

    // A folder's shown files come before its hidden ones, and a name that marks no copy before
    // one that does; then names go by stem, then extension, each case-folded, byte order
    // settling the rest. Leading dots start no extension, and ".tar.gz" and its kin are one.
    using Key = std::tuple<int, QString, QString, QByteArray, QByteArray>;
    static Key keyOf(const QString &name)
    {
        const auto hasStem = [](QByteArrayView before) {
            return std::any_of(before.begin(), before.end(), [](char c) { return c != '.'; });
        };
        QByteArray stem = QFile::encodeName(name);
        QByteArray extension;
        const qsizetype dot = stem.lastIndexOf('.');
        if (dot >= 0 && hasStem(stem.first(dot))) {
            extension = stem.sliced(dot);
            stem.truncate(dot);
            const QByteArrayList packed{".gz", ".xz", ".bz2", ".zst"};
            if (packed.contains(extension.toLower()) && stem.toLower().endsWith(".tar") && hasStem(stem.chopped(4))) {
                extension.prepend(stem.last(4));
                stem.chop(4);
            }
        }
        const QString foldedStem = QFile::decodeName(stem).toCaseFolded();
        static const QRegularExpression copyMark(QStringLiteral(
            "[ \\-_\u2013\u2014](copy( [0-9]+)?|kopie( [0-9]+)?|copie|\\([0-9]+\\))$|^(copy of |kopie von |copie de )"));
        const QString folded = name.toCaseFolded();
        const bool marked = copyMark.match(foldedStem).hasMatch() || folded.endsWith(QLatin1String(".bak"))
            || folded.endsWith(QLatin1String(".orig")) || folded.endsWith(QLatin1Char('~'));
        return Key(int(name.startsWith(QLatin1Char('.'))) * 2 + int(marked), foldedStem,
                          QFile::decodeName(extension).toCaseFolded(), stem, extension);
    }

    static QString percent(qsizetype part, qsizetype whole)
    {
        return QString::number(std::llround(100.0 * double(part) / double(whole))) + QLatin1Char('%');
    }

    QByteArray load(const QString &path, qsizetype no, qsizetype total)
    {
        if (++loads == stopAtLoad)
            stop = true;
        statusB = QStringLiteral("File loaded into memory: (") + percent(no, total) + QStringLiteral(") ")
            + path.section(QLatin1Char('/'), -1);
        return contentOf(realPath.value(path));
    }

    void compare(const QStringList &group)
    {
        for (qsizetype j = 0; j < group.size(); ++j) {
            const QString &outer = group[j];
            files.prepend(outer);
            const QByteArray reference = load(outer, j + 1, group.size());
            for (const QString &inner : group) {
                if (&inner != &outer && load(inner, j + 1, group.size()) == reference) {
                    equal.prepend(outer + QStringLiteral(" <--> ") + inner);
                    references.append(outer);
                    if (!references.contains(inner) && !destined.contains(inner))
                        destined.append(inner);
                }
                if (stop)
                    return;
            }
        }
    }
};

} // namespace

class tst_search : public QObject
{
    Q_OBJECT

private:
    TestDir m_tree;
    QString m_root; // the tree without links, as the run shows it
    int m_cases = 0;

    // A new folder of the tree, named by its canonical path.
    QString freshFolder()
    {
        return QFileInfo(m_tree.createDir(QStringLiteral("case%1").arg(++m_cases))).canonicalFilePath();
    }
    static void put(const QString &path, const QByteArray &bytes = {})
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(bytes), bytes.size());
    }
    QString pair() const { return m_root + QStringLiteral("/pair"); }

private slots:
    void initTestCase()
    {
        QApplication::setQuitOnLastWindowClosed(false);
        frmFinderMain::setFatalHandler([] { QFAIL("the window met an error it could not go on from"); });
        m_root = QFileInfo(m_tree.path()).canonicalFilePath();
        // a and b equal, c alone in its size.
        m_tree.createFile(QStringLiteral("pair/a"), "0123456789");
        m_tree.createFile(QStringLiteral("pair/b"), "0123456789");
        m_tree.createFile(QStringLiteral("pair/c"), "01234567890123456789");
        QVERIFY(QFile::link(pair(), m_root + QStringLiteral("/alias")));
    }

    // The run alone, without a window: every status text it shows, with its numbers, in order.
    // An empty folder, searched first, is listed and nothing more.
    void runWithoutWindow()
    {
        SearchState state;
        state.WorkFolder = m_tree.createDir(QStringLiteral("work%1").arg(++m_cases));
        RecordingHost host;
        ScopedHook everyYield([] {}); // the run then publishes at every point, not when due
        host.folder = m_tree.createDir(QStringLiteral("empty"));
        SearchRun(state, host).run();
        QCOMPARE(host.told, (QStringList{"running", "Searching for files...", "box: DONE!", "idle"}));
        QCOMPARE(state.DestinedFiles.count(), 0);

        host.told.clear();
        host.status.clear();
        host.folder = pair();
        SearchRun(state, host).run();
        QCOMPARE(host.told, (QStringList{"running", "Searching for files...", "Reading file 1 of 3 (33%)...",
                                         "Reading file 2 of 3 (67%)...", "Reading file 3 of 3 (100%)...",
                                         "Comparing group 1 of 2 (50%)...", "B: File loaded into memory: (50%) a",
                                         "B: File loaded into memory: (50%) b", "B: File loaded into memory: (100%) b",
                                         "B: File loaded into memory: (100%) a", "Comparing group 2 of 2 (100%)...",
                                         "B: ", "box: DONE!", "idle"}));
        QCOMPARE(textsOf(state.DestinedFiles), linesOf(pair(), "b"));
    }

    void repeatedSearch_data()
    {
        QTest::addColumn<QString>("again");
        QTest::newRow("trailing slash") << pair() + QStringLiteral("/");
        QTest::newRow("dot-dot") << pair() + QStringLiteral("/../pair");
        QTest::newRow("link to the folder") << m_root + QStringLiteral("/alias");
    }
    void repeatedSearch()
    {
        QFETCH(QString, again);
        Finder f;
        QCOMPARE(f.search(pair()), QStringList{"DONE!"});
        QCOMPARE(workspaceOf(f.state()), (Buckets{{"10.tmp", bucket(pair(), "a b")}, {"20.tmp", bucket(pair(), "c")}}));
        QCOMPARE(f.destined(), linesOf(pair(), "b"));

        // Every path now stands twice in its group, paired with itself too, yet nothing new
        // is proposed; the older lines stay below.
        QCOMPARE(f.search(again), QStringList{"DONE!"});
        QCOMPARE(workspaceOf(f.state()),
                 (Buckets{{"10.tmp", bucket(pair(), "a b a b")}, {"20.tmp", bucket(pair(), "c c")}}));
        QCOMPARE(f.lines("lstFiles"), linesOf(pair(), "c c b a b a b a"));
        QCOMPARE(f.lines("lstEqual"), linesOf(pair(), "cc cc ba bb ba ab ab aa bb ba ba ab aa ab ba ab"));
        QCOMPARE(f.destined(), linesOf(pair(), "b"));
        QCOMPARE(destinedPairs(f.state()), QStringList{pair() + "/b | " + pair() + "/a"});
    }

    // Reading starts before the workspace is listed, in the order it will list the groups; a
    // bucket file the window did not write upsets that order, and the reading starts over.
    void foreignBucket()
    {
        Finder f;
        QCOMPARE(f.search(pair()), QStringList{"DONE!"});
        QFile foreign(f.state().WorkFolder + "/11.tmp");
        QVERIFY(foreign.open(QIODevice::WriteOnly) && foreign.write("/nowhere/x\r\n/nowhere/y\r\n") > 0);
        foreign.close();
        QCOMPARE(f.search(pair()), QStringList{"DONE!"});
        QCOMPARE(f.lines("lstFiles"), (linesOf(pair(), "c c") + QStringList{"/nowhere/y", "/nowhere/x"} + linesOf(pair(), "b a b a b a")));
        QCOMPARE(f.lines("lstEqual").mid(0, 2), linesOf(pair(), "cc cc"));
        QCOMPARE(f.destined(), linesOf(pair(), "b"));
    }

    // Two searches over folders of several classes of equal files, the second meeting the
    // first's files again, checked against the plain search: with a stop pressed during each
    // load in turn, and for a group too large to hold its files open at once.
    void matchesPlainSearch_data()
    {
        QTest::addColumn<QList<QByteArray>>("contents");
        QTest::addColumn<QList<int>>("firstPick");
        QTest::addColumn<QList<int>>("secondPick");
        QTest::addColumn<bool>("stopAtEveryLoad");
        QTest::addColumn<bool>("readerListens"); // files are then read by one thread, not two

        // Equal pairs, and files that differ only in their last byte, just past the first block
        // read, or deep inside: every way a memo or a chunked reader could get it wrong.
        QByteArray large(5 * 1024 * 1024 + 7, 'x'), largeMiddle = large, largeLast = large;
        largeMiddle[3 * 1024 * 1024 + 65536] = 'y';
        largeLast[large.size() - 1] = 'y';
        QByteArray block(4097, 'b'), blockEdge = block;
        blockEdge[4096] = 'c';
        QTest::newRow("stop at every load")
            << QList<QByteArray>{"aaaa", "aaab", "bbbb", "ccccc", "ccccd", "", "xy", large, largeMiddle, largeLast,
                                 block, blockEdge}
            << QList<int>{0, 1, 0, 2, 0, 3, 4, 3, 5, 5, 6, 7, 8, 7, 10, 11, 10, 9}
            << QList<int>{2, 0, 3, 6, 6, 5, 8, 1, 11, 9} << true << false;

        // More files of one size and one first block than may be open at once.
        QList<QByteArray> variants;
        for (const char last : {'p', 'q', 'r'})
            variants << QByteArray(4096, 's') + QByteArray(900, 't') + last;
        QList<int> many;
        for (int i = 0; i < 150; ++i)
            many << (i % 7 == 0 ? 1 : i % 11 == 0 ? 2 : 0);
        QTest::newRow("many open files, a screen reader listening") << variants << many << QList<int>{2, 1} << false << true;
    }
    void matchesPlainSearch()
    {
        QFETCH(QList<QByteArray>, contents);
        QFETCH(QList<int>, firstPick);
        QFETCH(QList<int>, secondPick);
        QFETCH(bool, stopAtEveryLoad);
        QFETCH(bool, readerListens);
        EventPump::assumeReaderForTests(readerListens);
        const auto deaf = qScopeGuard([] { EventPump::assumeReaderForTests(false); });
        const QString base = freshFolder();
        const QStringList folders = {base + QStringLiteral("/first"), base + QStringLiteral("/second")};
        QVERIFY(QDir().mkpath(folders[0]) && QDir().mkpath(folders[1]));
        // Names whose order differs from their byte order: a copy's name is its original's with
        // something added before the extension, some are hidden, and their case varies.
        const char *const copies[] = {"", " copy", "(1)", "-old"};
        for (qsizetype i = 0; i < firstPick.size(); ++i)
            put(folders[0] + QStringLiteral("/%1%2%3.dat").arg(i % 5 == 4 ? ".f" : i / 4 % 2 ? "F" : "f")
                                 .arg(i / 4, 3, 10, QLatin1Char('0')).arg(copies[i % 4]),
                contents[firstPick[i]]);
        for (qsizetype i = 0; i < secondPick.size(); ++i)
            put(folders[1] + QStringLiteral("/S%1%2.tar.gz").arg(i / 2).arg(copies[i % 2 * 3]), contents[secondPick[i]]);

        PlainSearch whole;
        whole.run(folders[0]);
        whole.run(folders[1]);
        const int lastStop = stopAtEveryLoad ? whole.loads : 0;
        for (int stopAtLoad = 0; stopAtLoad <= lastStop; ++stopAtLoad) {
            PlainSearch plain;
            plain.stopAtLoad = stopAtLoad;
            Finder f;
            const quint64 before = f.state().LoadCount;
            // Without a stop, no hook: the loads between two runs of the event loop are then
            // made in one step.
            if (stopAtLoad > 0)
                Finder::actOnce([&] { return int(f.state().LoadCount - before) == stopAtLoad; },
                                [&] { QTest::mouseClick(f.button("cmdStop"), Qt::LeftButton); });
            for (const QString &folder : folders) {
                const QString expected = plain.run(folder);
                const QByteArray where = "stop at load " + QByteArray::number(stopAtLoad) + " in " + folder.toUtf8();
                QVERIFY2(f.search(folder) == QStringList{expected}, where);
                QVERIFY2(int(f.state().LoadCount - before) == plain.loads, where);
                QVERIFY2(f.lines("lstFiles") == plain.files, where);
                QVERIFY2(f.lines("lstEqual") == plain.equal, where);
                QVERIFY2(f.destined() == plain.destined, where);
                const std::vector<QString> references = f.state().ReferenceFiles();
                QVERIFY2(QStringList(references.begin(), references.end()) == plain.references, where);
                QVERIFY2(f.lines("lstDestined") == plain.destined, where);
                QVERIFY2(f.window.statusText() == plain.status, where);
                QVERIFY2(f.window.statusBText() == plain.statusB, where);
            }
        }
    }

    // Equal exactly when every byte is: files that differ at the first byte, at the edges of
    // the blocks a group is read in, in the middle or at the last byte; two names of one file
    // are one file; past 2 GiB nothing wraps.
    void groupContent_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<qint64>("changeAt"); // -1: a copy
        constexpr qint64 MiB = 1024 * 1024;
        const qint64 size = 3 * MiB + 5;
        QTest::newRow("empty") << qint64(0) << qint64(-1);
        QTest::newRow("one byte") << qint64(1) << qint64(0);
        const std::pair<const char *, qint64> changes[] = {
            {"a copy", -1}, {"first byte", 0}, {"last of the first block", 4095}, {"after it", 4096},
            {"middle", size / 2}, {"before a chunk edge", 4096 + MiB - 1}, {"after it", 4096 + MiB},
            {"before the last block", size - 4097}, {"first of the last block", size - 4096},
            {"last byte", size - 1}};
        for (const auto &[where, at] : changes)
            QTest::addRow("%s", where) << size << at;
        QTest::newRow("past 2 GiB, last byte") << qint64(3221225472) << qint64(3221225471);
    }
    void groupContent()
    {
        QFETCH(qint64, size);
        QFETCH(qint64, changeAt);
        // Holes read many times faster from a memory file system.
        QTemporaryDir inMemory("/dev/shm/tst_search-XXXXXX");
        const QString folder = inMemory.isValid() ? inMemory.path() : freshFolder();
        const auto write = [&](const QString &name, qint64 at) {
            QFile file(folder + QLatin1Char('/') + name);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(size));
            for (const qint64 where : {qint64(0), size / 3, size - 1}) {
                if (where >= 0 && where < size)
                    QVERIFY(file.seek(where) && file.putChar(char(where % 251 + 1)));
            }
            if (at >= 0)
                QVERIFY(file.seek(at) && file.putChar('\x7f'));
        };
        write("a", -1);
        write("b", changeAt);
        write("c", -1);
        QCOMPARE(::link(QFile::encodeName(folder + "/a").constData(), QFile::encodeName(folder + "/link").constData()), 0);
        const std::vector<DiskFile> files = {found(folder + "/a"), found(folder + "/b"), found(folder + "/link"),
                                             found(folder + "/c")};
        GroupContent content;
        QVERIFY(content.examine(files, size, noCancel));
        for (int i = 0; i < 4; ++i)
            QVERIFY(content.stateOf(i) == GroupContent::State::Loaded);
        QCOMPARE(content.classOf(2), content.classOf(0));
        QCOMPARE(content.classOf(3), content.classOf(0));
        QCOMPARE(content.classOf(1) == content.classOf(0), changeAt < 0);
    }

    // A file that cannot be read is told apart from one that is no longer the file found:
    // gone, replaced, or reached through a link.
    void groupContentTrouble()
    {
        const QString folder = freshFolder();
        const QStringList names = {"kept", "unreadable", "gone", "replaced", "fifo", "link", "sub/below"};
        for (const QString &name : names)
            m_tree.createFile(QDir(m_root).relativeFilePath(folder + "/" + name), "bytes");
        std::vector<DiskFile> files;
        for (const QString &name : names)
            files.push_back(found(folder + "/" + name));
        QVERIFY(QFile::setPermissions(folder + "/unreadable", {}));
        QVERIFY(QFile::remove(folder + "/gone"));
        // Made while the first still exists, so that it cannot be given the freed inode.
        put(folder + "/replacement", "bytes");
        QCOMPARE(::rename(QFile::encodeName(folder + "/replacement").constData(), QFile::encodeName(folder + "/replaced").constData()), 0);
        QVERIFY(QFile::remove(folder + "/fifo"));
        QCOMPARE(::mkfifo(QFile::encodeName(folder + "/fifo").constData(), 0600), 0); // opening must not wait
        QVERIFY(QFile::remove(folder + "/link") && QFile::link(folder + "/kept", folder + "/link"));
        QVERIFY(QDir(folder).rename("sub", "real") && QFile::link(folder + "/real", folder + "/sub"));

        GroupContent content;
        QVERIFY(content.examine(files, 5, noCancel));
        using State = GroupContent::State;
        const QList<State> expected = {State::Loaded, State::Unreadable, State::Gone, State::Gone,
                                       State::Gone, State::Gone, State::Gone};
        for (int i = 0; i < int(names.size()); ++i)
            QVERIFY2(content.stateOf(i) == expected[i], qPrintable(names[i]));
    }

    // Which file a name leads to decides, not its lower-cased line: each file is loaded and
    // proposed by its own name, and two whose names differ only in case are two files. A hard
    // link of the kept file is never proposed; one of a proposed file is proposed with it, or
    // moving it would free nothing. Symbolic links and a FIFO are no candidates, and none of
    // them is an error. A size past 2 GiB names its bucket whole.
    void specialEntries()
    {
        const QString folder = freshFolder();
        for (const char *const name : {"a", "b"})
            put(folder + '/' + name, "same");
        for (const auto &[name, bytes] : {std::pair("C", "two"), {"F", "one"}, {"f", "two"}, {"G", "equal"}, {"g", "equal"}})
            put(folder + '/' + name, bytes);
        const auto link = [&](const char *name, const char *to) {
            return ::link(QFile::encodeName(folder + name).constData(), QFile::encodeName(folder + to).constData());
        };
        QCOMPARE(link("/a", "/c"), 0);
        QCOMPARE(link("/b", "/d"), 0);
        QVERIFY(QDir(folder).mkdir("sub"));
        put(folder + "/sub/s", "same");
        QVERIFY(QFile::link(folder + "/a", folder + "/link"));
        QVERIFY(QFile::link(folder + "/sub", folder + "/sublink"));
        QCOMPARE(::mkfifo(QFile::encodeName(folder + "/fifo").constData(), 0600), 0);
        put(folder + "/z");
        QVERIFY(QFile::resize(folder + "/z", 3221225472));

        Finder f;
        auto *tick = control<QCheckBox>(f.window, "chkSubDirs");
        QTest::keyClick(tick, Qt::Key_Space);
        QVERIFY(tick->isChecked());
        QCOMPARE(f.search(folder), QStringList{"DONE!"});
        QCOMPARE(workspaceOf(f.state()), (Buckets{{"3.tmp", bucket(folder, "C F f")},
                                                  {"4.tmp", bucket(folder, "a b c d") + bucket(folder + "/sub", "s")},
                                                  {"5.tmp", bucket(folder, "G g")},
                                                  {"3221225472.tmp", bucket(folder, "z")}}));
        QCOMPARE(f.lines("lstEqual").size(), 24);
        QCOMPARE(f.lines("lstEqual").mid(0, 2), linesOf(folder, "gg gg"));
        const QString a = " | " + folder + "/a";
        QCOMPARE(destinedPairs(f.state()), (QStringList{folder + "/f | " + folder + "/C", folder + "/b" + a,
                                                        folder + "/d" + a, folder + "/sub/s" + a, folder + "/g | " + folder + "/G"}));
    }

    // A home as people have one, searched with its sub-folders: of each pair the original is
    // kept, whether the copy sits in a backup folder, in a hidden cache, or has a copy's name.
    void homeKeepsOriginals()
    {
        const QString home = freshFolder();
        const QList<std::pair<QString, QString>> pairs{
            {"Pictures/2023/IMG_1001.jpg", "Backup/Pictures-2023/IMG_1001.jpg"},
            {"Pictures/2023/IMG_1002.jpg", "Backup/Pictures-2023/IMG_1002.jpg"},
            {"Pictures/2023/IMG_1003.jpg", "Backup/Pictures-2023/IMG_1003.jpg"},
            {"Videos/film.mkv", "Backup/film.mkv"},
            {"Documents/letter.odt", "Old/letter.odt"},
            {QStringLiteral("Documents/kündigung wohnung.txt"), QStringLiteral("Documents/Kündigung Wohnung – Kopie.txt")},
            {"Pictures/photo.png", "Pictures/Photo copy.png"},
            {"Pictures/2023/IMG_1004.jpg", ".cache/thumbs/.thumb_IMG_1004.jpg"},
            {"Downloads/report.pdf", "Downloads/report (1).pdf"},
            {"Notes/b.txt", "Notes/C.txt"}};
        QStringList copies;
        for (qsizetype i = 0; i < pairs.size(); ++i) {
            const QByteArray content = QByteArray(int(i % 3) + 5, char('a' + i)); // some sizes shared
            for (const QString &name : {pairs[i].first, pairs[i].second}) {
                QVERIFY(QDir().mkpath(QFileInfo(home + '/' + name).path()));
                put(home + '/' + name, content);
            }
            copies << (home + '/' + pairs[i].second).toLower();
        }
        Finder f;
        QTest::keyClick(control<QCheckBox>(f.window, "chkSubDirs"), Qt::Key_Space);
        QCOMPARE(f.search(home), QStringList{"DONE!"});
        QStringList destined = f.destined();
        destined.sort();
        copies.sort();
        QCOMPARE(destined, copies);
    }

    // A file that cannot be read is left out and named, and so is one the run cannot name: a
    // line break would split its bucket line, and the system takes neither a name that is not
    // valid UTF-8 nor a path past its limit. A folder of such a name is named once. One gone
    // since it was found is no news. The run goes on with the others.
    void troubledFilesAreLeftOut_data()
    {
        QTest::addColumn<QByteArray>("name"); // "@": folders that make the path a byte too long
        QTest::addColumn<char>("trouble"); // u: unreadable, v: vanishes once gathered, n: its name
        QTest::addColumn<QString>("listed");
        QTest::addColumn<QString>("report"); // %1: the folder searched
        const QString byName = "1 file was left out because of its name or path:\n%1/";
        const QString folderByName = "1 folder was left out because of its name or path:\n%1/";
        const QString lineBreak = " (its name holds a line break)";
        const QString notUtf8 = " (its name is not valid UTF-8)";
        const QString replaced = QString(QChar::ReplacementCharacter);
        QTest::newRow("unreadable") << QByteArray("b") << 'u' << "c b a"
                                    << "1 file could not be read and was left out:\n%1/b";
        QTest::newRow("vanished") << QByteArray("b") << 'v' << "c b a" << "";
        QTest::newRow("line feed in name") << QByteArray("b\nx") << 'n' << "c a" << byName + "b\\nx" + lineBreak;
        QTest::newRow("carriage return in name") << QByteArray("b\rx") << 'n' << "c a" << byName + "b\\rx" + lineBreak;
        QTest::newRow("name not UTF-8") << QByteArray("b\xff") << 'n' << "c a" << byName + "b" + replaced + notUtf8;
        QTest::newRow("path too long") << QByteArray("@b") << 'n' << "c a"
                                       << byName + "@b (its path is longer than the system allows)";
        QTest::newRow("folder name with a line feed") << QByteArray("d\nx/b") << 'n' << "c a"
                                                      << folderByName + "d\\nx/" + lineBreak;
        QTest::newRow("folder name not UTF-8") << QByteArray("d\xff/b") << 'n' << "c a"
                                               << folderByName + "d" + replaced + "/" + notUtf8;
    }
    void troubledFilesAreLeftOut()
    {
        QFETCH(QByteArray, name);
        QFETCH(char, trouble);
        QFETCH(QString, listed);
        QFETCH(QString, report);
        const QString folder = freshFolder();
        const auto cleanUp = qScopeGuard([&] { SystemTools::instance().DeleteFolder(folder); });
        if (name.startsWith('@')) {
            const QByteArray deep = relativeOfLength(QFile::encodeName(folder).size(), PATH_MAX, name.mid(1));
            report.replace('@', QString::fromLatin1(deep.chopped(name.size() - 1)));
            name = deep;
        }
        put(folder + "/a", "same");
        createBelow(folder, name, "same");
        put(folder + "/c", "same");
        const QString troubled = folder + '/' + QString::fromLatin1(name);
        if (trouble == 'u')
            QVERIFY(QFile::setPermissions(troubled, {}));

        Finder f;
        QTest::keyClick(control<QCheckBox>(f.window, "chkSubDirs"), Qt::Key_Space);
        if (trouble == 'v')
            Finder::actOnce([&f] { return f.window.statusText().startsWith("Reading file"); },
                            [troubled] { QVERIFY(QFile::remove(troubled)); });
        QCOMPARE(f.search(folder), QStringList{"DONE!" + (report.isEmpty() ? QString() : "\n\n" + report.arg(folder))});
        QCOMPARE(f.lines("lstFiles"), linesOf(folder, listed));
        QCOMPARE(f.lines("lstEqual"), linesOf(folder, "ca ac"));
        QCOMPARE(f.destined(), linesOf(folder, "c"));
        QCOMPARE(workspaceOf(f.state()).value("4.tmp").count("\r\n"), linesOf(folder, listed).size()); // never split
    }

    void folderProblems_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("message"); // empty: any message naming the text
        const QString missing = m_root + "/nothere";
        QTest::newRow("missing, trailing blank") << missing + " " << "Folder not found: \"" + missing + " \"";
        QTest::newRow("relative") << QDir::current().relativeFilePath(pair()) << "";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("blank") << "   " << "";
        QTest::newRow("a file") << pair() + "/a" << "";
        for (const char *kernel : {"/proc/self", "/sys"})
            QTest::newRow(kernel) << kernel
                                  << QStringLiteral("Folder on a kernel file system, never searched: \"%1\"").arg(kernel);
    }
    void folderProblems()
    {
        QFETCH(QString, typed);
        QFETCH(QString, message);
        Finder f;
        QCOMPARE(f.search(pair()), QStringList{"DONE!"});
        const auto shown = [&f] {
            return QList{f.lines("lstFiles"), f.lines("lstEqual"), f.lines("lstDestined"), f.destined(),
                         QStringList{f.window.statusText(), f.window.statusBText()}};
        };
        const auto before = shown();
        const Buckets buckets = workspaceOf(f.state());

        // A stop asked for meanwhile must not outlive the refused run.
        Finder::actOnce([] { return true; }, [&f] { QTest::mouseClick(f.button("cmdStop"), Qt::LeftButton); });
        const QStringList texts = f.search(typed);
        QCOMPARE(texts.size(), 1);
        if (!message.isEmpty())
            QCOMPARE(texts[0], message);
        QVERIFY2(texts[0].contains(typed.trimmed()) && texts[0] != "DONE!" && texts[0] != "Canceled!",
                 qPrintable(texts[0]));
        QCOMPARE(shown(), before);
        QCOMPARE(workspaceOf(f.state()), buckets);
        QVERIFY(!f.state().StopRequested);
        QVERIFY(!f.window.isRunning() && f.button("cmdStart")->isEnabled() && !f.button("cmdStop")->isVisible());
    }

    // More classes of equal files than the process may open files, in a group too large to
    // hold open at once: every pair is found, nothing is called unreadable, nothing stays open.
    // With a reader allowed more than the limit, running out is met and recovered from.
    void openFileLimit_data()
    {
        QTest::addColumn<int>("cap"); // 0: from the limit
        QTest::newRow("cap from the limit") << 0;
        QTest::newRow("cap above the limit") << 128;
    }
    void openFileLimit()
    {
        QFETCH(int, cap);
        const QString folder = freshFolder();
        constexpr int Pairs = 150;
        std::vector<DiskFile> files;
        for (int i = 0; i < 2 * Pairs; ++i) {
            const QString path = folder + QStringLiteral("/f%1").arg(i);
            put(path, QByteArray::number(i / 2).rightJustified(100, '0'));
            files.push_back(found(path));
        }
        const int openBefore = countOf("fd");
        GroupContent content;
        {
            const OpenFileLimit limit(rlim_t(openBefore + 40));
            QVERIFY(content.examine(files, 100, noCancel, cap ? cap : GroupContent::descriptorCap()));
        }
        QCOMPARE(countOf("fd"), openBefore);
        QSet<int> classes;
        for (int i = 0; i < 2 * Pairs; ++i) {
            QVERIFY2(content.stateOf(i) == GroupContent::State::Loaded, qPrintable(QString::number(i)));
            if (i % 2)
                QCOMPARE(content.classOf(i), content.classOf(i - 1));
            classes.insert(content.classOf(i));
        }
        QCOMPARE(classes.size(), Pairs);
    }

    // A stop or a close lets go at once, however long the reading would take, and even while a
    // read never returns: before the group's files are read, while they are, or while the
    // files are listed or sorted by size. The group then shows its first file only, as when the
    // stop comes during that file's load, and no file is read after a stop that came before
    // the comparison. Nothing is read behind a box either: the reading starts again once it is
    // answered. No thread whose results anybody sees is left at the boxes, and once a held
    // read returns, no descriptor or thread is left at all.
    void stoppingLetsGo_data()
    {
        QTest::addColumn<QString>("when"); // the status line at which to act, and how long after
        QTest::addColumn<int>("afterMs");
        QTest::addColumn<char>("act"); // s: stop, c: close, b: a box
        QTest::addColumn<int>("megabytes"); // of each of the four files
        QTest::addColumn<bool>("hangs");    // the first read waits on a FIFO until the test writes
        QTest::newRow("stop while files are listed") << "Searching for files" << 0 << 's' << 4096 << false;
        QTest::newRow("stop while buckets are written") << "Reading file" << 0 << 's' << 4096 << false;
        QTest::newRow("stop while the group is read") << "Comparing group" << 150 << 's' << 4096 << false;
        QTest::newRow("close while the group is read") << "Comparing group" << 150 << 'c' << 4096 << false;
        QTest::newRow("a box while the group is read") << "Comparing group" << 150 << 'b' << 512 << false;
        QTest::newRow("stop while a read hangs") << "Comparing group" << 0 << 's' << 1 << true;
        QTest::newRow("close while a read hangs") << "Comparing group" << 0 << 'c' << 1 << true;
    }
    void stoppingLetsGo()
    {
        QFETCH(QString, when);
        QFETCH(int, afterMs);
        QFETCH(char, act);
        QFETCH(int, megabytes);
        QFETCH(bool, hangs);
        // Four sparse files, equal but for the last byte of one: seconds of reading at best.
        const QString folder = freshFolder();
        const qint64 size = qint64(megabytes) << 20;
        for (const char *name : {"a", "b", "c", "d"}) {
            QFile file(folder + QLatin1Char('/') + QLatin1String(name));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(size));
            QVERIFY(file.seek(size - 1) && file.putChar(*name == 'd' ? 'y' : 'x'));
        }
        const QByteArray fifo = QFile::encodeName(folder) + ".fifo";
        std::atomic<bool> held{false};
        if (hangs) {
            QVERIFY(::mkfifo(fifo.constData(), 0600) == 0);
            GroupContent::setBeforeReadForTests([&held, fifo] {
                if (held.exchange(true))
                    return;
                char byte;
                const int fd = ::open(fifo.constData(), O_RDONLY | O_CLOEXEC); // waits for a writer
                while (fd >= 0 && ::read(fd, &byte, 1) > 0) {
                }
                ::close(fd);
            });
        }
        const auto release = qScopeGuard([&] {
            if (hangs)
                ::close(::open(fifo.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
        });
        Finder f;
        QVERIFY(QTest::qWaitForWindowExposed(&f.window));
        // A stop before the comparison leaves no file of this search in the buckets: an
        // earlier search's pair is the first group then.
        const bool early = !when.startsWith("Comparing");
        const QString seed = freshFolder();
        if (early) {
            put(seed + "/p", "same");
            put(seed + "/q", "same");
            QCOMPARE(f.search(seed), QStringList{"DONE!"});
        }
        const QStringList filesBefore = f.lines("lstFiles"), equalBefore = f.lines("lstEqual");
        const quint64 loadsBefore = f.state().LoadCount;
        std::atomic<int> reads{0};
        if (!hangs)
            GroupContent::setBeforeReadForTests([&reads] { ++reads; });
        const auto noHook = qScopeGuard([] { GroupContent::setBeforeReadForTests({}); });
        const QString work = f.state().WorkFolder;
        QTRY_COMPARE(Worker::alive(), 0); // the seed's readers, let go of at its end
        const int openBefore = countOf("fd");
        const int threadsBefore = countOf("task");

        // Threads at every box whose results anybody will see; the held read still held.
        QList<int> workingAtBoxes;
        bool heldAtBoxes = true;
        Messages::setHandler([&](QWidget *, const QString &text) {
            f.messages.texts.append(text);
            workingAtBoxes.append(Worker::working());
            heldAtBoxes = heldAtBoxes && (!hangs || Worker::alive() > 0);
        });
        QElapsedTimer since, acted;
        Finder::actOnce(
            [&] {
                if (!f.window.statusText().startsWith(when) || (hangs && !held))
                    return false;
                if (!since.isValid())
                    since.start();
                return since.elapsed() >= afterMs;
            },
            [&] {
                acted.start();
                if (act == 'c') {
                    f.window.close();
                } else if (act == 's') {
                    QTest::mouseClick(f.button("cmdStop"), Qt::LeftButton);
                } else {
                    f.window.lstFiles_DblClick();
                }
            });
        const QStringList texts = f.search(folder);
        const qint64 actedMs = acted.elapsed();
        QVERIFY(acted.isValid());
        QVERIFY(!f.window.isRunning());
        QVERIFY(heldAtBoxes);
        if (hangs) {
            ::close(::open(fifo.constData(), O_WRONLY | O_CLOEXEC)); // the held read returns
            GroupContent::setBeforeReadForTests({});
            QVERIFY(::unlink(fifo.constData()) == 0);
        }
        QTRY_COMPARE(countOf("task"), threadsBefore);
        QTRY_COMPARE(countOf("fd"), openBefore);
        if (act == 'b') {
            // Behind the box, only the scratch folder's own thread, which reads nothing of the user's.
            QCOMPARE(workingAtBoxes, (QList<int>{1, 0}));
            QCOMPARE(texts, (QStringList{"", "DONE!"}));
            QCOMPARE(f.lines("lstEqual"), linesOf(folder, "cb ca bc ba ac ab"));
            return;
        }
        QCOMPARE(workingAtBoxes, QList<int>(texts.size(), 0));
        QVERIFY2(actedMs < 500, qPrintable(QString::number(actedMs)));
        if (act == 'c') {
            QCOMPARE(texts, QStringList());
            QVERIFY(!f.window.isVisible() && !QFileInfo::exists(work));
            return;
        }
        QCOMPARE(texts, QStringList{"Canceled!"});
        QCOMPARE(f.lines("lstFiles"), (early ? linesOf(seed, "p") : linesOf(folder, "a")) + filesBefore);
        QCOMPARE(f.lines("lstEqual"), equalBefore);
        QCOMPARE(f.destined(), QStringList());
        QCOMPARE(f.lines("lstDestined"), QStringList());
        QCOMPARE(f.state().LoadCount, loadsBefore + 1);
        QCOMPARE(f.window.statusBText(), early ? QStringLiteral("File loaded into memory: (50%) p")
                                               : QStringLiteral("File loaded into memory: (25%) a"));
        if (early) {
            QCOMPARE(reads.load(), 0);
            // The files this search found are in no bucket, on disk or in the window's memory
            // of them: a later search meets them as new.
            QVERIFY(!f.state().BucketFiles.contains(size));
            QVERIFY(!QFileInfo::exists(work + QStringLiteral("/%1.tmp").arg(size)));
        }
    }
};

SAMELYN_TEST_MAIN(tst_search)
#include "tst_search.moc"

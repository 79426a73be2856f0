// End-to-end tests of the search run, driven through the window as a user drives it.
#include "frmFinderMain.h"

#include "EventPump.h"
#include "LineListBox.h"
#include "StatusLine.h"
#include "TestDir.h"
#include "WindowDriver.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStyleOptionButton>

#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QStringList textsOf(const TextList &list)
{
    return QStringList(list.items().begin(), list.items().end());
}

// Every bucket file of the window's workspace and what it holds.
QMap<QString, QByteArray> workspaceOf(const SearchState &state)
{
    QMap<QString, QByteArray> files;
    for (const QString &name : QDir(state.WorkFolder).entryList(QDir::Files | QDir::Hidden | QDir::System))
        files.insert(name, contentOf(state.WorkFolder + QLatin1Char('/') + name));
    return files;
}

// Bucket lines as the run writes them: lower-cased paths, each ended by CR LF.
QByteArray bucketLines(const QStringList &paths)
{
    QByteArray lines;
    for (const QString &path : paths)
        lines += QFile::encodeName(path.toLower()) + "\r\n";
    return lines;
}

// Letters name the files a, b, c, d of one folder: "cb" is the line of the pair (c, b).
QString pairLine(const QString &folder, const QString &letters)
{
    return (folder + QLatin1Char('/') + letters.at(0)).toLower() + QStringLiteral(" <--> ")
           + (folder + QLatin1Char('/') + letters.at(1)).toLower();
}

QStringList pairLines(const QString &folder, const QString &tokens)
{
    QStringList lines;
    for (const QString &token : tokens.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        lines.append(pairLine(folder, token));
    return lines;
}

QStringList pathsOf(const QString &folder, const QString &letters)
{
    QStringList paths;
    for (const QChar letter : letters)
        paths.append((folder + QLatin1Char('/') + letter).toLower());
    return paths;
}

// Large enough to be compared in chunks rather than whole; `flip` changes one byte.
QByteArray large(qsizetype flip = -1)
{
    QByteArray bytes(5 * 1024 * 1024 + 7, 'x');
    if (flip >= 0)
        bytes[flip] = 'y';
    return bytes;
}

// A shown window whose message boxes are answered.
class Finder
{
public:
    Finder()
    {
        window.show();
        exposed = QTest::qWaitForWindowExposed(&window);
    }
    ~Finder() { EventPump::setHook({}); }

    // One search, started with the button as a user starts it; gives the boxes it showed.
    QStringList search(const QString &folder, bool subFolders = false)
    {
        if (!exposed)
            return {QStringLiteral("the window was never shown")};
        const qsizetype before = messages.texts.size();
        window.findChild<QLineEdit *>(QStringLiteral("txtPath"))->setText(folder);
        auto *tick = window.findChild<QCheckBox *>(QStringLiteral("chkSubDirs"));
        if (tick->isChecked() != subFolders) {
            QStyleOptionButton option;
            option.initFrom(tick);
            const QRect box = tick->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, tick);
            QTest::mouseClick(tick, Qt::LeftButton, {}, box.center());
        }
        if (tick->isChecked() != subFolders)
            return {QStringLiteral("chkSubDirs did not take the click")};
        QTest::mouseClick(button("cmdStart"), Qt::LeftButton);
        return messages.texts.mid(before);
    }

    // Runs `act` once, after the first yield at which `when` holds.
    static void actOnce(std::function<bool()> when, std::function<void()> act)
    {
        auto done = std::make_shared<bool>(false);
        EventPump::setHook([=] {
            if (!*done && when()) {
                *done = true;
                act();
            }
        });
    }

    QPushButton *button(const char *name) const { return window.findChild<QPushButton *>(QLatin1String(name)); }
    QStringList lines(const char *list) const
    {
        const auto *box = window.findChild<LineListBox *>(QLatin1String(list));
        QStringList lines;
        for (int i = 0; i < box->count(); ++i)
            lines.append(box->line(i));
        return lines;
    }
    const SearchState &state() const { return window.state(); }
    QStringList destined() const { return textsOf(state().DestinedFiles); }

    frmFinderMain window;
    MessageCatcher messages;
    bool exposed = false;
};

// The search as first drawn up, with nothing made fast: whole files read with QFile, lists
// searched from the front. The window must reach exactly its results.
struct PlainSearch
{
    QMap<QString, QStringList> buckets; // bucket name, lines in the order appended
    QHash<QString, QString> realPath;   // lower-cased path, the file behind it
    QStringList files, equal, destined, references; // files and equal: newest first
    int loads = 0;
    int stopAtLoad = 0; // the load during which the stop button is pressed, 0 for none
    bool stop = false;

    QString run(const QString &folder)
    {
        QStringList names = QDir(folder).entryList(QDir::Files, QDir::NoSort);
        std::sort(names.begin(), names.end());
        for (const QString &name : names) {
            const QString path = folder + QLatin1Char('/') + name;
            realPath.insert(path.toLower(), path);
            buckets[QString::number(QFileInfo(path).size()) + QStringLiteral(".tmp")].append(path.toLower());
        }
        destined.clear();
        references.clear();
        for (const QStringList &group : std::as_const(buckets)) {
            if (group.size() > 1)
                compare(group);
            if (stop)
                break;
        }
        const bool stopped = std::exchange(stop, false);
        return stopped ? QStringLiteral("Canceled!") : QStringLiteral("DONE!");
    }

    QByteArray load(const QString &path)
    {
        if (++loads == stopAtLoad)
            stop = true;
        return contentOf(realPath.value(path));
    }

    void compare(const QStringList &group)
    {
        for (const QString &outer : group) {
            files.prepend(outer);
            const QByteArray reference = load(outer);
            for (qsizetype k = 0; k < group.size(); ++k) {
                if (&group[k] != &outer && load(group[k]) == reference) {
                    equal.prepend(outer + QStringLiteral(" <--> ") + group[k]);
                    references.append(outer);
                    if (!references.contains(group[k]) && !destined.contains(group[k]))
                        destined.append(group[k]);
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

    void repeatedSearch_data()
    {
        QTest::addColumn<QString>("again");
        QTest::newRow("same text") << pair();
        QTest::newRow("trailing slash") << pair() + QStringLiteral("/");
        QTest::newRow("dot") << m_root + QStringLiteral("/./pair");
        QTest::newRow("double slash") << m_root + QStringLiteral("//pair//");
        QTest::newRow("dot-dot") << pair() + QStringLiteral("/../pair");
        QTest::newRow("link to the folder") << m_root + QStringLiteral("/alias");
    }
    void repeatedSearch()
    {
        QFETCH(QString, again);
        Finder f;
        const QStringList abc = {pair() + "/a", pair() + "/b", pair() + "/c"};

        QCOMPARE(f.search(pair()), QStringList{"DONE!"});
        QCOMPARE(workspaceOf(f.state()), (QMap<QString, QByteArray>{{"10.tmp", bucketLines({abc[0], abc[1]})},
                                                                   {"20.tmp", bucketLines({abc[2]})}}));
        QCOMPARE(f.lines("lstFiles"), pathsOf(pair(), "ba"));
        QCOMPARE(f.lines("lstEqual"), pairLines(pair(), "ba ab"));
        QCOMPARE(f.destined(), pathsOf(pair(), "b"));
        const QStringList destined = f.destined();
        QCOMPARE(f.state().DestinedPairs.size(), 1u);
        QCOMPARE(f.state().DestinedPairs[0].proposed, abc[1]);
        QCOMPARE(f.state().DestinedPairs[0].kept, abc[0]);

        // Every path now stands twice in its group, paired with itself too, yet nothing new
        // is proposed; the older lines stay below.
        const quint64 loads = f.state().LoadCount;
        QCOMPARE(f.search(again), QStringList{"DONE!"});
        QCOMPARE(workspaceOf(f.state()),
                 (QMap<QString, QByteArray>{{"10.tmp", bucketLines({abc[0], abc[1], abc[0], abc[1]})},
                                            {"20.tmp", bucketLines({abc[2], abc[2]})}}));
        QCOMPARE(f.destined(), destined);
        QCOMPARE(f.state().DestinedPairs.size(), 1u);
        QCOMPARE(f.lines("lstFiles"), pathsOf(pair(), "ccbababa"));
        QCOMPARE(f.lines("lstEqual"), pairLines(pair(), "cc cc ba bb ba ab ab aa bb ba ba ab aa ab ba ab"));
        QCOMPARE(f.state().LoadCount - loads, 16u + 4u);
    }

    void equalContent_data()
    {
        QTest::addColumn<QList<QByteArray>>("contents"); // of a, b, c, d in this order
        QTest::addColumn<QString>("files");
        QTest::addColumn<QString>("equal");
        QTest::addColumn<QString>("references");
        QTest::addColumn<QString>("destined");
        QTest::addColumn<int>("loads");
        const QByteArray x("same"), y("diff"), z("else");
        QTest::newRow("a = b") << QList{x, x} << "ba" << "ba ab" << "ab" << "b" << 4;
        QTest::newRow("a = b = c") << QList{x, x, x} << "cba" << "cb ca bc ba ac ab" << "aabbcc" << "bc" << 9;
        QTest::newRow("a = c") << QList{x, y, x} << "cba" << "ca ac" << "ac" << "c" << 9;
        QTest::newRow("a = c, b = d") << QList{x, y, x, y} << "dcba" << "db ca bd ac" << "abcd" << "cd" << 16;
        QTest::newRow("all different") << QList{x, y, z} << "cba" << "" << "" << "" << 9;
        QTest::newRow("empty files") << QList<QByteArray>{{}, {}, {}} << "cba" << "cb ca bc ba ac ab" << "aabbcc"
                                     << "bc" << 9;
        QTest::newRow("small, last byte") << QList<QByteArray>{"abc", "abd"} << "ba" << "" << "" << "" << 4;
        const QByteArray big = large();
        constexpr qsizetype chunk = 1024 * 1024;
        QTest::newRow("large, equal") << QList{big, big} << "ba" << "ba ab" << "ab" << "b" << 4;
        QTest::newRow("large, first byte") << QList{big, large(0)} << "ba" << "" << "" << "" << 4;
        QTest::newRow("large, chunk edge") << QList{large(chunk - 1), large(chunk)} << "ba" << "" << "" << "" << 4;
        QTest::newRow("large, last byte") << QList{big, large(big.size() - 1)} << "ba" << "" << "" << "" << 4;
    }
    void equalContent()
    {
        QFETCH(QList<QByteArray>, contents);
        QFETCH(QString, files);
        QFETCH(QString, equal);
        QFETCH(QString, references);
        QFETCH(QString, destined);
        QFETCH(int, loads);
        const QString folder = freshFolder();
        for (qsizetype i = 0; i < contents.size(); ++i)
            put(folder + QLatin1Char('/') + QChar(char16_t(u'a' + i)), contents[i]);

        Finder f;
        QCOMPARE(f.search(folder), QStringList{"DONE!"});
        QCOMPARE(f.lines("lstFiles"), pathsOf(folder, files));
        QCOMPARE(f.lines("lstEqual"), pairLines(folder, equal));
        QCOMPARE(textsOf(f.state().ReferenceFiles), pathsOf(folder, references));
        QCOMPARE(f.destined(), pathsOf(folder, destined));
        QCOMPARE(f.lines("lstDestined"), pathsOf(folder, destined));
        QCOMPARE(f.state().LoadCount, quint64(loads));
    }

    // Two searches over folders of several classes of equal files, the second meeting the
    // first's files again: without a stop, and with a stop pressed during each load in turn.
    void matchesPlainSearch()
    {
        const QString base = freshFolder();
        const QStringList folders = {base + QStringLiteral("/first"), base + QStringLiteral("/second")};
        QVERIFY(QDir().mkpath(folders[0]) && QDir().mkpath(folders[1]));
        // Contents of a few sizes, several equal to each other, some only in their last byte.
        const QList<QByteArray> contents = {"aaaa", "aaab", "bbbb", "ccccc", "ccccd", "", "xy", large(), large(9)};
        const QList<int> firstPick = {0, 1, 0, 2, 0, 3, 4, 3, 5, 5, 6, 7, 8, 7};
        const QList<int> secondPick = {2, 0, 3, 6, 6, 5, 8, 1};
        for (qsizetype i = 0; i < firstPick.size(); ++i)
            put(folders[0] + QStringLiteral("/f%1").arg(i, 2, 10, QLatin1Char('0')), contents[firstPick[i]]);
        for (qsizetype i = 0; i < secondPick.size(); ++i)
            put(folders[1] + QStringLiteral("/S%1").arg(i), contents[secondPick[i]]);

        PlainSearch whole;
        whole.run(folders[0]);
        whole.run(folders[1]);
        QVERIFY(whole.loads > 100);
        for (int stopAtLoad = 0; stopAtLoad <= whole.loads; ++stopAtLoad) {
            PlainSearch plain;
            plain.stopAtLoad = stopAtLoad;
            Finder f;
            const quint64 before = f.state().LoadCount;
            Finder::actOnce([&] { return stopAtLoad > 0 && int(f.state().LoadCount - before) == stopAtLoad; },
                            [&] { QTest::mouseClick(f.button("cmdStop"), Qt::LeftButton); });
            for (const QString &folder : folders) {
                const QString expected = plain.run(folder);
                const QByteArray where = "stop at load " + QByteArray::number(stopAtLoad) + " in " + folder.toUtf8();
                QVERIFY2(f.search(folder) == QStringList{expected}, where);
                QVERIFY2(int(f.state().LoadCount - before) == plain.loads, where);
                QVERIFY2(f.lines("lstFiles") == plain.files, where);
                QVERIFY2(f.lines("lstEqual") == plain.equal, where);
                QVERIFY2(f.destined() == plain.destined, where);
                QVERIFY2(textsOf(f.state().ReferenceFiles) == plain.references, where);
                QVERIFY2(f.lines("lstDestined") == plain.destined, where);
            }
        }
    }

    void stopAtLoad_data()
    {
        QTest::addColumn<int>("load");
        QTest::addColumn<QString>("equal");
        QTest::addColumn<QString>("destined");
        QTest::newRow("reference a") << 1 << "" << "";
        QTest::newRow("candidate b") << 2 << "ab" << "b";
    }
    void stopAtLoad()
    {
        QFETCH(int, load);
        QFETCH(QString, equal);
        QFETCH(QString, destined);
        const QString folder = freshFolder();
        for (const char *name : {"/a", "/b", "/c"})
            put(folder + QLatin1String(name), "same");

        Finder f;
        Finder::actOnce([&f, load] { return f.state().LoadCount == quint64(load); },
                        [&f] { QTest::mouseClick(f.button("cmdStop"), Qt::LeftButton); });
        QCOMPARE(f.search(folder), QStringList{"Canceled!"});
        QCOMPARE(f.state().LoadCount, quint64(load)); // the pass ends at once: nothing more loaded
        QCOMPARE(f.lines("lstFiles"), pathsOf(folder, "a"));
        QCOMPARE(f.lines("lstEqual"), pairLines(folder, equal));
        QCOMPARE(f.destined(), pathsOf(folder, destined));
        QVERIFY(!f.state().StopRequested);

        EventPump::setHook({});
        QCOMPARE(f.search(folder), QStringList{"DONE!"});
        QCOMPARE(f.destined(), pathsOf(folder, "bc"));
    }

    // The lists speak lower case, but each file on disk is loaded and proposed by its own name.
    void namesDifferingInCase_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QList<QByteArray>>("contents");
        QTest::addColumn<QStringList>("equal"); // "outer|inner"
        QTest::addColumn<QString>("proposed");
        QTest::addColumn<QString>("kept");
        QTest::newRow("equal content") << QStringList{"Foo.txt", "foo.txt"} << QList<QByteArray>{"same", "same"}
                                       << QStringList{"foo.txt|foo.txt", "foo.txt|foo.txt"} << "" << "";
        QTest::newRow("different content") << QStringList{"Copy.txt", "Foo.txt", "foo.txt"}
                                           << QList<QByteArray>{"two", "one", "two"}
                                           << QStringList{"foo.txt|Copy.txt", "Copy.txt|foo.txt"} << "foo.txt"
                                           << "Copy.txt";
    }
    void namesDifferingInCase()
    {
        QFETCH(QStringList, names);
        QFETCH(QList<QByteArray>, contents);
        QFETCH(QStringList, equal);
        QFETCH(QString, proposed);
        QFETCH(QString, kept);
        const QString folder = freshFolder() + QLatin1Char('/');
        for (qsizetype i = 0; i < names.size(); ++i)
            put(folder + names[i], contents[i]);

        Finder f;
        QCOMPARE(f.search(folder), QStringList{"DONE!"});
        QStringList lines;
        for (const QString &pair : equal)
            lines.append((folder + pair.section('|', 0, 0) + " <--> " + folder + pair.section('|', 1)).toLower());
        QCOMPARE(f.lines("lstEqual"), lines);
        QCOMPARE(f.state().LoadCount, quint64(names.size() * names.size()));
        if (proposed.isEmpty()) {
            QVERIFY(f.destined().isEmpty()); // both stay: no name of the pair names the other file
        } else {
            QCOMPARE(f.destined(), QStringList{(folder + proposed).toLower()});
            QCOMPARE(f.state().DestinedPairs.size(), 1u);
            QCOMPARE(f.state().DestinedPairs[0].proposed, folder + proposed);
            QCOMPARE(f.state().DestinedPairs[0].kept, folder + kept);
        }
        for (qsizetype i = 0; i < names.size(); ++i)
            QCOMPARE(contentOf(folder + names[i]), contents[i]);
    }

    void hardLinkIsNotItsOwnDuplicate()
    {
        const QString folder = freshFolder();
        put(folder + "/a", "same");
        QCOMPARE(::link(QFile::encodeName(folder + "/a").constData(), QFile::encodeName(folder + "/b").constData()), 0);
        put(folder + "/c", "same");

        Finder f;
        QCOMPARE(f.search(folder), QStringList{"DONE!"});
        QCOMPARE(f.lines("lstEqual").size(), 6);
        QCOMPARE(f.destined(), pathsOf(folder, "c")); // a real copy still goes
    }

    // Links, folder links and a FIFO are no candidates, and none of them is an error.
    void specialEntriesAreNoCandidates()
    {
        const QString folder = freshFolder();
        put(folder + "/a", "same");
        QVERIFY(QDir(folder).mkdir("sub"));
        put(folder + "/sub/s", "same");
        QVERIFY(QFile::link(folder + "/a", folder + "/link"));
        QVERIFY(QFile::link(folder + "/sub", folder + "/sublink"));
        QCOMPARE(::mkfifo(QFile::encodeName(folder + "/fifo").constData(), 0600), 0);

        Finder f;
        QCOMPARE(f.search(folder, true), QStringList{"DONE!"});
        QCOMPARE(workspaceOf(f.state()),
                 (QMap<QString, QByteArray>{{"4.tmp", bucketLines({folder + "/a", folder + "/sub/s"})}}));
        QCOMPARE(f.destined(), QStringList{(folder + "/sub/s").toLower()});
    }

    // A file that cannot be read, or whose name cannot be one bucket line, is left out and
    // named; the run goes on with the others.
    void troubledFilesAreLeftOut_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("unreadable");
        QTest::addColumn<QString>("listed");
        QTest::newRow("unreadable") << "b" << true << "cba";
        QTest::newRow("line feed in name") << "b\nx" << false << "ca";
        QTest::newRow("carriage return in name") << "b\rx" << false << "ca";
    }
    void troubledFilesAreLeftOut()
    {
        QFETCH(QString, name);
        QFETCH(bool, unreadable);
        QFETCH(QString, listed);
        const QString folder = freshFolder();
        const QString troubled = folder + QLatin1Char('/') + name;
        for (const QString &path : {folder + "/a", troubled, folder + "/c"})
            put(path, "same");
        if (unreadable)
            QVERIFY(QFile::setPermissions(troubled, {}));

        Finder f;
        QCOMPARE(f.search(folder),
                 QStringList{"DONE!\n\n1 files could not be read and were left out:\n" + troubled});
        QCOMPARE(f.lines("lstFiles"), pathsOf(folder, listed));
        QCOMPARE(f.lines("lstEqual"), pairLines(folder, "ca ac"));
        QCOMPARE(f.destined(), pathsOf(folder, "c"));
        QCOMPARE(workspaceOf(f.state()).value("4.tmp").count("\r\n"), listed.size()); // never split
    }

    // A file gone since it was found is no news: no message names it.
    void vanishedFileIsSkippedSilently()
    {
        const QString folder = freshFolder();
        for (const char *name : {"/a", "/b", "/c"})
            put(folder + QLatin1String(name), "same");

        Finder f;
        const auto *status = f.window.findChild<StatusLine *>(QStringLiteral("lblStatus"));
        bool removed = false;
        Finder::actOnce([status] { return status->text().startsWith("Comparing group"); },
                        [&] { removed = QFile::remove(folder + "/b"); });
        QCOMPARE(f.search(folder), QStringList{"DONE!"});
        QVERIFY(removed);
        QCOMPARE(f.lines("lstFiles"), pathsOf(folder, "cba"));
        QCOMPARE(f.destined(), pathsOf(folder, "c"));
    }

    void folderProblems_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("message"); // empty: any message naming the text
        const QString missing = m_root + "/nothere";
        QTest::newRow("missing") << missing << "Folder not found: " + missing;
        QTest::newRow("relative") << QDir::current().relativeFilePath(pair()) << "";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("blank") << "   " << "";
        QTest::newRow("a file") << pair() + "/a" << "";
    }
    void folderProblems()
    {
        QFETCH(QString, typed);
        QFETCH(QString, message);
        Finder f;
        QCOMPARE(f.search(pair()), QStringList{"DONE!"});
        const QStringList files = f.lines("lstFiles"), equal = f.lines("lstEqual"), shown = f.lines("lstDestined");
        const QStringList destined = f.destined();
        const auto buckets = workspaceOf(f.state());

        // A stop asked for meanwhile must not outlive the refused run.
        Finder::actOnce([] { return true; }, [&f] { QTest::mouseClick(f.button("cmdStop"), Qt::LeftButton); });
        const QStringList texts = f.search(typed);
        QCOMPARE(texts.size(), 1);
        if (!message.isEmpty())
            QCOMPARE(texts[0], message);
        QVERIFY2(texts[0].contains(typed.trimmed()) && texts[0] != "DONE!" && texts[0] != "Canceled!",
                 qPrintable(texts[0]));
        QCOMPARE(f.lines("lstFiles"), files);
        QCOMPARE(f.lines("lstEqual"), equal);
        QCOMPARE(f.lines("lstDestined"), shown);
        QCOMPARE(f.destined(), destined);
        QCOMPARE(workspaceOf(f.state()), buckets);
        QVERIFY(!f.state().StopRequested);
        QVERIFY(!f.window.isRunning());
        QVERIFY(f.button("cmdStart")->isEnabled());
        QVERIFY(!f.button("cmdStop")->isVisible());
    }

    void sparseFileOverTwoGiB()
    {
        const QString folder = freshFolder();
        const qint64 size = 3221225472;
        put(folder + "/big");
        QVERIFY(QFile::resize(folder + "/big", size));

        Finder f;
        QCOMPARE(f.search(folder), QStringList{"DONE!"});
        QCOMPARE(workspaceOf(f.state()),
                 (QMap<QString, QByteArray>{{QString::number(size) + ".tmp", bucketLines({folder + "/big"})}}));
    }

    void closingDuringRun()
    {
        Finder f;
        const QString work = f.state().WorkFolder;
        QVERIFY(QFileInfo(work).isDir());
        Finder::actOnce([&f] { return f.state().LoadCount == 2; }, [&f] { f.window.close(); });
        QCOMPARE(f.search(pair()), QStringList());
        QVERIFY(!f.window.isRunning());
        QVERIFY(!f.window.isVisible());
        QVERIFY(!QFileInfo::exists(work));
        for (const char *name : {"/a", "/b", "/c"})
            QCOMPARE(contentOf(pair() + name).left(10), QByteArray("0123456789"));
    }
};

SAMELYN_TEST_MAIN(tst_search)
#include "tst_search.moc"

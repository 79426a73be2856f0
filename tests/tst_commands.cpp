// The window's smaller commands, driven by clicks: delete the proposed files, browse, show a line.
#include "SystemTools.h"
#include "TestDir.h"
#include "WindowDriver.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QStandardPaths>

namespace {

void click(frmFinderMain &window, const char *button)
{
    QTest::mouseClick(control<QPushButton>(window, button), Qt::LeftButton);
}

// Searches `folder` with its sub-folders.
void search(frmFinderMain &window, const QString &folder)
{
    QTest::keyClicks(control<QLineEdit>(window, "txtPath"), folder);
    QTest::keyClick(control<QCheckBox>(window, "chkSubDirs"), Qt::Key_Space);
    click(window, "cmdStart");
}

// The files in the trash, with their contents.
QMap<QString, QByteArray> trash()
{
    const QString folder =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Trash/files/");
    QMap<QString, QByteArray> files;
    for (const QString &name : QDir(folder).entryList(QDir::Files | QDir::Hidden))
        files.insert(name, contentOf(folder + name));
    return files;
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
    }

    void killMovesProposedFilesToTrash()
    {
        // The three surplus copies share a name, so the trash shows which one went first.
        const QString name = QStringLiteral("surplus-in-list-order.txt");
        TestDir dir;
        const QStringList kept{dir.createFile(QStringLiteral("a1"), "alpha"),
                               dir.createFile(QStringLiteral("b1"), "bravo!"), dir.createFile("c", "c")};
        const QStringList surplus{dir.createFile("x/" + name, "alpha"), dir.createFile("y/" + name, "alpha"),
                                  dir.createFile("z/" + name, "bravo!")};
        const QMap<QString, QByteArray> trashBefore = trash();
        frmFinderMain window;
        MessageCatcher catcher;
        // Before any search there is nothing to delete; the search below still finds every copy.
        click(window, "cmdKillDestined");
        QCOMPARE(trash(), trashBefore);
        search(window, dir.path());
        QCOMPARE(catcher.texts, (QStringList{"Okay!", "DONE!"}));
        // The lists show paths in lower case.
        QCOMPARE(lines(window, "lstDestined").join('|'), surplus.join('|').toLower());
        const QStringList shown = lines(window, "lstFiles") + lines(window, "lstEqual");

        click(window, "cmdKillDestined");
        for (const QString &path : surplus + kept)
            QVERIFY2(QFileInfo::exists(path) == kept.contains(path), qPrintable(path));
        QCOMPARE(lines(window, "lstDestined"), QStringList());
        QCOMPARE(lines(window, "lstFiles") + lines(window, "lstEqual"), shown);
        QMap<QString, QByteArray> added = trash();
        added.removeIf([&](auto entry) { return trashBefore.contains(entry.key()); });
        QCOMPARE(added.value(name), QByteArray("alpha"));
        QByteArrayList contents = added.values();
        std::sort(contents.begin(), contents.end());
        QCOMPARE(contents, (QByteArrayList{"alpha", "alpha", "bravo!"}));

        // A second press meets only files that are gone: done, and nothing else is touched.
        click(window, "cmdKillDestined");
        QCOMPARE(catcher.texts, (QStringList{"Okay!", "DONE!", "Okay!", "Okay!"}));
        QCOMPARE(trash().size(), trashBefore.size() + 3);
    }

    void killLeavesWhatChanged_data()
    {
        QTest::addColumn<QByteArray>("keptNow"); // empty: the kept copy is removed
        QTest::addColumn<QString>("reason");
        QTest::newRow("last byte differs") << QByteArray("alphb") << QStringLiteral("kept copy changed");
        QTest::newRow("grown") << QByteArray("alpha!") << QStringLiteral("kept copy changed");
        QTest::newRow("kept copy gone") << QByteArray() << QStringLiteral("kept copy is gone");
        QTest::newRow("folder locked") << QByteArray("alpha")
                                       << QStringLiteral("could not be moved: permission denied");
    }

    void killLeavesWhatChanged()
    {
        QFETCH(QByteArray, keptNow);
        QFETCH(QString, reason);
        TestDir dir;
        dir.createFile(QStringLiteral("a"), "alpha");
        const QString stays = dir.createFile(QStringLiteral("sub/a"), "alpha");
        dir.createFile(QStringLiteral("b"), "bravo!");
        const QString goes = dir.createFile(QStringLiteral("c"), "bravo!");
        frmFinderMain window;
        MessageCatcher catcher;
        int ended = 0;
        frmFinderMain::setFatalHandler([&] { ++ended; });
        search(window, dir.path());
        // The file that stays comes first: the command must go on past it.
        QCOMPARE(lines(window, "lstDestined"), (QStringList{stays.toLower(), goes.toLower()}));

        if (keptNow.isEmpty())
            QVERIFY(dir.removeFile(QStringLiteral("a")));
        else
            dir.createFile(QStringLiteral("a"), keptNow);
        const QByteArray sub = QFile::encodeName(dir.path(QStringLiteral("sub")));
        const auto unlock = qScopeGuard([&] { ::chmod(sub.constData(), 0700); });
        if (reason.startsWith(QStringLiteral("could not")))
            QCOMPARE(::chmod(sub.constData(), 0555), 0);
        click(window, "cmdKillDestined");

        QCOMPARE(ended, 0);
        QCOMPARE(contentOf(stays), QByteArray("alpha"));
        QVERIFY(!QFileInfo::exists(goes));
        const QString text = catcher.texts.last();
        QVERIFY2(text.startsWith(QStringLiteral("Okay!\n\n")) && text.contains(QStringLiteral("1 of 2"))
                     && text.contains(stays + " (" + reason + ')'),
                 qPrintable(text));
    }

    void killDuringRun()
    {
        TestDir dir;
        QStringList files;
        for (const char *name : {"a1", "a2", "a3", "b1", "b2"})
            files << dir.createFile(QString::fromLatin1(name), name[0] == 'a' ? "alpha" : "bravo!");
        frmFinderMain window;
        MessageCatcher catcher;
        // At the fourth load the first group has proposed copies, some yet to be loaded again.
        QStringList held;
        ScopedHook hook([&] {
            if (!held.isEmpty() || window.state().LoadCount < 4)
                return;
            for (const DestinedPair &pair : window.state().DestinedPairs)
                held << pair.proposed.path;
            click(window, "cmdKillDestined");
        });
        search(window, dir.path());

        QCOMPARE(catcher.texts, (QStringList{"Okay!", "DONE!"}));
        QVERIFY(!held.isEmpty() && !held.contains(files.first()));
        for (const QString &file : std::as_const(files))
            QVERIFY2(QFileInfo::exists(file) != held.contains(file), qPrintable(file));
        QVERIFY(control<QPushButton>(window, "cmdStart")->isEnabled());
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

    void doubleClickShowsWholeLine()
    {
        TestDir dir;
        const QString shortPath = dir.createFile(QStringLiteral("a-short"), "same");
        const QString longPath = dir.createFile(QString(150, QLatin1Char('z')), "same");
        frmFinderMain window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        MessageCatcher catcher;
        for (const char *list : {"lstFiles", "lstEqual"})
            QTest::mouseDClick(control<LineListBox>(window, list)->viewport(), Qt::LeftButton, {}, QPoint(10, 10));
        QCOMPARE(catcher.texts, (QStringList{QString(), QString()}));

        search(window, dir.path());
        // The newest pair is on top; the bottom line is the first pair found.
        auto *equal = control<LineListBox>(window, "lstEqual");
        QCOMPARE(equal->count(), 2);
        const QString expected = shortPath.toLower() + QStringLiteral(" <--> ") + longPath.toLower();
        QVERIFY(equal->fontMetrics().horizontalAdvance(expected) > equal->viewport()->width());
        QTest::mouseDClick(equal->viewport(), Qt::LeftButton, {}, QPoint(10, equal->rowHeight() * 3 / 2));
        QCOMPARE(catcher.texts.last(), expected);
    }
};

SAMELYN_TEST_MAIN(tst_commands)
#include "tst_commands.moc"

// The window's smaller commands, driven by clicks: delete the proposed files, browse, show a line.
#include "EventPump.h"
#include "LineListBox.h"
#include "SystemTools.h"
#include "TestDir.h"
#include "WindowDriver.h"
#include "frmFinderMain.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>

namespace {

void typeFolder(frmFinderMain &window, const QString &folder, bool subFolders = false)
{
    auto *path = control<QLineEdit>(window, "txtPath");
    path->clear();
    QTest::keyClicks(path, folder);
    if (subFolders)
        QTest::keyClick(control<QCheckBox>(window, "chkSubDirs"), Qt::Key_Space);
}

void click(frmFinderMain &window, const char *button)
{
    QTest::mouseClick(control<QPushButton>(window, button), Qt::LeftButton);
}

QString trashFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Trash/files");
}

QStringList trashed()
{
    return QDir(trashFolder()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

// Gives a folder its permissions back, so the test folder can be removed whatever happened.
struct Unlock
{
    QString folder;
    ~Unlock() { QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner); }
};

} // namespace

class tst_commands : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        EventPump::setHook({});
        frmFinderMain::setFatalHandler({});
        SystemTools::instance().setFolderChooser({});
    }

    void killBeforeAnyRun()
    {
        TestDir dir;
        const QString lone = dir.createFile(QStringLiteral("lone"), "lone");
        const QStringList trashBefore = trashed();
        frmFinderMain window;
        MessageCatcher catcher;
        click(window, "cmdKillDestined");
        QCOMPARE(catcher.texts, QStringList{"Okay!"});
        QCOMPARE(lines(window, "lstDestined"), QStringList());
        QVERIFY(QFileInfo::exists(lone));
        QCOMPARE(trashed(), trashBefore);
    }

    void killMovesProposedFilesToTrash()
    {
        // The three surplus copies share a name, so the trash shows which one went first.
        const QString name = QStringLiteral("surplus-in-list-order.txt");
        TestDir dir;
        const QString a1 = dir.createFile(QStringLiteral("a1"), "alpha");
        const QString a2 = dir.createFile(QStringLiteral("x/") + name, "alpha");
        const QString a3 = dir.createFile(QStringLiteral("y/") + name, "alpha");
        const QString b1 = dir.createFile(QStringLiteral("b1"), "bravo!");
        const QString b2 = dir.createFile(QStringLiteral("z/") + name, "bravo!");
        const QString unique = dir.createFile(QStringLiteral("c"), "charlie");
        QVERIFY(!QFileInfo::exists(trashFolder() + QLatin1Char('/') + name));

        frmFinderMain window;
        MessageCatcher catcher;
        typeFolder(window, dir.path(), true);
        click(window, "cmdStart");
        QCOMPARE(catcher.texts, QStringList{"DONE!"});
        QCOMPARE(lines(window, "lstDestined"), (QStringList{a2.toLower(), a3.toLower(), b2.toLower()}));
        const QStringList filesBefore = lines(window, "lstFiles");
        const QStringList equalBefore = lines(window, "lstEqual");
        const QStringList trashBefore = trashed();

        click(window, "cmdKillDestined");
        QCOMPARE(catcher.texts.last(), QStringLiteral("Okay!"));
        for (const QString &gone : {a2, a3, b2})
            QVERIFY2(!QFileInfo::exists(gone), qPrintable(gone));
        for (const QString &kept : {a1, b1, unique})
            QVERIFY2(QFileInfo::exists(kept), qPrintable(kept));
        QCOMPARE(lines(window, "lstDestined"), QStringList());
        QCOMPARE(lines(window, "lstFiles"), filesBefore);
        QCOMPARE(lines(window, "lstEqual"), equalBefore);

        QStringList added = trashed();
        for (const QString &entry : trashBefore)
            added.removeOne(entry);
        QByteArrayList contents;
        for (const QString &entry : std::as_const(added))
            contents << contentOf(trashFolder() + QLatin1Char('/') + entry);
        std::sort(contents.begin(), contents.end());
        QCOMPARE(contents, (QByteArrayList{"alpha", "alpha", "bravo!"}));
        QCOMPARE(contentOf(trashFolder() + QLatin1Char('/') + name), QByteArray("alpha"));

        // A second press meets only files that are gone: done, and nothing else is touched.
        click(window, "cmdKillDestined");
        QCOMPARE(catcher.texts, (QStringList{"DONE!", "Okay!", "Okay!"}));
        for (const QString &kept : {a1, b1, unique})
            QVERIFY2(QFileInfo::exists(kept), qPrintable(kept));
        QCOMPARE(trashed().size(), trashBefore.size() + 3);
    }

    void keptCopyChanged_data()
    {
        QTest::addColumn<QByteArray>("keptNow");
        QTest::addColumn<bool>("keptRemoved");
        QTest::addColumn<QString>("reason");
        QTest::newRow("last byte differs") << QByteArray("alphb") << false << QStringLiteral("kept copy changed");
        QTest::newRow("first byte differs") << QByteArray("Alpha") << false << QStringLiteral("kept copy changed");
        QTest::newRow("grown") << QByteArray("alpha!") << false << QStringLiteral("kept copy changed");
        QTest::newRow("gone") << QByteArray() << true << QStringLiteral("kept copy is gone");
    }

    void keptCopyChanged()
    {
        QFETCH(QByteArray, keptNow);
        QFETCH(bool, keptRemoved);
        QFETCH(QString, reason);
        TestDir dir;
        dir.createFile(QStringLiteral("a1"), "alpha");
        const QString a2 = dir.createFile(QStringLiteral("a2"), "alpha");
        dir.createFile(QStringLiteral("b1"), "bravo!");
        const QString b2 = dir.createFile(QStringLiteral("b2"), "bravo!");
        frmFinderMain window;
        MessageCatcher catcher;
        typeFolder(window, dir.path());
        click(window, "cmdStart");
        QCOMPARE(lines(window, "lstDestined"), (QStringList{a2.toLower(), b2.toLower()}));

        if (keptRemoved)
            QVERIFY(dir.removeFile(QStringLiteral("a1")));
        else
            dir.createFile(QStringLiteral("a1"), keptNow);
        click(window, "cmdKillDestined");

        QCOMPARE(contentOf(a2), QByteArray("alpha"));
        QVERIFY(!QFileInfo::exists(b2));
        QCOMPARE(lines(window, "lstDestined"), QStringList());
        const QString text = catcher.texts.last();
        QVERIFY2(text.startsWith(QStringLiteral("Okay!\n\n")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("1 of 2")), qPrintable(text));
        QVERIFY2(text.contains(a2 + QStringLiteral(" (") + reason + QLatin1Char(')')), qPrintable(text));
    }

    void unremovableFileIsReported()
    {
        TestDir dir;
        dir.createFile(QStringLiteral("a"), "alpha");
        const QString locked = dir.createFile(QStringLiteral("locked/a"), "alpha");
        dir.createFile(QStringLiteral("b"), "bravo!");
        const QString free = dir.createFile(QStringLiteral("c"), "bravo!");
        frmFinderMain window;
        MessageCatcher catcher;
        int ended = 0;
        frmFinderMain::setFatalHandler([&] { ++ended; });
        typeFolder(window, dir.path(), true);
        click(window, "cmdStart");
        // The locked file comes first: the command must go on past it.
        QCOMPARE(lines(window, "lstDestined"), (QStringList{locked.toLower(), free.toLower()}));

        const Unlock unlock{dir.path(QStringLiteral("locked"))};
        QVERIFY(QFile::setPermissions(unlock.folder, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup
                                                         | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther));
        click(window, "cmdKillDestined");

        QCOMPARE(ended, 0);
        QCOMPARE(contentOf(locked), QByteArray("alpha"));
        QVERIFY(!QFileInfo::exists(free));
        QCOMPARE(lines(window, "lstDestined"), QStringList());
        const QString text = catcher.texts.last();
        QVERIFY2(text.startsWith(QStringLiteral("Okay!\n\n")), qPrintable(text));
        QVERIFY2(text.contains(locked + QStringLiteral(" (could not be moved: permission denied)")), qPrintable(text));

        // Still alive and still honest on the next press.
        click(window, "cmdKillDestined");
        QCOMPARE(ended, 0);
        QVERIFY2(catcher.texts.last().contains(locked), qPrintable(catcher.texts.last()));
    }

    void killDuringRun()
    {
        TestDir dir;
        QStringList files;
        for (const char *name : {"a1", "a2", "a3"})
            files << dir.createFile(QString::fromLatin1(name), "alpha");
        for (const char *name : {"b1", "b2"})
            files << dir.createFile(QString::fromLatin1(name), "bravo!");
        frmFinderMain window;
        MessageCatcher catcher;
        // At the fourth load the first group has proposed its copies, and some of them are
        // yet to be loaded again as the group goes on.
        QStringList held;
        bool pressed = false;
        ScopedHook hook([&] {
            if (pressed || window.state().LoadCount < 4)
                return;
            pressed = true;
            for (const DestinedPair &pair : window.state().DestinedPairs)
                held << pair.proposed;
            click(window, "cmdKillDestined");
        });
        typeFolder(window, dir.path());
        click(window, "cmdStart");

        QVERIFY(pressed);
        QCOMPARE(catcher.texts, (QStringList{"Okay!", "DONE!"}));
        QVERIFY(!held.isEmpty());
        for (const QString &file : std::as_const(files))
            QVERIFY2(QFileInfo::exists(file) != held.contains(file), qPrintable(file));
        QVERIFY(QFileInfo::exists(files.first()));
        QVERIFY(control<QPushButton>(window, "cmdStart")->isEnabled());
    }

    void browse_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("chosen");
        QTest::newRow("cancel empties the text") << QStringLiteral("/somewhere/typed") << QString();
        QTest::newRow("choice replaces the text") << QStringLiteral("/somewhere/typed") << QStringLiteral("/x");
        QTest::newRow("choice into empty text") << QString() << QStringLiteral("/x");
    }

    void browse()
    {
        QFETCH(QString, typed);
        QFETCH(QString, chosen);
        frmFinderMain window;
        QStringList prompts;
        SystemTools::instance().setFolderChooser([&](QWidget *, const QString &prompt) {
            prompts << prompt;
            return chosen;
        });
        typeFolder(window, typed);
        click(window, "cmdBrowse1");
        QCOMPARE(prompts, QStringList{"Look where?"});
        QCOMPARE(control<QLineEdit>(window, "txtPath")->text(), chosen);
    }

    void doubleClickShowsWholeLine()
    {
        TestDir dir;
        const QString longName = QString(150, QLatin1Char('z'));
        const QString shortPath = dir.createFile(QStringLiteral("a-short"), "same");
        const QString longPath = dir.createFile(longName, "same");
        frmFinderMain window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        MessageCatcher catcher;
        typeFolder(window, dir.path());
        click(window, "cmdStart");

        // The newest pair is on top; the bottom line is the first pair found.
        auto *equal = control<LineListBox>(window, "lstEqual");
        QCOMPARE(equal->count(), 2);
        const QString expected = shortPath.toLower() + QStringLiteral(" <--> ") + longPath.toLower();
        QVERIFY(equal->fontMetrics().horizontalAdvance(expected) > equal->viewport()->width());
        QTest::mouseDClick(equal->viewport(), Qt::LeftButton, {}, QPoint(10, equal->rowHeight() * 3 / 2));
        QCOMPARE(catcher.texts.last(), expected);
        QCOMPARE(equal->count(), 2);
    }

    void doubleClickOnEmptyList()
    {
        frmFinderMain window;
        MessageCatcher catcher;
        for (const char *list : {"lstFiles", "lstEqual"})
            QTest::mouseDClick(control<LineListBox>(window, list)->viewport(), Qt::LeftButton, {}, QPoint(10, 10));
        QCOMPARE(catcher.texts, (QStringList{QString(), QString()}));
    }
};

SAMELYN_TEST_MAIN(tst_commands)
#include "tst_commands.moc"

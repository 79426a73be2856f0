// The window as a user meets it: its layout, the Tab key, its states, its scratch folder, its errors.
#include "StatusLine.h"
#include "TestDir.h"
#include "WindowDriver.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>

#include <sys/stat.h>

namespace {

void click(frmFinderMain &window, const char *button)
{
    QTest::mouseClick(control<QPushButton>(window, button), Qt::LeftButton);
}

void startSearch(frmFinderMain &window, const QString &folder)
{
    QTest::keyClicks(control<QLineEdit>(window, "txtPath"), folder);
    click(window, "cmdStart");
}

// Presses Tab nine times from `from`, round the eight stops and back, naming where the focus was.
QStringList tabChain(QWidget *from)
{
    from->setFocus();
    QStringList names;
    while (names.size() < 9 && QApplication::focusWidget()) {
        names << QApplication::focusWidget()->objectName();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    return names;
}

} // namespace

class tst_window : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { frmFinderMain::setFatalHandler({}); }

    void layout()
    {
        frmFinderMain window;
        QCOMPARE(window.windowTitle(), QStringLiteral("Samelyn"));
        QCOMPARE(window.size(), QSize(419, 381));
        // In twips, 15 to a pixel. Width 0: a caption label, as wide as its text but ending
        // before the fields' column at x = 64.
        const struct { const char *name; int left, top, width, height; const char *caption; } table[] = {
            {"Label1", 120, 120, 0, 195, "Look here:"}, {"txtPath", 960, 120, 4575, 285, ""},
            {"chkSubDirs", 960, 480, 3735, 255, "Also look in sub-directories"},
            {"cmdBrowse1", 5640, 120, 495, 255, "..."}, {"cmdStart", 960, 840, 1575, 375, "Start now!"},
            {"Label2", 120, 1560, 615, 255, "Files:"}, {"lstFiles", 960, 1560, 5175, 1035, ""},
            {"Label3", 120, 2760, 615, 255, "Equal:"}, {"lstEqual", 960, 2760, 5175, 1230, ""},
            {"lblStatus", 2640, 900, 3495, 255, ""}, {"cmdStop", 240, 840, 375, 375, "X"},
            {"Label4", 120, 4200, 0, 195, "Obsolete:"}, {"lstDestined", 960, 4200, 5175, 1425, ""},
            {"cmdKillDestined", 120, 4440, 735, 375, "KILL"}, {"lblStatusB", 2640, 1200, 3495, 255, ""},
        };
        // Whatever their visibility: the hidden stop button counts as if shown.
        QCOMPARE(window.findChildren<QWidget *>(Qt::FindDirectChildrenOnly).size(), qsizetype(std::size(table)));
        QList<QRect> taken;
        QStringList wrong;
        for (const auto &row : table) {
            const QWidget *widget = control<QWidget>(window, row.name);
            const QRect box = widget->geometry();
            const QString caption = widget->property("text").toString();
            bool right = caption == QLatin1String(row.caption) && window.rect().contains(box)
                         && box.topLeft() == QPoint(row.left / 15, row.top / 15);
            if (row.width)
                right &= box.size() == QSize(row.width / 15, row.height / 15);
            else
                right &= box.right() < 64
                         && (box.right() == 63 || box.width() >= widget->fontMetrics().horizontalAdvance(caption));
            for (const QRect &other : std::as_const(taken))
                right &= !other.intersects(box);
            if (!right)
                QDebug(&wrong.emplace_back()) << row.name << box << caption;
            taken << box;
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral("; "))));
    }

    // A first search, over an empty folder: the keys, the buttons and the status as it goes.
    void firstRun()
    {
        TestDir dir;
        frmFinderMain window;
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        auto *path = control<QLineEdit>(window, "txtPath");
        auto *start = control<QPushButton>(window, "cmdStart");
        auto *stop = control<QPushButton>(window, "cmdStop");
        QCOMPARE(QApplication::focusWidget(), path);
        QCOMPARE(tabChain(path), (QStringList{"txtPath", "chkSubDirs", "cmdBrowse1", "cmdStart", "lstFiles", "lstEqual",
                                          "lstDestined", "cmdKillDestined", "txtPath"}));

        QStringList runningChain;
        QList<bool> whileShowing; // start enabled, stop visible, running
        MessageCatcher catcher([&](const QString &) {
            whileShowing = {start->isEnabled(), stop->isVisible(), window.isRunning()};
        });
        ScopedHook hook([&] {
            if (runningChain.isEmpty() && window.isRunning())
                runningChain = tabChain(path);
        });
        QTest::keyClicks(path, dir.path());
        QTest::keyClick(path, Qt::Key_Return);
        QTest::keyClick(path, Qt::Key_Escape);
        QCOMPARE(catcher.texts, QStringList());
        QCOMPARE(control<StatusLine>(window, "lblStatus")->text(), QString());

        click(window, "cmdStart");
        QCOMPARE(runningChain, (QStringList{"txtPath", "chkSubDirs", "cmdBrowse1", "lstFiles", "lstEqual", "cmdStop",
                                            "lstDestined", "txtPath", "chkSubDirs"}));
        QCOMPARE(catcher.texts, QStringList{"DONE!"});
        QCOMPARE(whileShowing, (QList<bool>{false, true, true}));
        QVERIFY(start->isEnabled() && stop->isHidden() && !window.isRunning());
        QCOMPARE(control<StatusLine>(window, "lblStatus")->text(), QStringLiteral("Searching for files..."));
    }

    void stopClearsItsFlag_data()
    {
        QTest::addColumn<int>("clicks");
        QTest::newRow("one click") << 1;
        QTest::newRow("two clicks") << 2;
    }

    void stopClearsItsFlag()
    {
        QFETCH(int, clicks);
        TestDir dir;
        for (const char *bytes : {"alpha", "bravo!", "charlie"})
            for (const char *copy : {"1", "2"})
                dir.createFile(QString::fromLatin1(bytes) + copy, bytes);
        frmFinderMain window;
        MessageCatcher catcher;
        bool armed = true;
        ScopedHook hook([&] {
            if (window.state().LoadCount >= 1 && std::exchange(armed, false))
                for (int i = 0; i < clicks; ++i)
                    click(window, "cmdStop");
        });
        startSearch(window, dir.path());
        // Stopped at the first load, the first group ends after its first inner pass.
        QCOMPARE(catcher.texts, QStringList{"Canceled!"});
        QCOMPARE(lines(window, "lstDestined").size(), 0);
        QVERIFY(!window.state().StopRequested);

        // The flag was cleared: the next run goes to its end.
        click(window, "cmdStart");
        QCOMPARE(catcher.texts, (QStringList{"Canceled!", "DONE!"}));
        QCOMPARE(lines(window, "lstDestined").size(), 3);
    }

    void workspacePrivateAndOwn()
    {
        const QString runtime = QRegularExpression::escape(qEnvironmentVariable("XDG_RUNTIME_DIR"));
        const QRegularExpression inProgramFolder(QStringLiteral("^%1/tst_window/[0-9a-f]{32}$").arg(runtime));
        auto first = std::make_unique<frmFinderMain>();
        frmFinderMain second;
        const QString mine = first->state().WorkFolder;
        const QString theirs = second.state().WorkFolder;
        for (const QString &folder : {mine, theirs}) {
            QVERIFY2(inProgramFolder.match(folder).hasMatch(), qPrintable(folder));
            struct stat st {};
            QCOMPARE(::lstat(QFile::encodeName(folder).constData(), &st), 0);
            QCOMPARE(st.st_mode & (S_IFMT | 07777), mode_t(S_IFDIR | 0700));
        }

        const auto noticeShowing = [] {
            return std::ranges::any_of(QApplication::topLevelWidgets(), [](const QWidget *widget) {
                return widget->isVisible() && widget->property("text") == QStringLiteral("Deleting temporary files...");
            });
        };
        bool shownBeforeRemoval = false;
        {
            ScopedHook hook([&] { shownBeforeRemoval |= noticeShowing() && QFileInfo::exists(mine); });
            QVERIFY(first->close());
        }
        QVERIFY(shownBeforeRemoval && !noticeShowing());
        QVERIFY(!QFileInfo::exists(mine));
        first.reset();
        QVERIFY(QFileInfo(theirs).isDir());
    }

    void errorEndsTheProgram()
    {
        TestDir dir;
        dir.createFile(QStringLiteral("one"), "1");
        for (const bool removed : {true, false}) {
            int ended = 0;
            frmFinderMain::setFatalHandler([&] { ++ended; });
            frmFinderMain window;
            MessageCatcher catcher;
            const QString work = window.state().WorkFolder;
            QVERIFY(removed ? QDir(work).removeRecursively()
                            : QFile::setPermissions(work, QFile::ReadOwner | QFile::ExeOwner));
            startSearch(window, dir.path());
            QVERIFY2(catcher.texts.size() == 1 && catcher.texts.first().startsWith(QStringLiteral("Error: ")),
                     qPrintable(catcher.texts.join(QLatin1Char('|'))));
            QCOMPARE(ended, 1);
        }
    }
};

SAMELYN_TEST_MAIN(tst_window)
#include "tst_window.moc"

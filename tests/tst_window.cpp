// The window as a user meets it: its layout, the Tab key, its states, its scratch folder, its errors.
#include "EventPump.h"
#include "LineListBox.h"
#include "StatusLine.h"
#include "TestDir.h"
#include "WindowDriver.h"
#include "frmFinderMain.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>

#include <optional>
#include <sys/stat.h>

namespace {

// The text a label, button or text box shows; status lines and lists start empty.
QString captionOf(const QWidget *widget)
{
    if (const auto *status = qobject_cast<const StatusLine *>(widget))
        return status->text();
    if (const auto *list = qobject_cast<const LineListBox *>(widget))
        return list->count() == 0 ? QString() : QStringLiteral("<lines>");
    return widget->property("text").toString();
}

// Presses Tab on whatever has the focus and names where the focus was, step by step.
QStringList tabChain(qsizetype steps)
{
    QStringList names;
    while (names.size() < steps && QApplication::focusWidget()) {
        names << QApplication::focusWidget()->objectName();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    return names;
}

void startSearch(frmFinderMain &window, const QString &folder)
{
    QTest::keyClicks(control<QLineEdit>(window, "txtPath"), folder);
    QTest::mouseClick(control<QPushButton>(window, "cmdStart"), Qt::LeftButton);
}

} // namespace

class tst_window : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { frmFinderMain::setFatalHandler({}); }

    void controlGeometry_data()
    {
        QTest::addColumn<QRect>("twips");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<bool>("fitsCaption");
        const auto row = [](const char *name, int l, int t, int w, int h, const char *caption, bool fits = false) {
            QTest::newRow(name) << QRect(l, t, w, h) << QString::fromLatin1(caption) << fits;
        };
        row("Label1", 120, 120, 765, 195, "Look here:", true);
        row("txtPath", 960, 120, 4575, 285, "");
        row("chkSubDirs", 960, 480, 3735, 255, "Also look in sub-directories");
        row("cmdBrowse1", 5640, 120, 495, 255, "...");
        row("cmdStart", 960, 840, 1575, 375, "Start now!");
        row("Label2", 120, 1560, 615, 255, "Files:");
        row("lstFiles", 960, 1560, 5175, 1035, "");
        row("Label3", 120, 2760, 615, 255, "Equal:");
        row("lstEqual", 960, 2760, 5175, 1230, "");
        row("lblStatus", 2640, 900, 3495, 255, "");
        row("cmdStop", 240, 840, 375, 375, "X");
        row("Label4", 120, 4200, 675, 195, "Obsolete:", true);
        row("lstDestined", 960, 4200, 5175, 1425, "");
        row("cmdKillDestined", 120, 4440, 735, 375, "KILL");
        row("lblStatusB", 2640, 1200, 3495, 255, "");
    }

    void controlGeometry()
    {
        QFETCH(QRect, twips);
        QFETCH(QString, caption);
        QFETCH(bool, fitsCaption);
        frmFinderMain window;
        const QWidget *widget = control<QWidget>(window, QTest::currentDataTag());
        QCOMPARE(captionOf(widget), caption);
        const QRect pixels(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15);
        if (!fitsCaption) {
            QCOMPARE(widget->geometry(), pixels);
            return;
        }
        // A caption label takes its text's size, but never reaches into the fields' column.
        QCOMPARE(widget->pos(), pixels.topLeft());
        QVERIFY2(widget->geometry().right() < 960 / 15, qPrintable(QString::number(widget->geometry().right())));
        QVERIFY(widget->width() >= widget->fontMetrics().horizontalAdvance(caption)
                || widget->geometry().right() == 960 / 15 - 1);
    }

    void controlsInsideAndApart()
    {
        frmFinderMain window;
        QCOMPARE(window.windowTitle(), QStringLiteral("Samelyn"));
        QCOMPARE(window.size(), QSize(419, 381));
        // Geometry whatever the visibility: the hidden stop button counts as if shown.
        const QList<QWidget *> controls = window.findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
        QCOMPARE(controls.size(), 15);
        for (qsizetype i = 0; i < controls.size(); ++i) {
            const QRect box = controls[i]->geometry();
            QVERIFY2(window.rect().contains(box), qPrintable(controls[i]->objectName()));
            for (qsizetype j = 0; j < i; ++j)
                QVERIFY2(!box.intersects(controls[j]->geometry()),
                         qPrintable(controls[i]->objectName() + " overlaps " + controls[j]->objectName()));
        }
    }

    void tabOrder_data()
    {
        QTest::addColumn<bool>("running");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("idle") << false
                              << QStringList{"txtPath", "chkSubDirs", "cmdBrowse1", "cmdStart", "lstFiles",
                                             "lstEqual", "lstDestined", "cmdKillDestined", "txtPath"};
        QTest::newRow("running") << true
                                 << QStringList{"txtPath", "chkSubDirs", "cmdBrowse1", "lstFiles", "lstEqual",
                                                "cmdStop", "lstDestined", "cmdKillDestined", "txtPath"};
    }

    void tabOrder()
    {
        QFETCH(bool, running);
        QFETCH(QStringList, expected);
        TestDir dir;
        frmFinderMain window;
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        auto *path = control<QLineEdit>(window, "txtPath");
        QCOMPARE(QApplication::focusWidget(), path);

        QStringList chain;
        if (!running) {
            chain = tabChain(expected.size());
        } else {
            MessageCatcher catcher;
            ScopedHook hook([&] {
                if (chain.isEmpty() && window.isRunning()) {
                    path->setFocus();
                    chain = tabChain(expected.size());
                }
            });
            startSearch(window, dir.path());
            QCOMPARE(catcher.texts, QStringList{"DONE!"});
        }
        QCOMPARE(chain, expected);
    }

    void enterStartsNothing()
    {
        TestDir dir;
        frmFinderMain window;
        MessageCatcher catcher;
        auto *path = control<QLineEdit>(window, "txtPath");
        QTest::keyClicks(path, dir.path());
        QTest::keyClick(path, Qt::Key_Return);
        QTest::keyClick(path, Qt::Key_Escape);
        QCOMPARE(catcher.texts, QStringList());
        QCOMPARE(control<StatusLine>(window, "lblStatus")->text(), QString());
        QCOMPARE(path->text(), dir.path());
    }

    void firstRunOverEmptyFolder()
    {
        TestDir dir;
        frmFinderMain window;
        auto *start = control<QPushButton>(window, "cmdStart");
        auto *stop = control<QPushButton>(window, "cmdStop");
        QVERIFY(start->isEnabled() && stop->isHidden());
        QCOMPARE(control<QCheckBox>(window, "chkSubDirs")->checkState(), Qt::Unchecked);

        // Start disabled, stop shown, still running: while the final box shows.
        std::optional<std::tuple<bool, bool, bool>> whileShowing;
        MessageCatcher catcher([&](const QString &) {
            whileShowing.emplace(start->isEnabled(), stop->isHidden(), window.isRunning());
        });
        startSearch(window, dir.path());

        QCOMPARE(catcher.texts, QStringList{"DONE!"});
        QVERIFY(whileShowing == std::make_tuple(false, false, true));
        QVERIFY(start->isEnabled() && stop->isHidden() && !window.isRunning());
        QCOMPARE(control<StatusLine>(window, "lblStatus")->text(), QStringLiteral("Searching for files..."));
        QCOMPARE(control<LineListBox>(window, "lstDestined")->count(), 0);
        QVERIFY(!window.state().StopRequested);
    }

    void stopFlag_data()
    {
        QTest::addColumn<int>("clicks");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("destined");
        QTest::newRow("no stop") << 0 << QStringLiteral("DONE!") << 3;
        // Stopped at the first load, the first group ends after its first inner pass.
        QTest::newRow("one click") << 1 << QStringLiteral("Canceled!") << 0;
        QTest::newRow("two clicks") << 2 << QStringLiteral("Canceled!") << 0;
    }

    void stopFlag()
    {
        QFETCH(int, clicks);
        QFETCH(QString, message);
        QFETCH(int, destined);
        TestDir dir;
        for (const QByteArray &bytes : {QByteArray("alpha"), QByteArray("bravo!"), QByteArray("charlie")}) {
            dir.createFile(QString::fromLatin1(bytes + "1"), bytes);
            dir.createFile(QString::fromLatin1(bytes + "2"), bytes);
        }
        frmFinderMain window;
        MessageCatcher catcher;
        bool clicked = false;
        ScopedHook hook([&] {
            if (clicked || window.state().LoadCount < 1)
                return;
            clicked = true;
            for (int i = 0; i < clicks; ++i)
                QTest::mouseClick(control<QPushButton>(window, "cmdStop"), Qt::LeftButton);
        });
        startSearch(window, dir.path());
        QVERIFY(clicked);
        QCOMPARE(catcher.texts, QStringList{message});
        QCOMPARE(control<LineListBox>(window, "lstDestined")->count(), destined);
        QVERIFY(!window.state().StopRequested);

        // The flag was cleared: the next run goes to its end.
        QTest::mouseClick(control<QPushButton>(window, "cmdStart"), Qt::LeftButton);
        QCOMPARE(catcher.texts, (QStringList{message, "DONE!"}));
    }

    void workspacePrivateAndOwn()
    {
        const QString programFolder = qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/tst_window");
        auto first = std::make_unique<frmFinderMain>();
        frmFinderMain second;
        const QString mine = first->state().WorkFolder;
        const QString theirs = second.state().WorkFolder;
        QVERIFY(mine != theirs);
        const QRegularExpression uniqueName(QStringLiteral("^[0-9a-f]{32}$"));
        for (const QString &folder : {mine, theirs}) {
            QCOMPARE(QFileInfo(folder).absolutePath(), programFolder);
            QVERIFY2(uniqueName.match(QFileInfo(folder).fileName()).hasMatch(), qPrintable(folder));
            struct stat st {};
            QCOMPARE(::lstat(QFile::encodeName(folder).constData(), &st), 0);
            QVERIFY(S_ISDIR(st.st_mode));
            QCOMPARE(st.st_mode & 07777, mode_t(0700));
        }

        const auto noticeShowing = [] {
            const QWidgetList windows = QApplication::topLevelWidgets();
            return std::any_of(windows.begin(), windows.end(), [](QWidget *widget) {
                auto *label = qobject_cast<QLabel *>(widget);
                return label && label->isVisible() && label->text() == QLatin1String("Deleting temporary files...");
            });
        };
        bool shownBeforeRemoval = false;
        {
            ScopedHook hook([&] { shownBeforeRemoval |= noticeShowing() && QFileInfo::exists(mine); });
            QVERIFY(first->close());
        }
        QVERIFY(shownBeforeRemoval);
        QVERIFY(!noticeShowing());
        QVERIFY(!QFileInfo::exists(mine));
        first.reset();
        QVERIFY(QFileInfo(theirs).isDir());
        QVERIFY(QFileInfo(programFolder).isDir());
    }

    void errorEndsTheProgram_data()
    {
        QTest::addColumn<bool>("removed");
        QTest::newRow("workspace removed") << true;
        QTest::newRow("workspace unwritable") << false;
    }

    void errorEndsTheProgram()
    {
        QFETCH(bool, removed);
        TestDir dir;
        dir.createFile(QStringLiteral("one"), "1");
        frmFinderMain window;
        MessageCatcher catcher;
        int ended = 0;
        frmFinderMain::setFatalHandler([&] { ++ended; });
        const QString work = window.state().WorkFolder;
        if (removed)
            QVERIFY(QDir(work).removeRecursively());
        else
            QVERIFY(QFile::setPermissions(work, QFile::ReadOwner | QFile::ExeOwner));

        startSearch(window, dir.path());
        QCOMPARE(catcher.texts.size(), 1);
        QVERIFY2(catcher.texts.first().startsWith(QStringLiteral("Error: ")), qPrintable(catcher.texts.first()));
        QCOMPARE(ended, 1);
    }
};

SAMELYN_TEST_MAIN(tst_window)
#include "tst_window.moc"

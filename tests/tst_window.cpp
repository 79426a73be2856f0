// The window as a user meets it: its layout, the keys, a screen reader's view, its states,
// its scratch folder, its errors.
#include "FittedLabel.h"
#include "TestDir.h"
#include "WindowDriver.h"

#include <QAccessible>
#include <QHelpEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTimer>
#include <QToolTip>

#include <sys/stat.h>

namespace {

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

// A label's text is whole at its font, never below 7 points; or, at 7 points, cut with its
// whole text in the tooltip.
bool captionFits(const QLabel *label)
{
    const QFontMetrics metrics(label->font());
    const QRect room = label->contentsRect();
    const bool whole = metrics.horizontalAdvance(label->text()) <= room.width() && metrics.height() <= room.height();
    const auto *fitted = qobject_cast<const FittedLabel *>(label);
    return label->font().pointSizeF() >= 7
           && (whole ? !(fitted && fitted->isElided())
                     : fitted && fitted->isElided() && label->font().pointSizeF() == 7 && label->toolTip() == label->text());
}

} // namespace

class tst_window : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { frmFinderMain::setFatalHandler({}); }

    // At the test's font, and at larger ones than the layout was drawn for.
    void layout_data()
    {
        QTest::addColumn<qreal>("points"); // 0: the test's own font
        QTest::newRow("test's font") << 0.0;
        QTest::newRow("DejaVu Sans 10") << 10.0;
        QTest::newRow("16 points") << 16.0;
    }
    void layout()
    {
        QFETCH(qreal, points);
        const QFont before = QApplication::font();
        const auto restore = qScopeGuard([&] { QApplication::setFont(before); });
        if (points > 0)
            QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), int(points)));
        frmFinderMain window;
        QCOMPARE(window.windowTitle(), QStringLiteral("Samelyn"));
        QCOMPARE(window.size(), QSize(419, 381));
        // In twips, 15 to a pixel. Width 0: a caption label, as large as its text but ending
        // clear of the fields' column at x = 64 and of the control below.
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
                right &= box.right() < 61;
            if (const auto *label = qobject_cast<const QLabel *>(widget))
                right &= captionFits(label);
            for (const QRect &other : std::as_const(taken))
                right &= !other.intersects(box);
            if (!right)
                QDebug(&wrong.emplace_back()) << row.name << box << caption;
            taken << box;
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral("; "))));

        // What a screen reader or voice control calls each control: a caption's own words
        // first; the symbols "..." and "X" say what they do.
        // One progress bar: the loading line is a label.
        using A = QAccessible;
        const struct { const char *name, *spoken, *description; QAccessible::Role role; } spokenAs[] = {
            {"txtPath", "Look here", "", A::EditableText}, {"chkSubDirs", "Also look in sub-directories", "", A::CheckBox},
            {"cmdBrowse1", "Choose folder", "", A::Button}, {"cmdStart", "Start now", "", A::Button},
            {"cmdStop", "Stop search", "", A::Button}, {"lstFiles", "Files", "", A::Table},
            {"lstEqual", "Equal", "", A::Table}, {"lstDestined", "Obsolete", "", A::Table},
            {"cmdKillDestined", "KILL", "Move 0 files (0 bytes) to the trash", A::Button},
            {"lblStatus", "", "Search status", A::ProgressBar}, {"lblStatusB", "", "Loading status", A::StaticText},
        };
        for (const auto &row : spokenAs) {
            QAccessibleInterface *read = QAccessible::queryAccessibleInterface(control<QWidget>(window, row.name));
            QCOMPARE(read->text(QAccessible::Name), QString::fromUtf8(row.spoken));
            QCOMPARE(read->text(QAccessible::Description), QString::fromUtf8(row.description));
            QCOMPARE(read->role(), row.role);
            QCOMPARE(read->valueInterface() != nullptr, row.role == A::ProgressBar);
        }
    }

    // A first search, stopped by two clicks that act as one, and a second: the keys, the
    // buttons as they go, and then what a screen reader and the keyboard find.
    void firstRun()
    {
        TestDir dir;
        for (const char *name : {"<i>1", "<i>2", "<h1>3", "holiday\u202Egpj.exe"})
            dir.createFile(QString::fromUtf8(name), "same");
        // A screen reader listens, so that the lists tell it of their lines at their own pace.
        EventPump::assumeReaderForTests(true);
        const auto noReader = qScopeGuard([] { EventPump::assumeReaderForTests(false); });
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
        QStringList focusAtStart; // where the focus is at each run's first yield
        QList<int> progress;      // the status line's value, as a screen reader reads it
        bool armed = true;
        QList<QList<bool>> whileShowing; // start enabled, stop visible, running: at each box
        QList<QList<int>> rowsAtBox;     // each list's lines, and its rows as a reader counts them
        MessageCatcher catcher([&](const QString &) {
            whileShowing.append({start->isEnabled(), stop->isVisible(), window.isRunning()});
            QList<int> rows;
            for (const char *name : {"lstFiles", "lstEqual", "lstDestined"})
                rows << control<LineListBox>(window, name)->count()
                     << QAccessible::queryAccessibleInterface(control<QWidget>(window, name))->childCount();
            rowsAtBox << rows;
        });
        ScopedHook hook([&] {
            if (window.isRunning() && window.statusText() == QStringLiteral("Searching for files...")
                && QApplication::focusWidget() && focusAtStart.size() < int(catcher.texts.size()) + 1)
                focusAtStart << QApplication::focusWidget()->objectName();
            QAccessibleInterface *status = QAccessible::queryAccessibleInterface(control<QWidget>(window, "lblStatus"));
            const int value = status->valueInterface()->currentValue().toInt();
            if (window.isRunning() && (progress.isEmpty() || progress.last() != value))
                progress << value;
            if (runningChain.isEmpty() && window.isRunning())
                runningChain = tabChain(path);
            if (window.state().LoadCount == 1 && std::exchange(armed, false))
                click(window, "cmdStop"), click(window, "cmdStop");
        });
        QTest::keyClicks(path, dir.path());
        QTest::keyClick(path, Qt::Key_Return);
        QTest::keyClick(path, Qt::Key_Escape);
        QCOMPARE(catcher.texts, QStringList());
        QCOMPARE(window.statusText(), QString());
        // A double-click on an empty list shows an empty box.
        for (const char *list : {"lstFiles", "lstEqual"})
            QTest::mouseDClick(control<LineListBox>(window, list)->viewport(), Qt::LeftButton, {}, QPoint(10, 10));
        QCOMPARE(catcher.texts, (QStringList{QString(), QString()}));
        catcher.texts.clear();
        whileShowing.clear();
        rowsAtBox.clear();

        click(window, "cmdStart");
        QCOMPARE(runningChain, (QStringList{"txtPath", "chkSubDirs", "cmdBrowse1", "lstFiles", "lstEqual", "cmdStop",
                                            "lstDestined", "txtPath", "chkSubDirs"}));
        QCOMPARE(catcher.texts, QStringList{"Canceled!"});
        QVERIFY(start->isEnabled() && stop->isHidden() && !window.isRunning() && !window.state().StopRequested);
        start->setFocus();
        QTest::keyClick(start, Qt::Key_Space);
        QCOMPARE(catcher.texts, (QStringList{"Canceled!", "DONE!"}));
        // The run holds the buttons until its box is answered.
        QCOMPARE(whileShowing, (QList<QList<bool>>{{false, true, true}, {false, true, true}}));
        // A reader moving from the box to a list finds every line of it, though the second
        // search's lines came sooner than a list tells of them by itself.
        QCOMPARE(rowsAtBox.size(), 2);
        for (const QList<int> &rows : std::as_const(rowsAtBox))
            QVERIFY2(rows[0] > 0 && rows[0] == rows[1] && rows[2] == rows[3] && rows[4] == rows[5],
                     qPrintable(QDebug::toString(rowsAtBox)));
        QVERIFY2(rowsAtBox[1][0] > rowsAtBox[0][0] && rowsAtBox[1][4] > 0, qPrintable(QDebug::toString(rowsAtBox)));
        // The focus went to X as each run started, and back to the start button after the
        // second; after the first, whose chain of tabs moved it on, it stayed where it was.
        QCOMPARE(focusAtStart, (QStringList{"cmdStop", "cmdStop"}));
        QCOMPARE(QApplication::focusWidget(), start);

        const auto reader = [&](const char *name) {
            return QAccessible::queryAccessibleInterface(control<QWidget>(window, name));
        };
        QCOMPARE(window.statusText(), QStringLiteral("Comparing group 1 of 1 (100%)..."));
        QVERIFY(!window.statusBText().isEmpty());
        QCOMPARE(reader("lblStatus")->text(QAccessible::Name), window.statusText());
        // The status line reads as a progress bar whose value follows its percentage.
        QVERIFY(reader("lblStatus")->role() == QAccessible::ProgressBar);
        QCOMPARE(reader("lblStatus")->valueInterface()->currentValue().toInt(), 100);
        QVERIFY2(progress.first() == 0 && progress.last() == 100, qPrintable(QDebug::toString(progress)));
        QCOMPARE(reader("lblStatusB")->text(QAccessible::Name), window.statusBText());
        // A status line too long for its place is cut, and its tooltip holds it whole.
        for (const char *name : {"lblStatus", "lblStatusB"})
            QVERIFY2(captionFits(control<QLabel>(window, name)), name);
        for (const char *name : {"lstFiles", "lstEqual", "lstDestined"}) {
            auto *list = control<LineListBox>(window, name);
            QAccessibleInterface *read = reader(name);
            const QStringList shown = lines(window, name);
            QVERIFY(read->role() == QAccessible::Table && !shown.isEmpty());
            QCOMPARE(read->childCount(), shown.size());
            // The keyboard: the last line, and Enter on it.
            list->setFocus();
            QTest::keyClick(list, Qt::Key_End);
            QTest::keyClick(list, Qt::Key_Return);
            QAccessibleInterface *last = read->child(int(shown.size()) - 1);
            QCOMPARE(last->text(QAccessible::Name), list->shownLine(int(shown.size()) - 1));
            QCOMPARE(last->tableCellInterface()->rowIndex(), int(shown.size()) - 1);
            QVERIFY(last->state().selected && last->state().focused && !read->child(0)->state().selected);
            QCOMPARE(read->tableInterface()->selectedRows(), QList<int>{int(shown.size()) - 1});
            // A tooltip shows a whole line, never as markup.
            QHelpEvent tip(QEvent::ToolTip, QPoint(5, 5), list->viewport()->mapToGlobal(QPoint(5, 5)));
            QApplication::sendEvent(list->viewport(), &tip);
            QVERIFY2(QToolTip::text().contains(list->shownLine(list->rowAt(5)).toHtmlEscaped()),
                     qPrintable(QToolTip::text()));
            // The reversed name shows, and reads, with its reversing character written out.
            const auto reversed = std::ranges::find_if(shown, [](const QString &line) { return line.contains(u'\u202E'); });
            QVERIFY(reversed != shown.end());
            const QString readOut = read->child(int(reversed - shown.begin()))->text(QAccessible::Name);
            QVERIFY2(readOut.contains(QLatin1String("holiday\\u202Egpj.exe")) && !readOut.contains(u'\u202E'),
                     qPrintable(readOut));
        }
        // Enter shows a line as a double-click does, in the two lists that have that command.
        auto *equal = control<LineListBox>(window, "lstEqual");
        QTest::mouseDClick(equal->viewport(), Qt::LeftButton, {}, QPoint(10, 5));
        const auto bottom = [&](const char *name) {
            auto *list = control<LineListBox>(window, name);
            return list->shownLine(list->count() - 1);
        };
        const QStringList shown = {bottom("lstFiles"), bottom("lstEqual"), equal->shownLine(equal->rowAt(5))};
        QCOMPARE(catcher.texts, QStringList({"Canceled!", "DONE!"}) + shown);
    }

    // Lines arriving at the top of a filling list move what the user looks at only while the
    // view shows the top with nothing selected in it.
    void filledListKeepsView()
    {
        struct Counted : LineSource
        {
            int lines = 0;
            int lineCount() const override { return lines; }
            QString lineAt(int row) const override { return QString::number(lines - row); }
        } source;
        LineListBox list;
        list.resize(200, 200);
        list.setSource(&source);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        const auto arrive = [&](int lines) {
            source.lines += lines;
            list.sourceInsertedAtTop(lines);
            QTest::qWait(40);
        };
        arrive(100);
        arrive(5);
        QCOMPARE(list.line(list.rowAt(1)), QStringLiteral("105"));
        list.setCurrentRow(3);
        arrive(7);
        QCOMPARE(list.line(list.currentRow()), QStringLiteral("102"));
        QCOMPARE(list.rowAt(list.rowRect(list.currentRow()).center().y()), list.currentRow());
        QCOMPARE(list.line(list.rowAt(1)), QStringLiteral("105"));

        // A screen reader's rows stay the lines it was told of until it is told of more.
        EventPump::assumeReaderForTests(true);
        const auto noReader = qScopeGuard([] { EventPump::assumeReaderForTests(false); });
        QAccessibleInterface *reader = QAccessible::queryAccessibleInterface(&list);
        list.activateWindow();
        list.setFocus();
        QTRY_VERIFY(list.hasFocus());
        QTest::qWait(1100);
        arrive(1);
        const int told = reader->childCount();
        QCOMPARE(told, source.lines);
        arrive(3);
        QCOMPARE(reader->childCount(), told);
        QCOMPARE(reader->child(0)->text(QAccessible::Name), QString::number(told));
        QCOMPARE(reader->tableInterface()->selectedRows(), QList<int>{list.currentRow() - 3});
        QTRY_COMPARE(reader->childCount(), told + 3);
        QCOMPARE(reader->child(0)->text(QAccessible::Name), QString::number(told + 3));
    }

    // The scratch folder: private, one per window, gone on closing, and an error when it fails.
    void workspace()
    {
        // In the runtime folder of the home the test process was given.
        const QString runtime = QRegularExpression::escape(testHome() + QStringLiteral("/runtime"));
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

        // A scratch folder that cannot take the size buckets is an error, which ends the program.
        // Its box is the real one, answered as a user answers it.
        int ended = 0;
        frmFinderMain::setFatalHandler([&] { ++ended; });
        TestDir dir;
        dir.createFile(QStringLiteral("one"), "1");
        QStringList boxes; // title | text | plain | buttons | icon
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                boxes << QStringList{box->windowTitle(), box->text(), QString::number(box->textFormat() == Qt::PlainText),
                                     QString::number(box->standardButtons()), QString::number(box->icon())}.join('|');
                box->button(QMessageBox::Ok)->click();
            }
        });
        answer.start(10);
        QVERIFY(QFile::setPermissions(theirs, QFile::ReadOwner | QFile::ExeOwner));
        startSearch(second, dir.path());
        QCOMPARE(boxes, QStringList{QStringLiteral("Samelyn|Error: Could not open 1.tmp: permission denied|1|%1|0")
                                        .arg(int(QMessageBox::Ok))});
        QCOMPARE(ended, 1);
    }
};

SAMELYN_TEST_MAIN(tst_window)
#include "tst_window.moc"

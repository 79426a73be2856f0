// The window's controls, where they stand, and the order the Tab key visits them.
#include "frmFinderMain.h"

#include "FittedLabel.h"
#include "LineListBox.h"
#include "StatusLabel.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

// The layout is drawn in twips: fifteen make one pixel at 96 dots per inch.
QRect twips(int left, int top, int width, int height)
{
    return {left / 15, top / 15, width / 15, height / 15};
}

template <typename Control>
Control *place(QWidget *window, const char *name, const QRect &geometry)
{
    auto *control = new Control(window);
    control->setObjectName(QString::fromLatin1(name));
    control->setGeometry(geometry);
    return control;
}

QPushButton *button(QWidget *window, const char *name, const QString &caption, const QRect &geometry)
{
    auto *control = place<QPushButton>(window, name, geometry);
    control->setText(caption);
    // Enter and Escape press no button of this window.
    control->setAutoDefault(false);
    control->setDefault(false);
    return control;
}

// Where the fields' column begins, and the gap a caption leaves before it.
constexpr int FieldsLeft = 960 / 15;
constexpr int CaptionGap = 4;

// `belowTop`, in twips, is where the control under a caption that fits its size begins; 0
// for a caption that keeps its stored size.
QLabel *caption(QWidget *window, const char *name, const QString &text, const QRect &geometry, int belowTop = 0)
{
    auto *label = place<FittedLabel>(window, name, geometry);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setText(text);
    if (belowTop) {
        // The caption's own size, but clear of the fields' column and of the control under
        // it: the desktop's font may be larger than the one this layout was drawn for.
        const QSize room(FieldsLeft - CaptionGap - geometry.left(), belowTop / 15 - 1 - geometry.top());
        label->resize(label->sizeHint().boundedTo(room));
    }
    label->setFittedText(text);
    return label;
}

// A status line: plain text whatever a file name holds, fitted to its stored size.
template <typename Label>
Label *statusLine(QWidget *window, const char *name, const QRect &geometry)
{
    auto *label = place<Label>(window, name, geometry);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->setFittedText(QString());
    return label;
}

} // namespace

void frmFinderMain::buildLayout()
{
    setWindowTitle(QStringLiteral("Samelyn"));
    setFixedSize(6285 / 15, 5715 / 15);

    Label1 = caption(this, "Label1", QStringLiteral("Look here:"), twips(120, 120, 765, 195), 840);
    txtPath = place<QLineEdit>(this, "txtPath", twips(960, 120, 4575, 285));
    chkSubDirs = place<QCheckBox>(this, "chkSubDirs", twips(960, 480, 3735, 255));
    chkSubDirs->setText(QStringLiteral("Also look in sub-directories"));
    cmdBrowse1 = button(this, "cmdBrowse1", QStringLiteral("..."), twips(5640, 120, 495, 255));
    cmdStart = button(this, "cmdStart", QStringLiteral("Start now!"), twips(960, 840, 1575, 375));
    Label2 = caption(this, "Label2", QStringLiteral("Files:"), twips(120, 1560, 615, 255));
    lstFiles = place<LineListBox>(this, "lstFiles", twips(960, 1560, 5175, 1035));
    // The lists show paths of the window's store, four bytes a line.
    lstFiles->setSource(&m_state.Files);
    Label3 = caption(this, "Label3", QStringLiteral("Equal:"), twips(120, 2760, 615, 255));
    lstEqual = place<LineListBox>(this, "lstEqual", twips(960, 2760, 5175, 1230));
    // Its lines are worked out from the groups they came from, never stored one by one.
    lstEqual->setSource(&m_state.Equal);
    lblStatus = statusLine<StatusLabel>(this, "lblStatus", twips(2640, 900, 3495, 255));
    cmdStop = button(this, "cmdStop", QStringLiteral("X"), twips(240, 840, 375, 375));
    cmdStop->hide();
    Label4 = caption(this, "Label4", QStringLiteral("Obsolete:"), twips(120, 4200, 675, 195), 4440);
    lstDestined = place<LineListBox>(this, "lstDestined", twips(960, 4200, 5175, 1425));
    lstDestined->setSource(&m_destinedShown);
    cmdKillDestined = button(this, "cmdKillDestined", QStringLiteral("KILL"), twips(120, 4440, 735, 375));
    lblStatusB = statusLine<StatusLabel>(this, "lblStatusB", twips(2640, 1200, 3495, 255));
    lblStatusB->setShowsProgress(false);

    // What a screen reader says: each caption names the field beside it, and the buttons
    // whose captions are symbols get names that say what they do.
    Label1->setBuddy(txtPath);
    Label2->setBuddy(lstFiles);
    Label3->setBuddy(lstEqual);
    Label4->setBuddy(lstDestined);
    txtPath->setAccessibleName(QStringLiteral("Look here"));
    chkSubDirs->setAccessibleName(chkSubDirs->text());
    cmdBrowse1->setAccessibleName(QStringLiteral("Choose folder"));
    cmdStart->setAccessibleName(QStringLiteral("Start now"));
    cmdStop->setAccessibleName(QStringLiteral("Stop search"));
    lstFiles->setAccessibleName(QStringLiteral("Files"));
    lstEqual->setAccessibleName(QStringLiteral("Equal"));
    lstDestined->setAccessibleName(QStringLiteral("Obsolete"));
    // A name begins with the caption's words, so that "click KILL" finds the button.
    cmdKillDestined->setAccessibleName(QStringLiteral("KILL"));
    // The status lines' name is their text, which a reader speaks as it changes.
    lblStatus->setAccessibleDescription(QStringLiteral("Search status"));
    lblStatusB->setAccessibleDescription(QStringLiteral("Loading status"));

    // Hidden and disabled controls are passed over, so the stop button takes its turn
    // only while a search shows it.
    QWidget *const order[] = {txtPath, chkSubDirs, cmdBrowse1, cmdStart, lstFiles,
                              lstEqual, cmdStop, lstDestined, cmdKillDestined};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
    txtPath->setFocus();
}

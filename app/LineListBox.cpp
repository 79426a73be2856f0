// A list box drawn by hand: Qt's item views keep memory for every row and lay rows out again
// after an insertion, which a search of hundreds of millions of lines cannot afford.
#include "LineListBox.h"

#include "EventPump.h"
#include "LineListAccessible.h"
#include "Messages.h"

#include <QAccessible>
#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QToolTip>

LineListBox::LineListBox(QWidget *parent)
    : QAbstractScrollArea(parent)
{
    installLineListAccessibility();
    m_readerLater.setSingleShot(true);
    connect(&m_readerLater, &QTimer::timeout, this, &LineListBox::tellReader);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setFocusPolicy(Qt::StrongFocus);
    setBackgroundRole(QPalette::Base);
    viewport()->setBackgroundRole(QPalette::Base);
    verticalScrollBar()->setSingleStep(1);
    refresh();
}

LineListBox::~LineListBox() = default;

void LineListBox::setSource(const LineSource *source)
{
    m_source = source ? source : &m_none;
    sourceReset();
}

void LineListBox::sourceInsertedAtTop(int added)
{
    // What the user looks at stays in place: the view moves down with the lines, unless it
    // shows the top with no selected line in sight, where the newest lines come into view.
    // A selected line that slid away as it is read would also be lost to a screen reader,
    // which passes over lines not showing.
    const int top = topRow();
    if (top > 0 || (m_current >= top && m_current < top + visibleRows()))
        m_scrollBy += added;
    m_addedAtTop += added;
    // Nobody to tell: nothing waits to be told.
    if (!EventPump::readerListens())
        m_toldAtTop = m_addedAtTop;
    // The selection stays with its line, as the lines below it move down.
    if (m_current >= 0)
        m_current += added;
    if (m_announced >= 0)
        m_announced += added;
    noteChange(LinesChanged);
}

void LineListBox::sourceReset()
{
    m_addedAtTop = 0;
    m_toldAtTop = 0;
    m_scrollBy = 0;
    ++m_epoch;
    m_current = -1;
    m_announced = -1;
    noteChange(LinesChanged);
}

void LineListBox::noteChange(unsigned notice)
{
    m_notices |= notice;
    m_pacer.changed();
}

void LineListBox::setCurrentRow(int row)
{
    m_current = (row >= 0 && row < count()) ? row : -1;
    if (m_current >= 0)
        ensureVisible(m_current);
    viewport()->update();
    noteChange(SelectionMoved);
}

QString LineListBox::selectedText() const
{
    return m_current >= 0 && m_current < count() ? line(m_current) : QString();
}

int LineListBox::rowHeight() const
{
    return fontMetrics().height() + 2;
}

QString LineListBox::shownLine(int row) const
{
    return Messages::shownPath(line(row));
}

int LineListBox::rowAt(int y) const
{
    // Only whole rows are shown: the space below the last of them belongs to no line.
    const int shown = y / rowHeight();
    const int row = topRow() + shown;
    return (y >= 0 && shown < visibleRows() && row < count()) ? row : -1;
}

QRect LineListBox::rowRect(int row) const
{
    const int shown = row - topRow();
    if (row < 0 || row >= count() || shown < 0 || shown >= visibleRows())
        return {};
    return {0, shown * rowHeight(), viewport()->width(), rowHeight()};
}

int LineListBox::visibleRows() const
{
    return std::max(1, viewport()->height() / rowHeight());
}

void LineListBox::refresh()
{
    QScrollBar *bar = verticalScrollBar();
    bar->setRange(0, std::max(0, count() - visibleRows()));
    bar->setPageStep(visibleRows());
    if (m_scrollBy > 0) {
        bar->setValue(bar->value() + m_scrollBy);
        m_scrollBy = 0;
    }
    viewport()->update();
}

void LineListBox::tellReader()
{
    // Asking for an event's interface would make one: only when a reader listens.
    if (!EventPump::readerListens()) {
        m_notices = 0;
        m_toldAtTop = m_addedAtTop;
        return;
    }
    // One notice at a time, the one the user caused first; the rest wait for the next turn.
    if (m_notices & SelectionMoved) {
        m_notices &= ~unsigned(SelectionMoved);
        // The reader first learns of the lines above, so that the rows below name its lines.
        if (untold() > 0)
            tellLines();
        // The line left first, now that it reads unselected: the bridge tells each line's
        // own state, so a reader hears the old line go as well as the new one come.
        if (m_announced >= 0 && m_announced != m_current && m_announced < count()) {
            QAccessibleEvent left(this, QAccessible::Selection);
            left.setChild(m_announced);
            QAccessible::updateAccessibility(&left);
        }
        if (m_current >= 0) {
            QAccessibleEvent event(this, hasFocus() ? QAccessible::Focus : QAccessible::Selection);
            event.setChild(m_current);
            QAccessible::updateAccessibility(&event);
        }
        m_announced = m_current;
    } else if (m_notices & LinesChanged) {
        // A list that fills is told of once a second, one the user is not in every three
        // seconds, and once more when it stops: a screen reader that follows every line falls
        // behind, and the keys with it.
        const qint64 every = hasFocus() ? ReaderIntervalMs : 3 * ReaderIntervalMs;
        const qint64 wait = m_linesTold.isValid() ? every - m_linesTold.elapsed() : 0;
        if (wait > 0) {
            if (!m_readerLater.isActive())
                m_readerLater.start(int(wait));
        } else {
            tellLines();
        }
    }
    if (m_notices & SelectionMoved)
        m_pacer.changed();
}

void LineListBox::tellLines()
{
    m_notices &= ~unsigned(LinesChanged);
    m_linesTold.start();
    m_toldAtTop = m_addedAtTop;
    if (count() > 0) {
        QAccessibleEvent event(this, QAccessible::ObjectCreated);
        event.setChild(0);
        QAccessible::updateAccessibility(&event);
    }
}

void LineListBox::ensureVisible(int row)
{
    QScrollBar *bar = verticalScrollBar();
    refresh();
    if (row < bar->value())
        bar->setValue(row);
    else if (row >= bar->value() + visibleRows())
        bar->setValue(row - visibleRows() + 1);
}

void LineListBox::paintEvent(QPaintEvent *)
{
    QPainter painter(viewport());
    const int height = rowHeight();
    const int first = topRow();
    // A row that would be cut at the bottom is left out: half a path reads as another.
    const int last = std::min(count(), first + visibleRows());
    const QPalette &pal = palette();
    const auto group = hasFocus() ? QPalette::Active : QPalette::Inactive;
    // Which list the arrows move must show. Where the palette gives the selection of a list
    // without the focus the same colour (Fusion does), it is drawn paler, in the text colour.
    QColor selection = pal.color(group, QPalette::Highlight);
    QColor selectedText = pal.color(group, QPalette::HighlightedText);
    if (!hasFocus() && selection == pal.color(QPalette::Active, QPalette::Highlight)) {
        const QColor base = pal.color(group, QPalette::Base);
        selection = QColor::fromRgbF(0.35f * selection.redF() + 0.65f * base.redF(),
                                     0.35f * selection.greenF() + 0.65f * base.greenF(),
                                     0.35f * selection.blueF() + 0.65f * base.blueF());
        selectedText = pal.color(group, QPalette::Text);
    }
    for (int row = first; row < last; ++row) {
        const QRect box(0, (row - first) * height, viewport()->width(), height);
        const bool selected = row == m_current;
        if (selected)
            painter.fillRect(box, selection);
        painter.setPen(selected ? selectedText : pal.color(group, QPalette::Text));
        // Plain text, no eliding: a line wider than the box is cut at its right edge.
        painter.drawText(box.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                         shownLine(row));
    }
    if (hasFocus()) {
        // The focus sits on the current line, or on the whole box while no line is current.
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = rowRect(m_current);
        if (option.rect.isEmpty())
            option.rect = viewport()->rect().adjusted(1, 1, -1, -1);
        option.backgroundColor = pal.color(m_current >= 0 ? QPalette::Highlight : QPalette::Base);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}

bool LineListBox::viewportEvent(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        const auto *help = static_cast<QHelpEvent *>(event);
        const int row = rowAt(help->pos().y());
        if (row < 0) {
            QToolTip::hideText();
            event->ignore();
            return true;
        }
        // A file name is never markup: escaped, and wrapped so the tooltip is surely rich text.
        QToolTip::showText(help->globalPos(),
                           QStringLiteral("<p style=\"white-space:pre-wrap\">%1</p>").arg(shownLine(row).toHtmlEscaped()),
                           viewport(), rowRect(row));
        return true;
    }
    return QAbstractScrollArea::viewportEvent(event);
}

void LineListBox::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        const int row = rowAt(event->position().toPoint().y());
        if (row >= 0)
            setCurrentRow(row);
    }
    QAbstractScrollArea::mousePressEvent(event);
}

void LineListBox::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        const int row = rowAt(event->position().toPoint().y());
        if (row >= 0)
            setCurrentRow(row);
        emit lineDoubleClicked();
        return;
    }
    QAbstractScrollArea::mouseDoubleClickEvent(event);
}

void LineListBox::keyPressEvent(QKeyEvent *event)
{
    // Qt makes a menu request of the Menu key alone; Shift+F10 is the other key for it.
    if (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier) {
        requestMenuAtCurrent();
        return;
    }
    if (count() == 0) {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    const int current = std::max(m_current, 0);
    int target;
    switch (event->key()) {
    case Qt::Key_Up: target = m_current < 0 ? 0 : current - 1; break;
    case Qt::Key_Down: target = m_current < 0 ? 0 : current + 1; break;
    case Qt::Key_PageUp: target = current - visibleRows(); break;
    case Qt::Key_PageDown: target = current + visibleRows(); break;
    case Qt::Key_Home: target = 0; break;
    case Qt::Key_End: target = count() - 1; break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // The keyboard's way to the double-click's command, on a line.
        if (m_current < 0) {
            event->ignore();
            return;
        }
        emit lineDoubleClicked();
        return;
    default:
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    setCurrentRow(std::clamp(target, 0, count() - 1));
}

void LineListBox::contextMenuEvent(QContextMenuEvent *event)
{
    if (event->reason() == QContextMenuEvent::Keyboard) {
        requestMenuAtCurrent();
        return;
    }
    // The line under the pointer, which stays unselected: the menu changes nothing.
    const QPoint at = viewport()->mapFromGlobal(event->globalPos());
    const int row = viewport()->rect().contains(at) ? rowAt(at.y()) : -1;
    if (row < 0) {
        event->ignore();
        return;
    }
    emit lineMenuRequested(row, event->globalPos(), false);
}

void LineListBox::requestMenuAtCurrent()
{
    if (m_current < 0 || m_current >= count())
        return;
    // Just below the line, so that the line itself stays in sight; at the top of the list
    // when it is scrolled out of view.
    const QRect line = rowRect(m_current);
    emit lineMenuRequested(m_current, viewport()->mapToGlobal(line.isEmpty() ? QPoint(0, 0) : line.bottomLeft()), true);
}

void LineListBox::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    refresh();
}

void LineListBox::focusInEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
    // Qt tells a reader of the list's own focus after this handler: the line follows it, or
    // the reader would end on the list and never say the line (on returning from a menu).
    QTimer::singleShot(0, this, &LineListBox::tellCurrentAgain);
}

void LineListBox::tellCurrentAgain()
{
    m_announced = -1;
    noteChange(SelectionMoved);
}

void LineListBox::tellEverything()
{
    m_pacer.flush();
    m_readerLater.stop();
    if (!EventPump::readerListens())
        return;
    // The selection's notice is sent by the flush; the lines that wait may be many.
    if ((m_notices & LinesChanged) || untold() > 0)
        tellLines();
}

void LineListBox::focusOutEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

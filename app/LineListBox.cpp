// A list box drawn by hand: Qt's item views lay out every row after an insertion, which
// turns a long search into work that grows with the square of its lines.
#include "LineListBox.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionFocusRect>

LineListBox::LineListBox(QWidget *parent)
    : QAbstractScrollArea(parent)
{
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setFocusPolicy(Qt::StrongFocus);
    setBackgroundRole(QPalette::Base);
    viewport()->setBackgroundRole(QPalette::Base);
    verticalScrollBar()->setSingleStep(1);
    refresh();
}

void LineListBox::insertTop(const QString &line, const QString &second)
{
    m_lines.push_front({line, second});
    // The selection stays with its line, as the lines below it move down.
    if (m_current >= 0)
        ++m_current;
    m_pacer.changed();
}

void LineListBox::append(const QString &line)
{
    m_lines.push_back({line, {}});
    m_pacer.changed();
}

void LineListBox::clear()
{
    m_lines.clear();
    m_current = -1;
    m_pacer.changed();
}

void LineListBox::setCurrentRow(int row)
{
    m_current = (row >= 0 && row < count()) ? row : -1;
    if (m_current >= 0)
        ensureVisible(m_current);
    viewport()->update();
}

QString LineListBox::selectedText() const
{
    return m_current >= 0 ? line(m_current) : QString();
}

int LineListBox::rowHeight() const
{
    return fontMetrics().height() + 2;
}

int LineListBox::rowAt(int y) const
{
    const int row = verticalScrollBar()->value() + y / rowHeight();
    return (y >= 0 && row < count()) ? row : -1;
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
    viewport()->update();
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
    m_pacer.painted();
    QPainter painter(viewport());
    const int height = rowHeight();
    const int first = verticalScrollBar()->value();
    const int last = std::min(count(), first + viewport()->height() / height + 1);
    const QPalette &pal = palette();
    for (int row = first; row < last; ++row) {
        const QRect box(0, (row - first) * height, viewport()->width(), height);
        const bool selected = row == m_current;
        if (selected)
            painter.fillRect(box, pal.brush(hasFocus() ? QPalette::Active : QPalette::Inactive, QPalette::Highlight));
        painter.setPen(pal.color(selected ? QPalette::HighlightedText : QPalette::Text));
        // No eliding: a line wider than the box is cut at its right edge.
        painter.drawText(box.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                         line(row));
        if (selected && hasFocus()) {
            QStyleOptionFocusRect option;
            option.initFrom(this);
            option.rect = box;
            option.backgroundColor = pal.color(QPalette::Highlight);
            style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
        }
    }
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
    default:
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    setCurrentRow(std::clamp(target, 0, count() - 1));
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
}

void LineListBox::focusOutEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

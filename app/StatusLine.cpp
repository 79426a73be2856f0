// A status label that holds its text at once and draws it at a pace a screen can show.
#include "StatusLine.h"

#include <QPainter>
#include <QStyle>

StatusLine::StatusLine(QWidget *parent)
    : QWidget(parent)
{
}

void StatusLine::setText(const QString &text)
{
    if (text == m_text)
        return;
    m_text = text;
    m_pacer.changed();
}

void StatusLine::paintEvent(QPaintEvent *)
{
    m_pacer.painted();
    QPainter painter(this);
    // Cut at the right edge rather than elided, like the other lines of the window.
    style()->drawItemText(&painter, rect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                          palette(), isEnabled(), m_text, QPalette::WindowText);
}

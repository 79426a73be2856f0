// Fitting a label's text into its stored size: a smaller font first, "…" last.
#include "FittedLabel.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QStyle>

FittedLabel::FittedLabel(QWidget *parent)
    : QLabel(parent)
{
}

void FittedLabel::setFittedText(const QString &text)
{
    setText(text);
    fit();
}

void FittedLabel::fit()
{
    if (m_fitting)
        return;
    m_fitting = true;
    // The font the window would give it, not the one an earlier text made it take.
    const QFont base = parentWidget() ? parentWidget()->font() : QApplication::font(this);
    const QRect room = contentsRect();
    const QString shown = text();
    const auto fits = [&](const QFont &font) {
        const QFontMetrics metrics(font);
        return metrics.horizontalAdvance(shown) <= room.width() && metrics.height() <= room.height();
    };
    QFont font = base;
    // Half a point at a time: the largest font that fits.
    while (!fits(font) && font.pointSizeF() - 0.5 >= SmallestPoints)
        font.setPointSizeF(font.pointSizeF() - 0.5);
    if (font == base) {
        if (testAttribute(Qt::WA_SetFont))
            setFont(QFont()); // inherits the window's again
    } else if (font != this->font()) {
        setFont(font);
    }
    const bool elided = !fits(font);
    if (elided)
        setToolTip(shown);
    else if (m_elided)
        setToolTip(QString());
    m_elided = elided;
    m_fitting = false;
    update();
}

void FittedLabel::paintEvent(QPaintEvent *event)
{
    if (!m_elided) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    const QRect room = contentsRect();
    const QString cut = fontMetrics().elidedText(text(), Qt::ElideRight, room.width());
    style()->drawItemText(&painter, room, int(alignment()), palette(), isEnabled(), cut, foregroundRole());
}

void FittedLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    fit();
}

void FittedLabel::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    // The window's font changed (a desktop setting, a new screen): fit to the new one.
    if (event->type() == QEvent::FontChange)
        fit();
}

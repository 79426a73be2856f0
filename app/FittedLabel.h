// A caption or status line that keeps its stored size and still shows its whole text.
#pragma once

#include <QLabel>

// The layout's sizes were drawn for a smaller font than many desktops use. A text that does
// not fit at the window's font is drawn in one reduced just enough, never below 7 points;
// past that it is cut with "…", and its tooltip gives the whole text. What the label holds,
// and what a screen reader reads, is always the whole text.
class FittedLabel : public QLabel
{
    Q_OBJECT
public:
    explicit FittedLabel(QWidget *parent = nullptr);

    // Sets the text and fits it; QLabel::setText alone leaves the font as it was.
    void setFittedText(const QString &text);
    // Whether the text is cut, even in the smallest font.
    [[nodiscard]] bool isElided() const { return m_elided; }

    static constexpr qreal SmallestPoints = 7;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void fit();

    bool m_fitting = false;
    bool m_elided = false;
};

// A one-column, single-selection list of text lines, light enough for a million lines:
// inserting at the top costs the same whatever the count, and only visible lines are drawn.
#pragma once

#include "RepaintPacer.h"

#include <QAbstractScrollArea>
#include <QString>

#include <deque>

class LineListBox : public QAbstractScrollArea
{
    Q_OBJECT
public:
    explicit LineListBox(QWidget *parent = nullptr);

    // A line may be given in two parts, which the box joins with its joiner when the line is
    // shown or read: a million pair lines then share their paths instead of copying them.
    void setJoiner(const QString &joiner) { m_joiner = joiner; }
    void insertTop(const QString &line, const QString &second = {});
    void append(const QString &line);
    void clear();

    [[nodiscard]] int count() const { return int(m_lines.size()); }
    [[nodiscard]] QString line(int row) const { return textOf(m_lines.at(std::size_t(row))); }
    [[nodiscard]] int currentRow() const { return m_current; }
    void setCurrentRow(int row);
    // The selected line, or the empty text when none is selected.
    [[nodiscard]] QString selectedText() const;
    [[nodiscard]] int rowHeight() const;
    [[nodiscard]] int rowAt(int y) const;

signals:
    // Also when the double-click falls below the last line: the window then shows the
    // selected line, or the empty text.
    void lineDoubleClicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    struct Line
    {
        QString first;
        QString second; // null for a line given whole
    };
    [[nodiscard]] QString textOf(const Line &line) const
    {
        return line.second.isNull() ? line.first : line.first + m_joiner + line.second;
    }
    void refresh();
    [[nodiscard]] int visibleRows() const;
    void ensureVisible(int row);

    std::deque<Line> m_lines;
    QString m_joiner;
    int m_current = -1;
    RepaintPacer m_pacer{this, [this] { refresh(); }};
};

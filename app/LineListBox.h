// A one-column, single-selection list of text lines, light enough for hundreds of millions
// of lines: it draws only the visible ones and keeps nothing per line of its own.
#pragma once

#include "LineSource.h"
#include "RepaintPacer.h"

#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QString>
#include <QTimer>


class LineListBox : public QAbstractScrollArea
{
    Q_OBJECT
public:
    explicit LineListBox(QWidget *parent = nullptr);
    ~LineListBox() override;

    // Shows the lines of `source`, which outlives its use here; nullptr shows none. The source
    // tells of its changes through the two calls after it.
    void setSource(const LineSource *source);
    // Lines were added at the top: the selection stays on its line.
    void sourceInsertedAtTop(int added);
    // Any other change: the lines are read anew, and nothing stays selected.
    void sourceReset();

    [[nodiscard]] int count() const { return m_source->lineCount(); }
    [[nodiscard]] QString line(int row) const { return m_source->lineAt(row); }
    // The line as it is drawn and read out: characters that could disguise it written out.
    [[nodiscard]] QString shownLine(int row) const;
    [[nodiscard]] int currentRow() const { return m_current; }
    void setCurrentRow(int row);
    // The selected line, or the empty text when none is selected.
    [[nodiscard]] QString selectedText() const;
    [[nodiscard]] int rowHeight() const;
    [[nodiscard]] int rowAt(int y) const;
    // Where a row is drawn, in viewport coordinates; empty when it is scrolled out of view.
    [[nodiscard]] QRect rowRect(int row) const;

    // Lines added at the top since the last reset: a screen reader's object for a line
    // follows its line by this count. A new epoch begins with every reset.
    [[nodiscard]] qint64 addedAtTop() const { return m_addedAtTop; }
    [[nodiscard]] quint64 epoch() const { return m_epoch; }
    // Lines at the top that a screen reader has not yet been told of. Until it is, it counts
    // rows without them, so that a row it asks for between two notices stays the line it
    // meant: row for the reader = row on screen - untold().
    [[nodiscard]] int untold() const { return int(m_addedAtTop - m_toldAtTop); }
    // Tells a screen reader now of every line and of the selection, before a box it will
    // read next: a list told of only every few seconds would give it a wrong count.
    void tellEverything();
    // Tells a screen reader the current line again, as when the focus comes back from a menu.
    void tellCurrentAgain();

signals:
    // Also when the double-click falls below the last line: the window then shows the
    // selected line, or the empty text. Enter on a line does the same.
    void lineDoubleClicked();
    // A menu is asked for on `row`: by a right-click on it, or from the keyboard (the Menu
    // key, Shift+F10) on the current line. `where` is the place for the menu, on the screen.
    void lineMenuRequested(int row, const QPoint &where, bool byKeyboard);

protected:
    bool viewportEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    struct NoLines : LineSource
    {
        int lineCount() const override { return 0; }
        QString lineAt(int) const override { return {}; }
    };
    // What a screen reader is yet to be told, one notice per refresh at most.
    enum Notice : unsigned { LinesChanged = 1, SelectionMoved = 2 };

    void refresh();
    void tellReader();
    void tellLines();
    void noteChange(unsigned notice);
    [[nodiscard]] int visibleRows() const;
    // The first line in view, counting lines that arrived above it since it was laid out: a
    // screen reader may ask where a line is before the view moves down with it.
    [[nodiscard]] int topRow() const { return verticalScrollBar()->value() + m_scrollBy; }
    void ensureVisible(int row);
    void requestMenuAtCurrent();

    NoLines m_none;
    const LineSource *m_source = &m_none;
    int m_current = -1;
    int m_announced = -1; // the line a screen reader was last told is selected
    static constexpr qint64 ReaderIntervalMs = 1000;
    QElapsedTimer m_linesTold; // since a screen reader was last told of new lines
    QTimer m_readerLater;
    qint64 m_addedAtTop = 0;
    qint64 m_toldAtTop = 0; // m_addedAtTop as a screen reader was last told it
    int m_scrollBy = 0; // lines added above the view since it was last laid out
    quint64 m_epoch = 0;
    unsigned m_notices = 0;
    RepaintPacer m_pacer{this, [this] {
        refresh();
        if (m_notices)
            tellReader();
    }};
};

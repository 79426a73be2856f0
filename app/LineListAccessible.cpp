// A LineListBox as a screen reader reads it: a table of one column, one cell per line. A
// table, not a list: Orca asks a list for every child's role to say how many lines it has,
// one message per line, which stalls it for minutes on a list of millions; a table it asks
// for its row count. A line's object is made only when asked for and kept in a cache of
// bounded size, so that a reader walking a list of millions of lines cannot make us keep
// an object for each.
#include "LineListAccessible.h"

#include "LineListBox.h"

#include <QAccessibleWidget>
#include <QPointer>
#include <QScrollBar>

#include <deque>
#include <unordered_map>

namespace {

// Enough for every line a reader shows or speaks at a time, with ample room to walk back.
constexpr std::size_t CachedLines = 4096;

// One line. It follows its line as lines are added at the top, and falls invalid when the
// list is reset or its line is gone. Its row to a reader leaves out the lines above that the
// reader has not been told of yet.
class LineAccessible : public QAccessibleInterface, public QAccessibleTableCellInterface
{
public:
    LineAccessible(LineListBox *box, quint64 epoch, qint64 key) : m_box(box), m_epoch(epoch), m_key(key) {}

    [[nodiscard]] const LineListBox *box() const { return m_box; }
    // Its row on screen, or -1 when it is gone.
    [[nodiscard]] int row() const
    {
        if (!m_box || m_box->epoch() != m_epoch)
            return -1;
        const qint64 row = m_key + m_box->addedAtTop();
        return row >= 0 && row < m_box->count() ? int(row) : -1;
    }
    [[nodiscard]] int readerRow() const
    {
        const int at = row();
        return at >= 0 ? at - m_box->untold() : -1;
    }

    bool isValid() const override { return row() >= 0; }
    QObject *object() const override { return nullptr; }
    QWindow *window() const override { return m_box ? m_box->window()->windowHandle() : nullptr; }
    QAccessibleInterface *parent() const override { return QAccessible::queryAccessibleInterface(m_box.data()); }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QAccessible::Role role() const override { return QAccessible::Cell; }
    void setText(QAccessible::Text, const QString &) override {}
    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TableCellInterface)
            return static_cast<QAccessibleTableCellInterface *>(this);
        return nullptr;
    }

    // Its place in the table of one column.
    bool isSelected() const override { return m_box && row() >= 0 && row() == m_box->currentRow(); }
    QList<QAccessibleInterface *> columnHeaderCells() const override { return {}; }
    QList<QAccessibleInterface *> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return 0; }
    int rowIndex() const override { return readerRow(); }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface *table() const override { return parent(); }

    QString text(QAccessible::Text type) const override
    {
        const int at = row();
        // What the screen shows, so that what is heard or read in braille is what is seen.
        return type == QAccessible::Name && at >= 0 ? m_box->shownLine(at) : QString();
    }

    QRect rect() const override
    {
        const int at = row();
        const QRect local = at >= 0 ? m_box->rowRect(at) : QRect();
        return local.isEmpty() ? QRect() : QRect(m_box->viewport()->mapToGlobal(local.topLeft()), local.size());
    }

    QAccessible::State state() const override
    {
        QAccessible::State state;
        const int at = row();
        if (at < 0) {
            state.invalid = true;
            return state;
        }
        state.selectable = true;
        state.focusable = true;
        state.selected = at == m_box->currentRow();
        state.focused = state.selected && m_box->hasFocus();
        state.offscreen = m_box->rowRect(at).isEmpty();
        return state;
    }

private:
    QPointer<LineListBox> m_box;
    quint64 m_epoch;
    qint64 m_key; // the row it had, less the lines then added at the top
};

// The list itself, with the table interface of one column through which Qt's list views
// tell the selection.
class LineListAccessible : public QAccessibleWidget, public QAccessibleTableInterface
{
public:
    explicit LineListAccessible(LineListBox *box) : QAccessibleWidget(box, QAccessible::Table) {}
    ~LineListAccessible() override { releaseLines(); }

    [[nodiscard]] LineListBox *box() const { return static_cast<LineListBox *>(widget()); }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TableInterface)
            return static_cast<QAccessibleTableInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    // Rows here are a reader's rows: without the lines above it has not been told of yet.
    int childCount() const override { return box()->count() - box()->untold(); }

    QAccessibleInterface *child(int index) const override
    {
        LineListBox *list = box();
        if (index < 0 || index >= childCount())
            return nullptr;
        if (m_epoch != list->epoch()) {
            releaseLines();
            m_epoch = list->epoch();
        }
        const qint64 key = index + list->untold() - list->addedAtTop();
        if (const auto found = m_ids.find(key); found != m_ids.end())
            return QAccessible::accessibleInterface(found->second);
        const QAccessible::Id id = QAccessible::registerAccessibleInterface(new LineAccessible(list, m_epoch, key));
        m_ids.emplace(key, id);
        m_made.push_back(key);
        while (m_made.size() > CachedLines) {
            // The oldest goes; a reader that still holds it finds it gone and asks again.
            QAccessible::deleteAccessibleInterface(m_ids.at(m_made.front()));
            m_ids.erase(m_made.front());
            m_made.pop_front();
        }
        return QAccessible::accessibleInterface(id);
    }

    int indexOfChild(const QAccessibleInterface *child) const override
    {
        const auto *line = dynamic_cast<const LineAccessible *>(child);
        return line && line->box() == box() ? line->readerRow() : -1;
    }

    QAccessibleInterface *childAt(int x, int y) const override
    {
        const QPoint at = box()->viewport()->mapFromGlobal(QPoint(x, y));
        if (!box()->viewport()->rect().contains(at))
            return nullptr;
        return child(box()->rowAt(at.y()) - box()->untold());
    }

    QAccessibleInterface *focusChild() const override
    {
        if (box()->hasFocus() && currentRow() >= 0)
            return child(currentRow());
        return QAccessibleWidget::focusChild();
    }

    // One column; the current line is the one selected row.
    QAccessibleInterface *caption() const override { return nullptr; }
    QAccessibleInterface *summary() const override { return nullptr; }
    QAccessibleInterface *cellAt(int row, int column) const override { return column == 0 ? child(row) : nullptr; }
    int selectedCellCount() const override { return currentRow() >= 0 ? 1 : 0; }
    QList<QAccessibleInterface *> selectedCells() const override
    {
        if (QAccessibleInterface *line = child(currentRow()))
            return {line};
        return {};
    }
    QString columnDescription(int) const override { return {}; }
    QString rowDescription(int) const override { return {}; }
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override { return selectedCellCount(); }
    int columnCount() const override { return 1; }
    int rowCount() const override { return childCount(); }
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override
    {
        if (currentRow() >= 0)
            return {currentRow()};
        return {};
    }
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int row) const override { return row >= 0 && row == currentRow(); }
    bool selectRow(int row) override
    {
        if (row < 0 || row >= childCount())
            return false;
        box()->setCurrentRow(row + box()->untold());
        return true;
    }
    bool selectColumn(int) override { return false; }
    bool unselectRow(int row) override
    {
        if (!isRowSelected(row))
            return false;
        box()->setCurrentRow(-1);
        return true;
    }
    bool unselectColumn(int) override { return false; }
    // The lines' objects follow the box's own count of lines added at the top and of resets.
    void modelChange(QAccessibleTableModelChangeEvent *) override {}

private:
    // The selected line's row to a reader, or -1.
    [[nodiscard]] int currentRow() const
    {
        const int row = box()->currentRow() - box()->untold();
        return box()->currentRow() >= 0 && row >= 0 ? row : -1;
    }

    void releaseLines() const
    {
        for (const auto &[key, id] : m_ids)
            QAccessible::deleteAccessibleInterface(id);
        m_ids.clear();
        m_made.clear();
    }

    mutable quint64 m_epoch = 0;
    mutable std::unordered_map<qint64, QAccessible::Id> m_ids;
    mutable std::deque<qint64> m_made; // oldest first
};

QAccessibleInterface *lineListFactory(const QString &key, QObject *object)
{
    if (key == QLatin1String("LineListBox"))
        if (auto *box = qobject_cast<LineListBox *>(object))
            return new LineListAccessible(box);
    return nullptr;
}

// A list's scroll bar moves with every few lines that arrive above a view kept in place, and
// each move would be a message a screen reader must take in before the keys: in a long search
// thousands, and the final box waited behind them. They are not sent; the bar still gives its
// value when asked, and the lines themselves say where the reader is.
QAccessible::UpdateHandler s_passOn = nullptr;
void withoutListScrolling(QAccessibleEvent *event)
{
    const QObject *object = event->object();
    if (event->type() == QAccessible::ValueChanged && qobject_cast<const QScrollBar *>(object) && object->parent()
        && qobject_cast<const LineListBox *>(object->parent()->parent()))
        return;
    if (s_passOn) {
        s_passOn(event);
        return;
    }
    // Qt offers no way on to the platform but its own: it is taken with this handler set aside.
    QAccessible::installUpdateHandler(nullptr);
    QAccessible::updateAccessibility(event);
    QAccessible::installUpdateHandler(withoutListScrolling);
}

} // namespace

void installLineListAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(lineListFactory);
        s_passOn = QAccessible::installUpdateHandler(withoutListScrolling);
        return true;
    }();
    Q_UNUSED(installed);
}

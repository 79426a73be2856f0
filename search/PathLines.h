// Lines that are paths of the window's store, four bytes each: the files list, the proposed files.
#pragma once

#include "LineSource.h"
#include "PathStore.h"

#include <vector>

class PathLines : public LineSource
{
public:
    enum class Order { AsAppended, NewestFirst };
    explicit PathLines(const PathStore *store = nullptr, Order order = Order::AsAppended)
        : m_store(store), m_order(order)
    {
    }

    void append(PathStore::Id id) { m_ids.push_back(id); }
    void assign(std::vector<PathStore::Id> ids) { m_ids = std::move(ids); }
    void clear() { m_ids = {}; }
    [[nodiscard]] int count() const { return int(m_ids.size()); }
    // Positions count from 1, as everywhere in the search run.
    [[nodiscard]] PathStore::Id idAt(int position) const { return m_ids[std::size_t(position - 1)]; }
    [[nodiscard]] QString item(int position) const { return m_store->lowered(idAt(position)); }
    [[nodiscard]] const std::vector<PathStore::Id> &ids() const { return m_ids; }

    // The file a list's row shows; the row must be one of the lines.
    [[nodiscard]] PathStore::Id idAtRow(int row) const
    {
        return idAt(m_order == Order::NewestFirst ? count() - row : row + 1);
    }

    [[nodiscard]] int lineCount() const override { return count(); }
    [[nodiscard]] QString lineAt(int row) const override
    {
        if (row < 0 || row >= count())
            return {};
        return m_store->lowered(idAtRow(row));
    }

private:
    const PathStore *m_store;
    Order m_order;
    std::vector<PathStore::Id> m_ids;
};

// An ordered list of texts with an index, so that asking whether it holds a text costs the
// same for ten entries as for a million; order and repeated entries stay as appended.
#pragma once

#include <QHash>
#include <QString>

#include <vector>

class TextList
{
public:
    void append(const QString &text);
    // Positions count from 1, as everywhere in the search run.
    [[nodiscard]] const QString &item(int position) const { return m_items.at(std::size_t(position - 1)); }
    [[nodiscard]] int count() const { return int(m_items.size()); }
    [[nodiscard]] bool isEmpty() const { return m_items.empty(); }
    [[nodiscard]] bool contains(const QString &text) const { return m_counts.contains(text); }
    [[nodiscard]] const std::vector<QString> &items() const { return m_items; }

private:
    std::vector<QString> m_items;
    QHash<QString, int> m_counts;
};

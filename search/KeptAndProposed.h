// What one search run keeps and what it proposes, told by lower-cased text and by identity.
#pragma once

#include "FileId.h"
#include "PathStore.h"

#include <QByteArray>
#include <QSet>

#include <vector>

// The first file of each set of equal files is kept, and the others are proposed; a file that
// is, by its lower-cased text or as the same file on disk, a kept copy or a proposed one is
// not proposed (again): that would free no space. Both are remembered from group to group of
// a run. A group's positions are numbered by text and by identity when it begins, so that each
// of a hundred million pairs costs array look-ups.
class KeptAndProposed
{
public:
    // A new run: nothing is kept or proposed.
    void clear();
    // The group whose positions keep() and propose() take from now on.
    void beginGroup(const PathStore &store, const std::vector<PathStore::Id> &group);

    // The file at `position` of the group is kept.
    void keep(int position)
    {
        const std::size_t t = std::size_t(m_textOf[std::size_t(position)]);
        const std::size_t i = std::size_t(m_idOf[std::size_t(position)]);
        m_keptText[t] = m_keptId[i] = 1;
        remember(m_keptTexts, m_keptIds, t, i);
    }

    // Proposes the file at `position` of the group unless it is kept or proposed already, by
    // its text or its identity; true when it is proposed now.
    [[nodiscard]] bool propose(int position)
    {
        const std::size_t t = std::size_t(m_textOf[std::size_t(position)]);
        const std::size_t i = std::size_t(m_idOf[std::size_t(position)]);
        if (m_keptText[t] || m_keptId[i] || m_proposedText[t] || m_proposedId[i])
            return false;
        m_proposedText[t] = m_proposedId[i] = 1;
        remember(m_proposedTexts, m_proposedIds, t, i);
        return true;
    }

private:
    void remember(QSet<QByteArray> &texts, QSet<FileId> &ids, std::size_t text, std::size_t id) const;

    // The run's, across its groups.
    QSet<QByteArray> m_keptTexts, m_proposedTexts;
    QSet<FileId> m_keptIds, m_proposedIds;

    // The group's: each position's text and identity as small numbers, what they stand for,
    // and whether each is kept or proposed. A line whose file was never seen has no identity
    // to share: its number is past those of m_idKeys, one of its own.
    std::vector<int> m_textOf, m_idOf;
    std::vector<QByteArray> m_textKeys;
    std::vector<FileId> m_idKeys;
    std::vector<char> m_keptText, m_proposedText, m_keptId, m_proposedId;
};

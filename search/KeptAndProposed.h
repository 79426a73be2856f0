// What one search run keeps and what it proposes, told by identity and by name.
#pragma once

#include "FileId.h"
#include "PathStore.h"

#include <QByteArray>
#include <QSet>

#include <functional>
#include <utility>
#include <vector>

// The first file of each set of equal files is kept, and the others are proposed. Which file
// a name leads to decides, never its lower-cased text: on Linux two names that differ only in
// case are two files. A file is never proposed while one of its names is kept, since that
// would free nothing; each other name of a proposed file is proposed too, since moving only
// one of them would free nothing either. Both are remembered from group to group of a run.
// A group's positions are numbered by identity and by name when it begins, so that each of a
// hundred million pairs costs array look-ups.
class KeptAndProposed
{
public:
    // A new run: nothing is kept or proposed.
    void clear();
    // The group whose positions keep() and propose() take from now on.
    // `breathe` is called every few thousand files: a group of hundreds of thousands takes a
    // while to number, and the window is served meanwhile.
    void beginGroup(const PathStore &store, const std::vector<PathStore::Id> &group, const std::function<void()> &breathe);

    // The file at `position` of the group is kept.
    void keep(int position)
    {
        const std::size_t i = std::size_t(m_idOf[std::size_t(position)]);
        if (!std::exchange(m_keptId[i], char(1)) && i < m_idKeys.size())
            m_keptIds.insert(m_idKeys[i]);
    }

    // Proposes the name at `position` of the group unless its file is kept or the name is
    // proposed already; true when it is proposed now.
    [[nodiscard]] bool propose(int position)
    {
        const std::size_t i = std::size_t(m_idOf[std::size_t(position)]);
        const std::size_t name = std::size_t(m_nameOf[std::size_t(position)]);
        if (m_keptId[i] || m_proposedName[name])
            return false;
        m_proposedName[name] = 1;
        m_proposedNames.insert(m_nameKeys[name]);
        return true;
    }

private:
    // The run's, across its groups.
    QSet<FileId> m_keptIds;
    QSet<QByteArray> m_proposedNames;

    // The group's: each position's identity and name as small numbers, what they stand for,
    // and whether each is kept or proposed. A line whose file was never seen has no identity
    // to share: its number is past those of m_idKeys, one of its own.
    std::vector<int> m_idOf, m_nameOf;
    std::vector<FileId> m_idKeys;
    std::vector<QByteArray> m_nameKeys;
    std::vector<char> m_keptId, m_proposedName;
};

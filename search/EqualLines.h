// The lines of the equal list, kept as the groups they came from rather than one text each.
#pragma once

#include "LineSource.h"
#include "PathStore.h"

#include <QString>

#include <climits>
#include <utility>
#include <vector>

// A group of m equal files gives m(m-1) lines: twenty thousand empty files would need 400
// million texts. A group is kept as its paths and the class of equal content of each position;
// a line is worked out from its number when it is drawn or read. A group's lines arise in a
// fixed order: for each outer position whose file was loaded, one line per other loaded
// position of its class, in ascending order; a stop cuts that sequence short.
class EqualLines : public LineSource
{
public:
    // The most lines a list can count.
    static constexpr qint64 Capacity = INT_MAX;

    explicit EqualLines(const PathStore *store) : m_store(store) {}

    // A new group of lines at the top; `classes` gives each position's class, -1 for a file
    // that was not loaded. Returns the group's number, or -1 when no position has a partner
    // (and then nothing is kept of it).
    int beginGroup(const std::vector<PathStore::Id> &files, const std::vector<int> &classes);
    // Counts the next `count` lines of the newest group; false (and nothing counted) when
    // the list cannot hold them.
    [[nodiscard]] bool addLines(qint64 count)
    {
        if (count > Capacity - m_total)
            return false;
        if (count > 0) {
            m_groups.back().lines += count;
            m_total += count;
        }
        return true;
    }

    [[nodiscard]] int groupCount() const { return int(m_groups.size()); }
    // The outer path of every line of the groups from `firstGroup` on, in the order they arose.
    [[nodiscard]] std::vector<QString> outerPaths(int firstGroup) const;

    // The two files of a row's pair, outer first; the row must be one of the lines.
    [[nodiscard]] std::pair<PathStore::Id, PathStore::Id> filesAt(int row) const;

    // Row 0 is the newest line.
    [[nodiscard]] int lineCount() const override { return int(m_total); }
    [[nodiscard]] QString lineAt(int row) const override;

private:
    struct Group
    {
        qint64 firstLine = 0; // lines of all older groups
        qint64 lines = 0;
        // Only the positions that have a partner: a file equal to no other makes no line.
        std::vector<PathStore::Id> files;
        std::vector<int> classOf;
        std::vector<int> rankInClass;   // where the position stands among its class's members
        std::vector<qint64> linesBefore; // lines of the outer passes before each position, and in all
        std::vector<std::vector<int>> members;
    };
    [[nodiscard]] std::pair<int, int> pairOf(const Group &group, qint64 line) const;

    const PathStore *m_store;
    std::vector<Group> m_groups;
    qint64 m_total = 0;
};

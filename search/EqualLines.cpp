// Working out a line of the equal list from its number.
#include "EqualLines.h"

#include <algorithm>

namespace {
// Between the two paths of an equal pair.
const QString EqualSeparator = QStringLiteral(" <--> ");
} // namespace

int EqualLines::beginGroup(const std::vector<PathStore::Id> &files, const std::vector<int> &classes)
{
    std::vector<int> size;
    for (const int cls : classes) {
        if (cls < 0)
            continue;
        if (std::size_t(cls) >= size.size())
            size.resize(std::size_t(cls) + 1);
        ++size[std::size_t(cls)];
    }
    // Classes with partners, numbered anew from 0.
    std::vector<int> renumbered(size.size(), -1);
    int kept = 0;
    for (std::size_t cls = 0; cls < size.size(); ++cls) {
        if (size[cls] >= 2)
            renumbered[cls] = kept++;
    }
    Group group;
    group.firstLine = m_total;
    for (std::size_t p = 0; p < classes.size(); ++p) {
        const int cls = classes[p] < 0 ? -1 : renumbered[std::size_t(classes[p])];
        if (cls < 0)
            continue;
        group.files.push_back(files[p]);
        group.classOf.push_back(cls);
    }
    const std::size_t n = group.files.size();
    if (n == 0)
        return -1; // no line will ever come of it
    group.rankInClass.assign(n, -1);
    group.members.resize(std::size_t(kept));
    for (std::size_t p = 0; p < n; ++p) {
        std::vector<int> &members = group.members[std::size_t(group.classOf[p])];
        group.rankInClass[p] = int(members.size());
        members.push_back(int(p));
    }
    group.linesBefore.resize(n + 1);
    qint64 lines = 0;
    for (std::size_t p = 0; p < n; ++p) {
        group.linesBefore[p] = lines;
        lines += qint64(group.members[std::size_t(group.classOf[p])].size()) - 1;
    }
    group.linesBefore[n] = lines;
    m_groups.push_back(std::move(group));
    return int(m_groups.size()) - 1;
}

std::pair<int, int> EqualLines::pairOf(const Group &group, qint64 line) const
{
    // The outer position is the last whose passes before it made no more than `line` lines.
    const auto after = std::upper_bound(group.linesBefore.begin(), group.linesBefore.end(), line);
    const int outer = int(after - group.linesBefore.begin()) - 1;
    const qint64 within = line - group.linesBefore[std::size_t(outer)];
    const int rank = group.rankInClass[std::size_t(outer)];
    const std::vector<int> &members = group.members[std::size_t(group.classOf[std::size_t(outer)])];
    // The outer position is never its own partner.
    const int inner = members[std::size_t(within < rank ? within : within + 1)];
    return {outer, inner};
}

std::pair<PathStore::Id, PathStore::Id> EqualLines::filesAt(int row) const
{
    const qint64 line = m_total - 1 - row;
    const auto after = std::upper_bound(m_groups.begin(), m_groups.end(), line,
                                        [](qint64 value, const Group &group) { return value < group.firstLine; });
    const Group &group = *(after - 1);
    const auto [outer, inner] = pairOf(group, line - group.firstLine);
    return {group.files[std::size_t(outer)], group.files[std::size_t(inner)]};
}

QString EqualLines::lineAt(int row) const
{
    if (row < 0 || row >= m_total)
        return {};
    const auto [outer, inner] = filesAt(row);
    return m_store->lowered(outer) + EqualSeparator + m_store->lowered(inner);
}

std::vector<QString> EqualLines::outerPaths(int firstGroup) const
{
    std::vector<QString> paths;
    for (std::size_t g = std::size_t(std::max(firstGroup, 0)); g < m_groups.size(); ++g) {
        const Group &group = m_groups[g];
        for (qint64 line = 0; line < group.lines; ++line)
            paths.push_back(m_store->lowered(group.files[std::size_t(pairOf(group, line).first)]));
    }
    return paths;
}

// Which files of one size group hold the same bytes, learnt by reading each file about once.
#pragma once

#include "PathStore.h"

#include <atomic>
#include <functional>
#include <vector>

// The comparison asks "is the file at j equal to the one at k" for every ordered pair of a
// group; the answer is the same whether it is read n times or once. This learns the answer
// for the whole group up front: files are read side by side in chunks and split wherever their
// bytes part, so equality is always decided by comparing every byte, never by a hash alone.
class GroupContent
{
public:
    enum class State : quint8 { Loaded, Gone, Unreadable };

    // Content held in memory at once, whatever the group.
    static constexpr qint64 MemoryBudget = 32 * 1024 * 1024;
    // Files held open at once: a quarter of what the process may open, so that the window and
    // the desktop's libraries keep theirs, and no more than 128 nor fewer than 8.
    [[nodiscard]] static int descriptorCap();

    // Reads the files of one group, each expected to be `size` bytes long. A position whose
    // file is not known (`native` empty), gone, or no longer the file that was found, is Gone; one that cannot
    // be read is Unreadable. Returns false, with every descriptor closed and nothing learnt,
    // when `cancel` is set meanwhile; it is looked at before every open and every read.
    // `cap` and `memory` are this reader's share, where several read side by side.
    [[nodiscard]] bool examine(const std::vector<DiskFile> &files, qint64 size, const std::atomic<bool> &cancel,
                               int cap = descriptorCap(), qint64 memory = MemoryBudget);

    // For tests: called on the reading thread before every read, as a drive that does not
    // answer would hold it. An empty function removes it.
    static void setBeforeReadForTests(std::function<void()> hook);

    [[nodiscard]] State stateOf(int index) const { return m_state[std::size_t(index)]; }
    // Equal numbers mean equal bytes; only for Loaded positions.
    [[nodiscard]] int classOf(int index) const { return m_class[std::size_t(index)]; }

private:
    std::vector<State> m_state;
    std::vector<int> m_class;
};

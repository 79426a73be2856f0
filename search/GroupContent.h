// Which files of one size group hold the same bytes, learnt by reading each file about once.
#pragma once

#include "SearchState.h"

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

    // Content held in memory at once, and files held open at once, whatever the group.
    static constexpr qint64 MemoryBudget = 32 * 1024 * 1024;
    static constexpr int OpenFilesCap = 128;

    // Reads the files of one group, each expected to be `size` bytes long. A position whose
    // file is not known (`path` empty), gone, or no longer the file that was found, is Gone;
    // one that cannot be read is Unreadable. `breathe` is called now and then during reads.
    void examine(const std::vector<DiskFile> &files, qint64 size, const std::function<void()> &breathe);

    [[nodiscard]] State stateOf(int index) const { return m_state[std::size_t(index)]; }
    // Equal numbers mean equal bytes; only for Loaded positions.
    [[nodiscard]] int classOf(int index) const { return m_class[std::size_t(index)]; }
    [[nodiscard]] int classCount() const { return m_classes; }

private:
    std::vector<State> m_state;
    std::vector<int> m_class;
    int m_classes = 0;
};

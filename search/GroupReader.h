// Reading the size groups of a search on threads of their own, a few groups ahead of the
// comparison, so that no read, however slow the disk, holds up the window or a stop.
#pragma once

#include "GroupContent.h"
#include "Worker.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// The threads touch nothing but the files and the queue they share with the reader: every
// widget, list and piece of the window's state stays with the window's thread, which takes
// the results in the order the groups were queued. Each thread reads a group of its own,
// within its share of the descriptors and memory one reader may hold. Nothing here waits for
// a thread: one held up in a read that never returns is let go of, and ends on its own.
class GroupReader
{
public:
    explicit GroupReader(int threads = 2);
    // Lets go of the threads; they drop what they were reading.
    ~GroupReader();
    GroupReader(const GroupReader &) = delete;
    GroupReader &operator=(const GroupReader &) = delete;

    // Queues a group, to be read after those queued before it.
    void queue(std::vector<DiskFile> files, qint64 size);
    [[nodiscard]] qsizetype queuedFiles() const;

    // The oldest queued group, once read, and off the queue. While it is being read,
    // `keepWaiting` is asked every `slice`; when it says no, the reader gives up
    // every queued group and gives nothing. What the thread threw is thrown here.
    [[nodiscard]] std::optional<GroupContent> take(const std::function<bool()> &keepWaiting,
                                                   std::chrono::microseconds slice = std::chrono::milliseconds(2));

    // Lets go of the reads under way, as before a modal box: the run is not to go on behind
    // it. Queued groups stay queued and are read afresh when one is next taken.
    void pause();
    // Lets go of the reads under way and drops every queued group.
    void discardAll();

private:
    struct Shared;
    void start();

    const int m_threadCount;
    std::shared_ptr<Shared> m_shared;
    std::vector<std::unique_ptr<Worker>> m_workers;
};

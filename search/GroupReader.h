// Reading the size groups of a search on threads of their own, a few groups ahead of the
// comparison, so that no read, however slow the disk, holds up the window or a stop.
#pragma once

#include "GroupContent.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// The threads touch nothing but the files and their own queue: every widget, list and piece
// of the window's state stays with the window's thread, which takes the results in the order
// the groups were queued. Each thread reads a group of its own, within its share of the
// descriptors and memory one reader may hold: the window's thread mostly waits meanwhile.
class GroupReader
{
public:
    explicit GroupReader(int threads = 2) : m_threadCount(std::max(1, threads)) {}
    // Abandons what is being read and joins the threads: nothing outlives the reader.
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

    // Abandons the reads under way and joins the threads, as before a modal box: the run is
    // not to go on behind it. Queued groups stay queued and are read when one is next taken.
    void pause();
    // Abandons the reads under way and drops every queued group.
    void discardAll();

private:
    struct Job
    {
        std::shared_ptr<const std::vector<DiskFile>> files;
        qint64 size = 0;
        bool taken = false; // a thread is reading it
        bool done = false;
        GroupContent content;
        std::exception_ptr error;
    };

    void start();
    void work();

    mutable std::mutex m_mutex;
    const int m_threadCount;
    static constexpr int ReadingNice = 10; // on Linux, a thread's own nice value
    std::condition_variable m_wake; // a thread has work, or is to end
    std::condition_variable m_done; // a job is done
    std::deque<Job> m_jobs;
    qsizetype m_queuedFiles = 0;
    bool m_quit = false;
    std::atomic<bool> m_cancel{false};
    std::vector<std::thread> m_threads;
};

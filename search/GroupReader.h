// Reading the size groups of a search on a thread of its own, a few groups ahead of the
// comparison, so that no read, however slow the disk, holds up the window or a stop.
#pragma once

#include "GroupContent.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

// The thread touches nothing but the files and its own queue: every widget, list and piece of
// the window's state stays with the window's thread, which takes the results in the order the
// groups were queued.
class GroupReader
{
public:
    GroupReader() = default;
    // Abandons what is being read and joins the thread: nothing outlives the reader.
    ~GroupReader();
    GroupReader(const GroupReader &) = delete;
    GroupReader &operator=(const GroupReader &) = delete;

    // Queues a group, to be read after those queued before it.
    void queue(std::vector<DiskFile> files, qint64 size);
    [[nodiscard]] int queuedGroups() const;
    [[nodiscard]] qsizetype queuedFiles() const;

    // The oldest queued group, once read, and off the queue. While it is being read,
    // `keepWaiting` is asked every couple of milliseconds; when it says no, the reader gives up
    // every queued group and gives nothing. What the thread threw is thrown here.
    [[nodiscard]] std::optional<GroupContent> take(const std::function<bool()> &keepWaiting);

    // Abandons the read under way and joins the thread, as before a modal box: the run is not
    // to go on behind it. Queued groups stay queued and are read when one is next taken.
    void pause();

private:
    struct Job
    {
        std::shared_ptr<const std::vector<DiskFile>> files;
        qint64 size = 0;
        bool done = false;
        GroupContent content;
        std::exception_ptr error;
    };

    void start();
    void work();
    void abandonAll();

    mutable std::mutex m_mutex;
    std::condition_variable m_wake; // the thread has work, or is to end
    std::condition_variable m_done; // a job is done
    std::deque<Job> m_jobs;
    qsizetype m_queuedFiles = 0;
    bool m_quit = false;
    std::atomic<bool> m_cancel{false};
    std::thread m_thread;
};

// The comparison's reading thread and the hand-over of its results.
#include "GroupReader.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

GroupReader::~GroupReader()
{
    pause();
}

void GroupReader::queue(std::vector<DiskFile> files, qint64 size)
{
    {
        const std::lock_guard lock(m_mutex);
        m_queuedFiles += qsizetype(files.size());
        Job job;
        job.files = std::make_shared<const std::vector<DiskFile>>(std::move(files));
        job.size = size;
        m_jobs.push_back(std::move(job));
    }
    if (m_threads.empty())
        start();
    else
        m_wake.notify_one();
}

qsizetype GroupReader::queuedFiles() const
{
    const std::lock_guard lock(m_mutex);
    return m_queuedFiles;
}

std::optional<GroupContent> GroupReader::take(const std::function<bool()> &keepWaiting,
                                              std::chrono::microseconds slice)
{
    for (;;) {
        {
            std::unique_lock lock(m_mutex);
            if (m_jobs.empty())
                return std::nullopt;
            if (m_jobs.front().done || m_done.wait_for(lock, slice, [this] { return m_jobs.front().done; })) {
                Job job = std::move(m_jobs.front());
                m_jobs.pop_front();
                m_queuedFiles -= qsizetype(job.files->size());
                if (job.error)
                    std::rethrow_exception(job.error);
                return std::move(job.content);
            }
        }
        // Served without the lock: whatever runs in the window meanwhile may pause the reader.
        if (!keepWaiting()) {
            discardAll();
            return std::nullopt;
        }
        if (m_threads.empty())
            start();
    }
}

void GroupReader::pause()
{
    if (m_threads.empty())
        return;
    {
        const std::lock_guard lock(m_mutex);
        m_quit = true;
        m_cancel = true;
    }
    m_wake.notify_all();
    for (std::thread &thread : m_threads)
        thread.join();
    m_threads.clear();
    m_quit = false;
    m_cancel = false;
    // What was being read is read again, from the start, when the threads are back.
    for (Job &job : m_jobs)
        job.taken = job.done;
}

void GroupReader::discardAll()
{
    pause();
    const std::lock_guard lock(m_mutex);
    m_jobs.clear();
    m_queuedFiles = 0;
}

void GroupReader::start()
{
    for (int i = 0; i < m_threadCount; ++i)
        m_threads.emplace_back([this] { work(); });
}

void GroupReader::work()
{
    // Reading can keep every core busy for minutes: the desktop, and a screen reader above all,
    // come first. Nothing else runs at this thread's priority, so alone it loses nothing.
    (void)::setpriority(PRIO_PROCESS, ::gettid(), ReadingNice);
    const int cap = std::max(1, GroupContent::descriptorCap() / m_threadCount);
    const qint64 memory = GroupContent::MemoryBudget / m_threadCount;
    std::unique_lock lock(m_mutex);
    for (;;) {
        Job *next = nullptr;
        m_wake.wait(lock, [&] {
            for (Job &job : m_jobs) {
                if (!job.taken) {
                    next = &job;
                    break;
                }
            }
            return m_quit || next;
        });
        if (m_quit)
            return;
        // The queue may grow, or lose its done front, meanwhile: that leaves this job where it is.
        next->taken = true;
        const std::shared_ptr<const std::vector<DiskFile>> files = next->files;
        const qint64 size = next->size;
        lock.unlock();
        GroupContent content;
        std::exception_ptr error;
        bool finished = false;
        try {
            finished = content.examine(*files, size, m_cancel, cap, memory);
        } catch (...) {
            error = std::current_exception();
            finished = true;
        }
        lock.lock();
        if (!finished || m_quit)
            return;
        next->content = std::move(content);
        next->error = error;
        next->done = true;
        m_done.notify_all();
    }
}

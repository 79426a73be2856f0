// The comparison's reading threads and the hand-over of their results.
#include "GroupReader.h"

#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>

namespace {
} // namespace

struct GroupReader::Shared
{
    struct Job
    {
        quint64 serial = 0;
        std::shared_ptr<const std::vector<DiskFile>> files;
        qint64 size = 0;
        bool taken = false; // a thread is reading it
        bool done = false;
        GroupContent content;
        std::exception_ptr error;
    };

    // The first job no thread reads yet.
    Job *untaken()
    {
        const auto it = std::find_if(jobs.begin(), jobs.end(), [](const Job &job) { return !job.taken; });
        return it == jobs.end() ? nullptr : &*it;
    }
    Job *find(quint64 serial)
    {
        const auto it = std::find_if(jobs.begin(), jobs.end(), [serial](const Job &job) { return job.serial == serial; });
        return it == jobs.end() ? nullptr : &*it;
    }

    void work(const std::atomic<bool> &stop, int cap, qint64 memory);

    std::mutex mutex;
    std::condition_variable wake; // a thread has work, or is let go of
    std::condition_variable done; // a job is done
    std::deque<Job> jobs;
    quint64 nextSerial = 0;
    qsizetype queuedFiles = 0;
};

// Whatever a thread learns is handed over only while it is still wanted: a thread let go of
// (its `stop` set, under the lock, before the jobs are touched) drops it.
void GroupReader::Shared::work(const std::atomic<bool> &stop, int cap, qint64 memory)
{
    // Reading can keep every core busy for minutes: the desktop, and a screen reader above all,
    // come first. Nothing else runs at this thread's priority, so alone it loses nothing.
    Worker::giveWay();
    std::unique_lock lock(mutex);
    for (;;) {
        Job *next = nullptr;
        wake.wait(lock, [&] { return stop || (next = untaken()); });
        if (stop)
            return;
        next->taken = true;
        const quint64 serial = next->serial;
        const std::shared_ptr<const std::vector<DiskFile>> files = next->files;
        const qint64 size = next->size;
        lock.unlock();
        GroupContent content;
        std::exception_ptr error;
        bool finished = false;
        try {
            finished = content.examine(*files, size, stop, cap, memory);
        } catch (...) {
            error = std::current_exception();
            finished = true;
        }
        lock.lock();
        Job *job = find(serial);
        if (!finished || stop || !job)
            return;
        job->content = std::move(content);
        job->error = error;
        job->done = true;
        done.notify_all();
    }
}

GroupReader::GroupReader(int threads)
    : m_threadCount(std::max(1, threads)), m_shared(std::make_shared<Shared>())
{
}

GroupReader::~GroupReader()
{
    pause();
}

void GroupReader::queue(std::vector<DiskFile> files, qint64 size)
{
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->queuedFiles += qsizetype(files.size());
        Shared::Job job;
        job.serial = m_shared->nextSerial++;
        job.files = std::make_shared<const std::vector<DiskFile>>(std::move(files));
        job.size = size;
        m_shared->jobs.push_back(std::move(job));
    }
    if (m_workers.empty())
        start();
    else
        m_shared->wake.notify_one();
}

qsizetype GroupReader::queuedFiles() const
{
    const std::lock_guard lock(m_shared->mutex);
    return m_shared->queuedFiles;
}

std::optional<GroupContent> GroupReader::take(const std::function<bool()> &keepWaiting,
                                              std::chrono::microseconds slice)
{
    for (;;) {
        {
            std::unique_lock lock(m_shared->mutex);
            std::deque<Shared::Job> &jobs = m_shared->jobs;
            if (jobs.empty())
                return std::nullopt;
            if (jobs.front().done || m_shared->done.wait_for(lock, slice, [&jobs] { return jobs.front().done; })) {
                Shared::Job job = std::move(jobs.front());
                jobs.pop_front();
                m_shared->queuedFiles -= qsizetype(job.files->size());
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
        if (m_workers.empty())
            start();
    }
}

void GroupReader::pause()
{
    if (m_workers.empty())
        return;
    for (const std::unique_ptr<Worker> &worker : m_workers)
        worker->letGo();
    m_workers.clear();
    const std::lock_guard lock(m_shared->mutex);
    m_shared->wake.notify_all();
    // What was being read is read again, from the start, by the next threads.
    for (Shared::Job &job : m_shared->jobs)
        job.taken = job.done;
}

void GroupReader::discardAll()
{
    pause();
    const std::lock_guard lock(m_shared->mutex);
    m_shared->jobs.clear();
    m_shared->queuedFiles = 0;
}

void GroupReader::start()
{
    const int cap = std::max(1, GroupContent::descriptorCap() / m_threadCount);
    const qint64 memory = GroupContent::MemoryBudget / m_threadCount;
    for (int i = 0; i < m_threadCount; ++i) {
        m_workers.push_back(std::make_unique<Worker>(
            [shared = m_shared, cap, memory](const std::atomic<bool> &stop) { shared->work(stop, cap, memory); }));
    }
}

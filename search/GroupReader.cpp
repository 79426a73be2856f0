// The comparison's reading thread and the hand-over of its results.
#include "GroupReader.h"

#include <chrono>

namespace {
// How long the window's thread waits for a group before it serves the window again.
constexpr auto WaitSlice = std::chrono::milliseconds(2);
} // namespace

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
    if (m_thread.joinable())
        m_wake.notify_one();
    else
        start();
}

int GroupReader::queuedGroups() const
{
    const std::lock_guard lock(m_mutex);
    return int(m_jobs.size());
}

qsizetype GroupReader::queuedFiles() const
{
    const std::lock_guard lock(m_mutex);
    return m_queuedFiles;
}

std::optional<GroupContent> GroupReader::take(const std::function<bool()> &keepWaiting)
{
    for (;;) {
        {
            std::unique_lock lock(m_mutex);
            if (m_jobs.empty())
                return std::nullopt;
            if (m_jobs.front().done || m_done.wait_for(lock, WaitSlice, [this] { return m_jobs.front().done; })) {
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
            abandonAll();
            return std::nullopt;
        }
        if (!m_thread.joinable())
            start();
    }
}

void GroupReader::pause()
{
    if (!m_thread.joinable())
        return;
    {
        const std::lock_guard lock(m_mutex);
        m_quit = true;
        m_cancel = true;
    }
    m_wake.notify_one();
    m_thread.join();
    m_quit = false;
    m_cancel = false;
}

void GroupReader::abandonAll()
{
    pause();
    const std::lock_guard lock(m_mutex);
    m_jobs.clear();
    m_queuedFiles = 0;
}

void GroupReader::start()
{
    m_thread = std::thread([this] { work(); });
}

void GroupReader::work()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        Job *next = nullptr;
        m_wake.wait(lock, [&] {
            for (Job &job : m_jobs) {
                if (!job.done) {
                    next = &job;
                    break;
                }
            }
            return m_quit || next;
        });
        if (m_quit)
            return;
        // The queue may grow meanwhile, which leaves this job where it is.
        const std::shared_ptr<const std::vector<DiskFile>> files = next->files;
        const qint64 size = next->size;
        lock.unlock();
        GroupContent content;
        std::exception_ptr error;
        bool finished = false;
        try {
            finished = content.examine(*files, size, m_cancel);
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

// One thread that writes, lists and reads the bucket files of the scratch folder.
#include "BucketIo.h"

#include "FileDescriptor.h"
#include "ToolkitError.h"

#include <QFile>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>

namespace {

// Held while a bucket file is touched; a scratch folder is let go of only under it.
std::mutex &touching()
{
    static auto *mutex = new std::mutex;
    return *mutex;
}

// Scratch folders whose window is closing: nothing is begun in them any more. Under touching().
QSet<QString> &settled()
{
    static auto *folders = new QSet<QString>;
    return *folders;
}

QString failure(const char *what, const QString &bucket, int error)
{
    return QLatin1String(what) + bucket + QStringLiteral(": ") + ToolkitError::describeErrno(error);
}

} // namespace

struct BucketIo::Shared
{
    enum class Kind { Append, List, Read };
    struct Job
    {
        Kind kind;
        QString bucket;
        QByteArray lines;
    };

    void work(const std::atomic<bool> &stop);
    [[nodiscard]] std::optional<Answer> run(const Job &job, int folder, const std::atomic<bool> &stop) const;

    QString workFolder;
    std::mutex mutex;
    std::condition_variable wake, answered;
    std::deque<Job> jobs;
    std::deque<Answer> answers;
    int appendsAsked = 0, appendsBegun = 0;
    bool writing = true;
};

void BucketIo::Shared::work(const std::atomic<bool> &stop)
{
    FileDescriptor folder;
    std::unique_lock lock(mutex);
    for (;;) {
        wake.wait(lock, [&] { return stop || !jobs.empty(); });
        if (stop)
            return;
        Job job = std::move(jobs.front());
        jobs.pop_front();
        if (job.kind == Kind::Append) {
            if (!writing)
                continue;
            ++appendsBegun;
        }
        lock.unlock();
        std::optional<Answer> answer;
        {
            const std::lock_guard busy(touching());
            if ((stop && job.kind != Kind::Append) || settled().contains(workFolder))
                return;
            if (!folder.isValid()) {
                folder.reset(openWaiting([&] {
                    return ::open(QFile::encodeName(workFolder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                }, stop));
            }
            answer = folder.isValid() ? run(job, folder.get(), stop)
                                      : Answer{{}, {}, failure("Could not open ", workFolder, errno)};
        }
        lock.lock();
        if (answer) {
            answers.push_back(std::move(*answer));
            answered.notify_all();
        }
    }
}

std::optional<BucketIo::Answer> BucketIo::Shared::run(const Job &job, int folder, const std::atomic<bool> &stop) const
{
    const QByteArray name = QFile::encodeName(job.bucket);
    const QString path = workFolder + QLatin1Char('/') + job.bucket;
    switch (job.kind) {
    case Kind::Append: {
        // Bucket files only ever grow: a later search in the same window also meets the files
        // of earlier searches, and the older lines come first.
        FileDescriptor fd(openWaiting([&] {
            return ::openat(folder, name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        }, stop));
        if (!fd.isValid())
            return Answer{{}, {}, failure("Could not open ", job.bucket, errno)};
        if (const int error = writeAllAndClose(std::move(fd), job.lines))
            return Answer{{}, {}, failure("Could not write ", job.bucket, error)};
        return std::nullopt;
    }
    case Kind::List: {
        Answer answer;
        for (int waitMs = 1; !listPlainFiles(folder, answer.names); waitMs = std::min(waitMs * 2, 20)) {
            if ((errno != EMFILE && errno != ENFILE) || stop)
                return Answer{{}, {}, QStringLiteral("Folder not found: ") + workFolder};
            std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
        }
        return answer;
    }
    case Kind::Read: {
        const FileDescriptor fd(openWaiting([&] {
            return ::openat(folder, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        }, stop));
        struct stat st {};
        if (!fd.isValid() || ::fstat(fd.get(), &st) != 0)
            return Answer{{}, {}, failure("Could not read ", path, errno)};
        Answer answer;
        answer.content.resize(qsizetype(st.st_size));
        const qint64 got = ::readAt(fd.get(), answer.content.data(), answer.content.size(), 0);
        if (got < 0)
            return Answer{{}, {}, failure("Could not read ", path, errno)};
        answer.content.truncate(qsizetype(got));
        return answer;
    }
    }
    return std::nullopt;
}

BucketIo::BucketIo(const QString &workFolder)
    : m_shared(std::make_shared<Shared>())
{
    m_shared->workFolder = workFolder;
    m_worker = std::make_unique<Worker>([shared = m_shared](const std::atomic<bool> &stop) { shared->work(stop); });
}

BucketIo::~BucketIo()
{
    (void)stopWriting();
    m_worker->letGo();
    const std::lock_guard lock(m_shared->mutex);
    m_shared->wake.notify_all();
}

void BucketIo::append(const QString &bucket, const QByteArray &lines)
{
    const std::lock_guard lock(m_shared->mutex);
    ++m_shared->appendsAsked;
    m_shared->jobs.push_back({Shared::Kind::Append, bucket, lines});
    m_shared->wake.notify_all();
}

void BucketIo::list()
{
    const std::lock_guard lock(m_shared->mutex);
    m_shared->jobs.push_back({Shared::Kind::List, {}, {}});
    m_shared->wake.notify_all();
}

void BucketIo::read(const QString &bucket)
{
    const std::lock_guard lock(m_shared->mutex);
    m_shared->jobs.push_back({Shared::Kind::Read, bucket, {}});
    m_shared->wake.notify_all();
}

std::optional<BucketIo::Answer> BucketIo::next(std::chrono::microseconds wait)
{
    std::unique_lock lock(m_shared->mutex);
    if (!m_shared->answered.wait_for(lock, wait, [this] { return !m_shared->answers.empty(); }))
        return std::nullopt;
    Answer answer = std::move(m_shared->answers.front());
    m_shared->answers.pop_front();
    return answer;
}

int BucketIo::stopWriting()
{
    const std::lock_guard lock(m_shared->mutex);
    m_shared->writing = false;
    return m_shared->appendsBegun;
}

void BucketIo::settle(const QString &workFolder)
{
    const std::lock_guard busy(touching());
    settled().insert(workFolder);
}

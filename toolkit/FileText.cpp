// Loading and comparing file contents without holding large files in memory.
#include "FileText.h"

#include "ToolkitError.h"

#include <QElapsedTimer>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

struct FileText::Handle
{
    explicit Handle(int f) : fd(f) {}
    ~Handle() { ::close(fd); }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    int fd;
};

namespace {

constexpr qint64 ChunkSize = 1024 * 1024;

[[noreturn]] void fail(const QString &path, int error)
{
    const auto kind = (error == ENOENT || error == ENOTDIR) ? ToolkitError::Kind::NotFound
                                                            : ToolkitError::Kind::Unreadable;
    throw ToolkitError(path + QStringLiteral(": ") + ToolkitError::describeErrno(error), kind);
}

// Reads up to `length` bytes at `offset`, retrying short reads; returns what it got.
qint64 readAt(int fd, char *buffer, qint64 length, qint64 offset)
{
    qint64 done = 0;
    while (done < length) {
        const ssize_t n = ::pread(fd, buffer + done, size_t(length - done), off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    return done;
}

// A held file still has the size it had when loaded: nothing more, nothing less to read.
bool stillHasSize(int fd, qint64 size)
{
    struct stat st {};
    return ::fstat(fd, &st) == 0 && st.st_size == size;
}

} // namespace

FileText FileText::load(const QString &path, std::optional<qint64> expectedSize)
{
    const QByteArray native = QFile::encodeName(path);
    // O_NONBLOCK: a FIFO that took the place of a file since it was found must not hang us;
    // reading it, like reading a folder, fails instead.
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        fail(path, errno);
    auto handle = std::make_shared<Handle>(fd);

    FileText text;
    qint64 size = expectedSize.value_or(-1);
    if (size < 0 || size > WholeLimit) {
        struct stat st {};
        if (::fstat(fd, &st) != 0)
            fail(path, errno);
        if (!S_ISREG(st.st_mode))
            throw ToolkitError(path + QStringLiteral(": not a regular file"), ToolkitError::Kind::Unreadable);
        size = st.st_size;
        text.m_size = st.st_size;
        text.m_device = st.st_dev;
        text.m_inode = st.st_ino;
        if (st.st_size > WholeLimit) {
            text.m_handle = std::move(handle);
            return text;
        }
    }

    // Usually one read, into a buffer one byte larger than the file: getting exactly the size
    // it had means the end is reached (a second read to hear so would cost a system call on
    // every load), and filling the buffer shows a file that grew, which is read no further.
    text.m_bytes.resize(qsizetype(size) + 1);
    qint64 got = 0;
    while (got <= size) {
        const ssize_t n = ::read(fd, text.m_bytes.data() + got, size_t(text.m_bytes.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fail(path, errno);
        if (n == 0)
            break;
        got += n;
        if (got == size)
            break;
    }
    text.m_grown = got > size;
    text.m_bytes.resize(qsizetype(std::min(got, size)));
    text.m_size = text.m_bytes.size();
    return text;
}

bool FileText::isSameFileAs(const FileText &other) const
{
    // No file has inode 0: it marks a text loaded without asking for its identity.
    return m_inode != 0 && m_device == other.m_device && m_inode == other.m_inode;
}

bool FileText::equals(const FileText &other, const std::function<void()> &whileReading) const
{
    // A file that grew while it was loaded was not read whole: it equals nothing.
    if (m_size != other.m_size || m_grown || other.m_grown)
        return false;
    if (!m_handle && !other.m_handle)
        return m_bytes == other.m_bytes;

    // At least one side is held open: walk both in chunks. A side in memory is its own buffer.
    std::unique_ptr<char[]> bufferA(m_handle ? new char[ChunkSize] : nullptr);
    std::unique_ptr<char[]> bufferB(other.m_handle ? new char[ChunkSize] : nullptr);
    QElapsedTimer sinceBreak;
    sinceBreak.start();
    for (qint64 offset = 0; offset < m_size; offset += ChunkSize) {
        const qint64 length = std::min(ChunkSize, m_size - offset);
        const char *a = m_bytes.constData() + offset;
        const char *b = other.m_bytes.constData() + offset;
        if (m_handle) {
            if (readAt(m_handle->fd, bufferA.get(), length, offset) != length)
                return false;
            a = bufferA.get();
        }
        if (other.m_handle) {
            if (readAt(other.m_handle->fd, bufferB.get(), length, offset) != length)
                return false;
            b = bufferB.get();
        }
        if (std::memcmp(a, b, size_t(length)) != 0)
            return false;
        if (whileReading && sinceBreak.elapsed() >= 30) {
            whileReading();
            sinceBreak.restart();
        }
    }
    return (!m_handle || stillHasSize(m_handle->fd, m_size))
        && (!other.m_handle || stillHasSize(other.m_handle->fd, m_size));
}

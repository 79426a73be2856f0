// Descriptors that close themselves, and opening a path without following any link in it:
// every file the program acts on is reached this way.
#pragma once

#include <QByteArray>
#include <QStringList>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <thread>

struct dirent;

// An open descriptor that closes itself.
class FileDescriptor
{
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(FileDescriptor &&other) noexcept : m_fd(other.release()) {}
    FileDescriptor &operator=(FileDescriptor &&other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;

    [[nodiscard]] int get() const { return m_fd; }
    [[nodiscard]] bool isValid() const { return m_fd >= 0; }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset(int fd = -1);
    // Closes now: 0, or the errno of a failed close, which after a write can be the first
    // word that the bytes did not reach the disk.
    [[nodiscard]] int close();

private:
    int m_fd = -1;
};

// Reads up to `size` bytes at `offset`, fewer only at the end of the file; -1 with errno set
// on a read error.
[[nodiscard]] qint64 readAt(int fd, char *buffer, qint64 size, qint64 offset);

// Opens an absolute path without following a symbolic link in any of its components. On
// failure the descriptor is invalid and errno says why (ELOOP: a link was met).
[[nodiscard]] FileDescriptor openWithoutLinks(const QByteArray &path, int flags);

// A path's folder, opened as O_PATH without following a link anywhere in it, and the last name
// of the path, to be reached from that folder. The folder of "/name" is "/". A relative path
// has no folder; where there is none, errno says why.
struct FolderAndName
{
    FileDescriptor folder;
    QByteArray name;
};
[[nodiscard]] FolderAndName openFolderOf(const QByteArray &path);

// Calls `visit` with each entry of the open folder but "." and "..", until it returns false.
// The listing is a fresh one of its own (an overlay answers a cached folder's listing afresh),
// and the folder's descriptor is left as it was. False when the folder cannot be listed.
// `unread`: the descriptor was just opened for reading, and nothing has listed it yet, so a
// copy of it serves and a slow share is spared one opening of the folder.
bool forEachEntry(int folder, const std::function<bool(const dirent &entry)> &visit, bool unread = false);

// The names of the open folder's plain files, sorted: a FIFO, socket or device would block
// or lie about its size, and a link leads elsewhere. False, errno set, when it cannot be listed.
bool listPlainFiles(int folder, QStringList &names);

// Writes every byte of `bytes` to `fd`, again after an interruption, and closes it. 0, or the
// errno of the first failure (EIO when the system took nothing and gave no reason).
[[nodiscard]] int writeAllAndClose(FileDescriptor fd, const QByteArray &bytes);

// Opens with `open`, waiting while the process has no descriptor left: another thread closes one
// soon, and a file must never be left out for want of one. -1 with errno set on any other
// failure, or once `stop` is set.
template<typename Open>
int openWaiting(Open open, const std::atomic<bool> &stop)
{
    for (int waitMs = 1;; waitMs = std::min(waitMs * 2, 20)) {
        const int fd = open();
        if (fd >= 0 || (errno != EMFILE && errno != ENFILE) || stop)
            return fd;
        std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
    }
}

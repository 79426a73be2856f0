// Descriptors that close themselves, and opening a path without following any link in it:
// every file the program acts on is reached this way.
#pragma once

#include <QByteArray>

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

private:
    int m_fd = -1;
};

// Reads up to `size` bytes at `offset`, fewer only at the end of the file; -1 with errno set
// on a read error.
[[nodiscard]] qint64 readAt(int fd, char *buffer, qint64 size, qint64 offset);

// Opens an absolute path without following a symbolic link in any of its components. On
// failure the descriptor is invalid and errno says why (ELOOP: a link was met).
[[nodiscard]] FileDescriptor openWithoutLinks(const QByteArray &path, int flags);

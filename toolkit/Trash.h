// The freedesktop.org trash, reached through descriptors only, and the descriptor helpers it
// shares with the checks made before a file goes.
#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

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

// Opens an absolute path without following a symbolic link in any of its components. On
// failure the descriptor is invalid and errno says why (ELOOP: a link was met).
[[nodiscard]] FileDescriptor openWithoutLinks(const QByteArray &path, int flags);

// Where a file went in the trash, so that it can be put back.
struct TrashedFile
{
    FileDescriptor files; // the trash's "files" folder
    FileDescriptor info;  // its "info" folder
    QByteArray name;      // the file's name in both (".trashinfo" added in "info")
};

namespace Trash {

// Moves the entry `name` of the open folder `folder` into the trash of its drive, provided it
// is still the file `device`/`inode`; `path` is its full path, kept in the trash's record of
// it. Nothing is ever overwritten, and nothing is deleted: when the trash cannot take the
// file, it stays where it is, and a ToolkitError gives the reason (of kind NotFound when the
// file is gone already).
[[nodiscard]] TrashedFile moveToTrash(int folder, const QByteArray &name, const QString &path, dev_t device,
                                      ino_t inode);

// Moves a trashed file back to `name` in `folder`, never over another file, and forgets its
// record. Returns whether it is back.
[[nodiscard]] bool putBack(const TrashedFile &trashed, int folder, const QByteArray &name);

} // namespace Trash

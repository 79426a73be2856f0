// Descriptors, and opening a path one safe step at a time where the kernel cannot do it at once.
#include "FileDescriptor.h"

#include <QFile>
#include <QList>

#include <algorithm>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

void FileDescriptor::reset(int fd)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}

int FileDescriptor::close()
{
    const int fd = release();
    return fd >= 0 && ::close(fd) != 0 ? errno : 0;
}

qint64 readAt(int fd, char *buffer, qint64 size, qint64 offset)
{
    qint64 done = 0;
    // A file that keeps being interrupted is given up on, not waited on forever.
    for (int interrupted = 0; done < size;) {
        const ssize_t got = ::pread(fd, buffer + done, size_t(size - done), off_t(offset + done));
        if (got > 0)
            done += got;
        else if (got == 0)
            break;
        else if (errno != EINTR || ++interrupted > 64)
            return -1;
    }
    return done;
}

FileDescriptor openWithoutLinks(const QByteArray &path, int flags)
{
    if (!path.startsWith('/')) {
        errno = ENOENT;
        return {};
    }
    open_how how {};
    how.flags = quint64(flags | O_CLOEXEC);
    how.resolve = RESOLVE_NO_SYMLINKS;
    const long fd = ::syscall(SYS_openat2, AT_FDCWD, path.constData(), &how, sizeof how);
    if (fd >= 0 || errno != ENOSYS)
        return FileDescriptor(int(fd));

    // Kernels before 5.6: one component at a time, none of them a link.
    FileDescriptor current(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    const QList<QByteArray> parts = path.split('/');
    qsizetype last = parts.size() - 1;
    while (last > 0 && (parts.at(last).isEmpty() || parts.at(last) == "."))
        --last;
    for (qsizetype i = 1; i <= last && current.isValid(); ++i) {
        if (parts.at(i).isEmpty() || parts.at(i) == ".")
            continue;
        const int partFlags = i == last ? flags : O_PATH | O_DIRECTORY;
        current = FileDescriptor(::openat(current.get(), parts.at(i).constData(), partFlags | O_NOFOLLOW | O_CLOEXEC));
    }
    struct stat st {};
    // With O_PATH, O_NOFOLLOW opens the link itself instead of failing.
    if (current.isValid() && ::fstat(current.get(), &st) == 0 && S_ISLNK(st.st_mode)) {
        errno = ELOOP;
        return {};
    }
    return current;
}

FolderAndName openFolderOf(const QByteArray &path)
{
    FolderAndName at;
    const qsizetype slash = path.lastIndexOf('/');
    at.name = path.mid(slash + 1);
    if (slash < 0)
        errno = ENOENT;
    else
        at.folder = openWithoutLinks(slash == 0 ? QByteArray("/") : path.left(slash), O_PATH | O_DIRECTORY);
    return at;
}

bool forEachEntry(int folder, const std::function<bool(const dirent &entry)> &visit, bool unread)
{
    FileDescriptor fd(unread ? ::fcntl(folder, F_DUPFD_CLOEXEC, 0) : ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    // Closed however the visit ends, a throw included; the listing owns the descriptor.
    const std::unique_ptr<DIR, int (*)(DIR *)> dir(fd.isValid() ? ::fdopendir(fd.get()) : nullptr, ::closedir);
    if (!dir)
        return false;
    (void)fd.release();
    while (const dirent *entry = ::readdir(dir.get())) {
        const char *name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        if (!visit(*entry))
            break;
    }
    return true;
}

bool listPlainFiles(int folder, QStringList &names)
{
    names.clear();
    // The type comes with the listing; the disk is asked only where it does not.
    const bool listed = forEachEntry(folder, [&](const dirent &entry) {
        unsigned char type = entry.d_type;
        struct stat st {};
        if (type == DT_UNKNOWN && ::fstatat(folder, entry.d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            type = DT_REG;
        if (type == DT_REG)
            names.append(QFile::decodeName(entry.d_name));
        return true;
    });
    std::sort(names.begin(), names.end());
    return listed;
}

int writeAllAndClose(FileDescriptor fd, const QByteArray &bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t written = ::write(fd.get(), bytes.constData() + done, size_t(bytes.size() - done));
        if (written > 0)
            done += written;
        else if (written == 0)
            return EIO;
        else if (errno != EINTR)
            return errno;
    }
    return fd.close();
}

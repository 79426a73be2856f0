// The checks made just before a proposed file goes: files change after a search, and two
// paths can lead to one file in ways no search can see.
#include "SafeDelete.h"

#include "PathStore.h"
#include "SystemTools.h"
#include "ToolkitError.h"
#include "Trash.h"

#include <QFile>

#include <cerrno>
#include <dirent.h>
#include <cstring>
#include <fcntl.h>
#include <linux/magic.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <optional>

namespace {

// Small enough that reading one piece never keeps the window waiting.
constexpr qint64 ChunkBytes = 512 * 1024;

// A file reached through its folder, neither of them through a link.
struct Reached
{
    FileDescriptor folder;
    QByteArray name;
    FileDescriptor file;
    struct stat st {};
    int error = 0; // errno of the first step that failed

    [[nodiscard]] FileId id() const { return FileId::of(st); }
};

Reached reach(const QByteArray &native, bool open)
{
    Reached r;
    FolderAndName at = openFolderOf(native);
    r.folder = std::move(at.folder);
    r.name = std::move(at.name);
    if (!r.folder.isValid() || r.name.isEmpty()
        || ::fstatat(r.folder.get(), r.name.constData(), &r.st, AT_SYMLINK_NOFOLLOW) != 0) {
        r.error = r.name.isEmpty() ? ENOENT : errno;
        return r;
    }
    // Only a plain file is opened: opening a FIFO or a device could block or act.
    if (open && S_ISREG(r.st.st_mode)) {
        r.file = FileDescriptor(::openat(r.folder.get(), r.name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (!r.file.isValid() || ::fstat(r.file.get(), &r.st) != 0)
            r.error = errno;
    }
    return r;
}

bool unchanged(const struct stat &before, const struct stat &now)
{
    return FileId::of(before) == FileId::of(now) && before.st_size == now.st_size && before.st_mtim.tv_sec == now.st_mtim.tv_sec
        && before.st_mtim.tv_nsec == now.st_mtim.tv_nsec;
}

bool onOverlay(int fd)
{
    struct statfs fs {};
    return ::fstatfs(fd, &fs) == 0 && fs.f_type == OVERLAYFS_SUPER_MAGIC;
}

// Compares two open files of `size` bytes piece by piece. Returns 1 when equal, 0 when not,
// -1 with errno set on a read error.
int equalContents(int a, int b, qint64 size, const std::function<void()> &breathe)
{
    // Not zeroed, and no larger than the files: thousands of small files are compared too.
    const qint64 chunk = std::clamp<qint64>(size, 1, ChunkBytes);
    const std::unique_ptr<char[]> first(new char[std::size_t(chunk)]);
    const std::unique_ptr<char[]> second(new char[std::size_t(chunk)]);
    for (qint64 offset = 0;; offset += chunk) {
        const qint64 gotA = readAt(a, first.get(), chunk, offset);
        const qint64 gotB = readAt(b, second.get(), chunk, offset);
        if (gotA < 0 || gotB < 0)
            return -1;
        if (gotA != gotB || std::memcmp(first.get(), second.get(), size_t(gotA)) != 0)
            return 0;
        if (gotA < chunk)
            return 1;
        breathe();
    }
}

// Whether `name` is still listed in the folder. An overlay keeps answering lookups of a name
// its lower folder has lost, from its cache; its listing is read afresh.
bool listedIn(int folder, const QByteArray &name)
{
    bool found = false;
    (void)forEachEntry(folder, [&](const dirent &entry) {
        found = name == entry.d_name;
        return !found;
    });
    return found;
}

DeleteResult stays(const QString &reason)
{
    return {DeleteOutcome::Stayed, reason};
}

// The owner's name, or the number where the system knows no name for it.
QString userName(uid_t uid)
{
    passwd entry {};
    passwd *found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_name && *found->pw_name)
        return QString::fromLocal8Bit(found->pw_name);
    return QString::number(uid);
}

// Why the proposed file stays, if it does: it is gone, no longer the file the search saw, or
// another user's.
std::optional<DeleteResult> proposedStays(const Reached &proposed, const DiskFile &found)
{
    if (proposed.error == ENOENT)
        return DeleteResult{DeleteOutcome::AlreadyGone, {}};
    if (proposed.error == ELOOP || proposed.error == ENOTDIR
        || (!proposed.error && (!S_ISREG(proposed.st.st_mode) || proposed.id() != found.id)))
        return stays(QStringLiteral("changed since the search"));
    if (proposed.error)
        return stays(QStringLiteral("cannot be checked: ") + ToolkitError::describeErrno(proposed.error));
    // Our trash is ours alone: another user's file put there could be neither seen nor put
    // back by its owner, whoever may move it (root, or anyone who may write its folder).
    if (proposed.st.st_uid != ::geteuid())
        return stays(QStringLiteral("belongs to %1: start Samelyn as that user to move it to their trash")
                         .arg(userName(proposed.st.st_uid)));
    return std::nullopt;
}

// Why the proposed file stays for want of its kept copy, if it does: the kept copy is gone, is
// the same file, or no longer holds the same bytes.
std::optional<DeleteResult> keptStays(const Reached &kept, const Reached &proposed, const std::function<void()> &breathe)
{
    if (kept.error == ENOENT || kept.error == ELOOP || kept.error == ENOTDIR)
        return stays(QStringLiteral("kept copy is gone"));
    if (!kept.error && !S_ISREG(kept.st.st_mode))
        return stays(QStringLiteral("kept copy is no longer a plain file"));
    if (kept.error)
        return stays(QStringLiteral("kept copy cannot be checked: ") + ToolkitError::describeErrno(kept.error));
    if (kept.id() == proposed.id())
        return stays(QStringLiteral("kept copy is the same file"));
    // An overlay's merged view and its lower folder show one file under two devices, with the
    // same inode number: moving one takes the other with it.
    if (kept.id().device != proposed.id().device && kept.id().inode == proposed.id().inode
        && (onOverlay(kept.file.get()) || onOverlay(proposed.file.get())))
        return stays(QStringLiteral("kept copy may be the same file, seen through an overlay"));
    if (kept.st.st_size != proposed.st.st_size)
        return stays(QStringLiteral("kept copy changed"));
    const int equal = equalContents(proposed.file.get(), kept.file.get(), kept.st.st_size, breathe);
    if (equal < 0)
        return stays(QStringLiteral("cannot be compared: ") + ToolkitError::describeErrno(errno));
    if (equal == 0)
        return stays(QStringLiteral("kept copy changed"));
    return std::nullopt;
}

// Whether the kept copy survived the move, seen both through its open descriptor and by its
// path: an alias no check could see would have taken it along.
bool keptSurvived(const Reached &kept, const DiskFile &keptFile)
{
    struct stat keptNow {};
    const Reached keptAgain = reach(keptFile.native, false);
    return ::fstat(kept.file.get(), &keptNow) == 0 && unchanged(kept.st, keptNow) && !keptAgain.error
        && unchanged(kept.st, keptAgain.st)
        && (!onOverlay(kept.file.get()) || listedIn(keptAgain.folder.get(), keptAgain.name));
}

} // namespace

DeleteResult removeSurplusCopy(const DiskFile &proposedFile, const DiskFile &keptFile, const std::function<void()> &breathe)
{
    const Reached proposed = reach(proposedFile.native, true);
    if (const std::optional<DeleteResult> stay = proposedStays(proposed, proposedFile))
        return *stay;
    const Reached kept = reach(keptFile.native, true);
    if (const std::optional<DeleteResult> stay = keptStays(kept, proposed, breathe))
        return *stay;

    TrashedFile trashed;
    try {
        trashed = SystemTools::instance().DeleteFile(proposed.folder.get(), proposed.name, proposedFile.path(),
                                                     proposed.id());
    } catch (const ToolkitError &error) {
        if (error.kind() == ToolkitError::Kind::NotFound)
            return {DeleteOutcome::AlreadyGone, {}};
        return stays(error.message());
    }

    if (!keptSurvived(kept, keptFile)) {
        if (Trash::putBack(trashed, proposed.folder.get(), proposed.name))
            return stays(QStringLiteral("the kept copy went with it, so it was moved back"));
        return stays(QStringLiteral("the kept copy went with it; it is in the trash as ")
                     + QFile::decodeName(trashed.name));
    }
    return {DeleteOutcome::Trashed, {}, qint64(proposed.st.st_size)};
}

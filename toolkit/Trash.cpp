// Moving files into the freedesktop.org trash without trusting a path, overwriting a file or
// deleting one for good.
#include "Trash.h"

#include "ToolkitError.h"

#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Names in the trash stay this short, so that a counter and ".trashinfo" always fit in a
// name: most file systems allow 255 bytes.
constexpr qsizetype LongestTrashName = 200;
constexpr qsizetype LongestKeptExtension = 16;
constexpr int CounterTries = 16;
constexpr int RandomTries = 8;

[[noreturn]] void stay(const QString &why, ToolkitError::Kind kind = ToolkitError::Kind::General)
{
    throw ToolkitError(QStringLiteral("could not be moved to the trash: ") + why, kind);
}

QString trashTrouble(int error)
{
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("the trash's drive is full");
    case EXDEV:
        return QStringLiteral("its trash is on another part of the drive");
    case EOPNOTSUPP:
        return QStringLiteral("no trash on this drive");
    case EACCES:
    case EPERM:
    case EROFS:
        return QStringLiteral("the trash cannot be written (%1)").arg(ToolkitError::describeErrno(error));
    default:
        return QStringLiteral("the trash cannot be used (%1)").arg(ToolkitError::describeErrno(error));
    }
}

// A folder of the trash, made private when missing. One that another user could have made or
// could write is never used: files put there would be theirs to read or replace.
FileDescriptor ownFolder(int parent, const char *name, bool exactlyPrivate)
{
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    FileDescriptor folder(::openat(parent, name, flags));
    if (!folder.isValid() && errno == ENOENT) {
        if (::mkdirat(parent, name, 0700) != 0 && errno != EEXIST)
            stay(trashTrouble(errno));
        folder = FileDescriptor(::openat(parent, name, flags));
    }
    if (!folder.isValid())
        stay(errno == ENOTDIR || errno == ELOOP ? QStringLiteral("the trash is not a plain folder") : trashTrouble(errno));
    struct stat st {};
    if (::fstat(folder.get(), &st) != 0)
        stay(trashTrouble(errno));
    const bool privateEnough = exactlyPrivate ? (st.st_mode & 07777) == 0700 : (st.st_mode & 022) == 0;
    if (st.st_uid != ::geteuid() || !privateEnough)
        stay(QStringLiteral("the trash folder %1 belongs to someone else or is open to others")
                 .arg(QString::fromLocal8Bit(name)));
    return folder;
}

// The user's data folder, made when missing, as the base directory rules ask: parents 0700.
FileDescriptor openDataHome()
{
    const QByteArray path = Trash::dataHome();
    if (path.isEmpty())
        stay(QStringLiteral("no home folder"));
    FileDescriptor folder(::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.isValid() && errno == ENOENT) {
        for (qsizetype slash = 0; slash != -1;) {
            slash = path.indexOf('/', slash + 1);
            const QByteArray prefix = slash == -1 ? path : path.left(slash);
            if (::mkdir(prefix.constData(), 0700) != 0 && errno != EEXIST)
                break;
        }
        folder = FileDescriptor(::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
    if (!folder.isValid())
        stay(QStringLiteral("the trash folder cannot be made (%1)").arg(ToolkitError::describeErrno(errno)));
    return folder;
}

// Where an open folder is among the mounts: its mount's id, and whether it is that mount's
// root. None where the system cannot tell (kernels before 5.8).
struct MountPlace
{
    quint64 id = 0;
    bool isRoot = false;
};

std::optional<MountPlace> mountPlaceOf(int fd)
{
#ifdef STATX_MNT_ID
    struct statx st {};
    if (::statx(fd, "", AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW, STATX_MNT_ID, &st) == 0 && (st.stx_mask & STATX_MNT_ID)
        && (st.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT))
        return MountPlace {st.stx_mnt_id, (st.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0};
#else
    Q_UNUSED(fd);
#endif
    return std::nullopt;
}

// The mount point of the mount that holds `folder`, where trash tools look for its trash. A
// device number cannot find it: a btrfs sub-volume has one of its own below the mount point.
FileDescriptor mountTopOf(int folder)
{
    const std::optional<MountPlace> here = mountPlaceOf(folder);
    // Without the mount's id no mount point is known to be this folder's.
    if (!here)
        stay(QStringLiteral("no trash on this drive"));
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    const QByteArray point =
        table.open(QIODevice::ReadOnly) ? Trash::mountPointOf(table.readAll(), here->id) : QByteArray();
    // Another mount may cover the mount point by now: what the path opens must be this mount's root.
    FileDescriptor top = point.isEmpty() ? FileDescriptor() : openWithoutLinks(point, O_PATH | O_DIRECTORY);
    const std::optional<MountPlace> there = top.isValid() ? mountPlaceOf(top.get()) : std::nullopt;
    if (!there || there->id != here->id || !there->isRoot)
        stay(QStringLiteral("no trash on this drive"));
    return top;
}

// A trash folder takes a file only on the file's own part of the drive: rename crosses no
// mount and no btrfs sub-volume. Returns the trash folder's identity.
FileId checkSamePart(int trashFolder, int folder, quint64 device)
{
    struct stat st {};
    if (::fstat(trashFolder, &st) != 0)
        stay(trashTrouble(errno));
    const std::optional<MountPlace> there = mountPlaceOf(trashFolder), here = mountPlaceOf(folder);
    if (quint64(st.st_dev) != device || (there && here && there->id != here->id))
        stay(trashTrouble(EXDEV));
    return FileId::of(st);
}

// Whether two open folders are on one mount; where the system gives no mount ids, on one device.
bool onOneMount(int a, int b)
{
    const std::optional<MountPlace> first = mountPlaceOf(a), second = mountPlaceOf(b);
    if (first && second)
        return first->id == second->id;
    struct stat stA {}, stB {};
    return ::fstat(a, &stA) == 0 && ::fstat(b, &stB) == 0 && stA.st_dev == stB.st_dev;
}

struct TrashFolders
{
    FileDescriptor files;
    FileDescriptor info;
};

TrashFolders openFilesAndInfo(FileDescriptor trash)
{
    TrashFolders folders;
    folders.files = ownFolder(trash.get(), "files", false);
    folders.info = ownFolder(trash.get(), "info", false);
    return folders;
}

// The trash for a file in `folder`, on `device`: the user's own when it is on the same mount,
// else the one at the top of the file's mount. Neither is made where the file could not go.
TrashFolders trashFor(int folder, quint64 device)
{
    const FileDescriptor home = openDataHome();
    if (onOneMount(home.get(), folder)) {
        checkSamePart(home.get(), folder, device);
        return openFilesAndInfo(ownFolder(home.get(), "Trash", false));
    }

    const FileDescriptor top = mountTopOf(folder);
    checkSamePart(top.get(), folder, device);
    const QByteArray uid = QByteArray::number(::geteuid());
    // A shared .Trash is trusted only as a real folder with the sticky bit, so that no one
    // can take away another user's folder in it.
    FileDescriptor shared(::openat(top.get(), ".Trash", O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat sharedStat {};
    if (shared.isValid() && ::fstat(shared.get(), &sharedStat) == 0 && (sharedStat.st_mode & S_ISVTX)) {
        try {
            return openFilesAndInfo(ownFolder(shared.get(), uid.constData(), false));
        } catch (const ToolkitError &) {
            // The per-user folder below: the trash standard's next choice.
        }
    }
    const QByteArray own = ".Trash-" + uid;
    struct stat ownStat {};
    if (::fstatat(top.get(), own.constData(), &ownStat, AT_SYMLINK_NOFOLLOW) != 0
        && ::faccessat(top.get(), ".", W_OK | X_OK, AT_EACCESS) != 0)
        stay(QStringLiteral("no trash on this drive"));
    return openFilesAndInfo(ownFolder(top.get(), own.constData(), true));
}

// The name as the trash keeps it: whole when short, else shortened, keeping its extension
// and never cutting a character in two.
QByteArray shortened(const QByteArray &name, QByteArray *extension)
{
    const qsizetype dot = name.lastIndexOf('.');
    if (dot > 0 && name.size() - dot <= LongestKeptExtension)
        *extension = name.mid(dot);
    QByteArray stem = name.left(name.size() - extension->size());
    const qsizetype room = LongestTrashName - extension->size();
    if (stem.size() > room) {
        stem.truncate(room);
        qsizetype lead = stem.size() - 1;
        while (lead > 0 && lead > stem.size() - 4 && (uchar(stem.at(lead)) & 0xC0) == 0x80)
            --lead;
        const uchar first = uchar(stem.at(lead));
        const int length = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC0 ? 2 : 1;
        if (lead + length > stem.size())
            stem.truncate(lead);
    }
    return stem;
}

// Writes the record of a file in the trash; the name is taken only if nobody has it yet.
// Returns 0, or errno with nothing left behind.
int writeInfo(int info, const QByteArray &infoName, const QByteArray &text)
{
    FileDescriptor fd(::openat(info, infoName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.isValid())
        return errno;
    const int error = writeAllAndClose(std::move(fd), text);
    if (error)
        ::unlinkat(info, infoName.constData(), 0);
    return error;
}

// Moves without ever replacing a file; where renameat2 has no such flag, a hard link and an
// unlink do the same.
int moveNoReplace(int fromFolder, const QByteArray &from, int toFolder, const QByteArray &to)
{
    if (::renameat2(fromFolder, from.constData(), toFolder, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    if (::linkat(fromFolder, from.constData(), toFolder, to.constData(), 0) != 0)
        return errno == EPERM ? EOPNOTSUPP : errno; // a file system without hard links
    if (::unlinkat(fromFolder, from.constData(), 0) != 0) {
        const int error = errno;
        ::unlinkat(toFolder, to.constData(), 0);
        return error;
    }
    return 0;
}

// The next counter to try for each name in each trash: a trash holding thousands of one name
// is not searched from the start for every file.
QHash<QByteArray, quint64> &nextCounters()
{
    static QHash<QByteArray, quint64> counters;
    return counters;
}

// The trash's record of a file: where it was, and when it went.
QByteArray trashRecord(const QString &path)
{
    return "[Trash Info]\nPath=" + QFile::encodeName(path).toPercentEncoding("/") + "\nDeletionDate="
        + QDateTime::currentDateTime().toString(Qt::ISODate).left(19).toLatin1() + '\n';
}

// The names tried in turn for a file in one trash: its own, then numbered ones, then random
// ones. After a taken name the number moves on in growing steps, so that a trash full of one
// name from earlier sessions is passed quickly.
class TrashNames
{
public:
    TrashNames(const QByteArray &name, const FileId &trash)
    {
        m_stem = shortened(name, &m_extension);
        m_counter = &nextCounters()[QByteArray::number(trash.device) + ':' + QByteArray::number(trash.inode) + '/'
                                    + m_stem + m_extension];
    }

    // The next name to try; false when every try is spent.
    bool next(QByteArray &candidate)
    {
        while (++m_attempt < 1 + CounterTries + RandomTries) {
            if (m_attempt == 0) {
                if (*m_counter != 0)
                    continue;
                candidate = m_stem + m_extension;
            } else if (counted()) {
                *m_counter = std::max<quint64>(*m_counter, 2);
                candidate = m_stem + '.' + QByteArray::number(*m_counter) + m_extension;
            } else {
                candidate = m_stem + '.' + QByteArray::number(QRandomGenerator::global()->generate64(), 16) + m_extension;
            }
            return true;
        }
        return false;
    }

    // Another file has the name last given.
    void taken()
    {
        if (counted()) {
            *m_counter += m_step;
            m_step *= 2;
        }
    }

    // The file now has the name last given.
    void used() { *m_counter = counted() ? *m_counter + 1 : std::max<quint64>(*m_counter, 2); }

private:
    [[nodiscard]] bool counted() const { return m_attempt > 0 && m_attempt <= CounterTries; }

    QByteArray m_stem, m_extension;
    quint64 *m_counter = nullptr; // 0: the plain name is still to be tried
    quint64 m_step = 1;
    int m_attempt = -1;
};

// Moves the entry `name` of `folder` into the trash as `candidate`, its record written first:
// the record claims the name. False when another file has the name.
bool moveAs(const TrashFolders &trash, int folder, const QByteArray &name, const QByteArray &candidate,
            const QByteArray &record)
{
    const QByteArray infoName = candidate + ".trashinfo";
    const int infoError = writeInfo(trash.info.get(), infoName, record);
    if (infoError == EEXIST)
        return false;
    if (infoError)
        stay(trashTrouble(infoError));

    const int moveError = moveNoReplace(folder, name, trash.files.get(), candidate);
    if (!moveError)
        return true;
    ::unlinkat(trash.info.get(), infoName.constData(), 0);
    if (moveError == EEXIST || moveError == ENOTEMPTY)
        return false;
    if (moveError == ENOENT)
        stay(QStringLiteral("already gone"), ToolkitError::Kind::NotFound);
    // A refusal is the trash's when its folder cannot be written, else the file's own.
    if ((moveError == EACCES || moveError == EPERM || moveError == EROFS)
        && ::faccessat(trash.files.get(), ".", W_OK | X_OK, AT_EACCESS) == 0)
        stay(ToolkitError::describeErrno(moveError));
    stay(trashTrouble(moveError));
}

// The name may have been given to another file since it was checked: that one goes back.
void checkMoved(const TrashedFile &trashed, int folder, const QByteArray &name, const FileId &file)
{
    struct stat moved {};
    if (::fstatat(trashed.files.get(), trashed.name.constData(), &moved, AT_SYMLINK_NOFOLLOW) == 0
        && FileId::of(moved) == file)
        return;
    if (!Trash::putBack(trashed, folder, name))
        throw ToolkitError(QStringLiteral("changed since the search, and now in the trash as ")
                           + QFile::decodeName(trashed.name));
    throw ToolkitError(QStringLiteral("changed since the search"));
}

} // namespace

namespace Trash {

QByteArray dataHome()
{
    // A relative value is to be ignored, and would be taken from the current folder.
    const QByteArray configured = qgetenv("XDG_DATA_HOME");
    if (configured.startsWith('/'))
        return configured;
    QByteArray home = qgetenv("HOME");
    if (!home.startsWith('/')) {
        const passwd *user = ::getpwuid(::geteuid());
        home = user && user->pw_dir ? QByteArray(user->pw_dir) : QByteArray();
    }
    return home.startsWith('/') ? home + "/.local/share" : QByteArray();
}

TrashedFile moveToTrash(int folder, const QByteArray &name, const QString &path, const FileId &file)
{
    TrashFolders trash = trashFor(folder, file.device);
    // Its "files" folder may be a mount of its own.
    const FileId trashId = checkSamePart(trash.files.get(), folder, file.device);

    const QByteArray record = trashRecord(path);
    TrashNames names(name, trashId);
    for (QByteArray candidate; names.next(candidate);) {
        if (!moveAs(trash, folder, name, candidate, record)) {
            names.taken();
            continue;
        }
        names.used();
        TrashedFile trashed {std::move(trash.files), std::move(trash.info), candidate};
        checkMoved(trashed, folder, name, file);
        return trashed;
    }
    stay(QStringLiteral("no free name in the trash"));
}

QByteArray mountPointOf(const QByteArray &mountInfo, quint64 mountId)
{
    const auto isOctal = [](char c) { return c >= '0' && c <= '7'; };
    const QByteArray id = QByteArray::number(mountId);
    for (const QByteArray &line : mountInfo.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 5 || fields.at(0) != id)
            continue;
        // A space, tab, newline or backslash in the path is written as a backslash and three
        // octal digits.
        const QByteArray &escaped = fields.at(4);
        QByteArray point;
        for (qsizetype i = 0; i < escaped.size(); ++i) {
            const QByteArray code = escaped.mid(i + 1, 3);
            if (escaped.at(i) == '\\' && code.size() == 3 && code.at(0) <= '3'
                && std::ranges::all_of(code, isOctal)) {
                point += char(code.toInt(nullptr, 8));
                i += 3;
            } else {
                point += escaped.at(i);
            }
        }
        return point;
    }
    return {};
}

bool putBack(const TrashedFile &trashed, int folder, const QByteArray &name)
{
    if (moveNoReplace(trashed.files.get(), trashed.name, folder, name) != 0)
        return false;
    ::unlinkat(trashed.info.get(), (trashed.name + ".trashinfo").constData(), 0);
    return true;
}

} // namespace Trash

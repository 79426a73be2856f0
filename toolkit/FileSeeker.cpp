// Enumerating a folder tree with the POSIX calls, from each folder's descriptor to its
// sub-folders', so that links and special files are seen for what they are before anything
// opens them, and a folder swapped for a link during the walk is not entered.
#include "FileSeeker.h"

#include "FileDescriptor.h"
#include "Trash.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <utility>
#include <vector>

// File systems whose files are made up by the kernel: reading them can block or return
// something other than their stated size, and none holds a user's documents.
bool FileSeeker::isPseudoFileSystem(int fd)
{
    struct statfs fs {};
    if (::fstatfs(fd, &fs) != 0)
        return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case SELINUX_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case DEVPTS_SUPER_MAGIC:
    case BPF_FS_MAGIC:
    case PSTOREFS_MAGIC:
    case EFIVARFS_MAGIC: // deleting a firmware variable can leave a machine unbootable
    case BINFMTFS_MAGIC:
    case HUGETLBFS_MAGIC:
    case NSFS_MAGIC:
    case PIPEFS_MAGIC:
    case SOCKFS_MAGIC:
    case 0x62656570: // configfs
    case 0x65735543: // fusectl
    case 0x19800202: // mqueue
        return true;
    default:
        return false;
    }
}

namespace {

// Folders of copies kept for recovery, by where they sit: a trash below any home (root may
// search /home), the trash folders of other drives, and snapshots.
bool isRecoveryFolder(const QByteArray &name, const QByteArray &parent, const QByteArray &grandParent)
{
    if (name == ".Trash" || name == ".snapshots")
        return true;
    if (name.startsWith(".Trash-") && name.size() > 7
        && std::all_of(name.begin() + 7, name.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return true;
    return (name == "Trash" && parent == "share" && grandParent == ".local")
        || (name == "snapshot" && parent == ".zfs");
}

// Whether the folder holds this program's scratch tag. Any program may tag its caches; only
// ours are passed over, since another's may be all a user has of a file.
bool holdsScratchTag(int folder)
{
    const FileDescriptor fd(::openat(folder, FileSeeker::ScratchTagName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.isValid())
        return false;
    char buffer[512];
    struct stat st {};
    const ssize_t got = ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) ? ::read(fd.get(), buffer, sizeof buffer) : -1;
    const QByteArray text = got > 0 ? QByteArray(buffer, got) : QByteArray();
    const QByteArray signature = QByteArray(FileSeeker::ScratchTag).left(43);
    if (!text.startsWith(signature))
        return false;
    const QList<QByteArray> lines = text.split('\n');
    return std::any_of(lines.begin() + 1, lines.end(),
                       [](const QByteArray &line) { return line.startsWith('#') && line.toLower().contains("samelyn"); });
}

// Where a name's extension begins, or its length when it has none. Leading dots start no
// extension (".bashrc" is all stem), and a compressed tar's two parts are one extension.
qsizetype extensionAt(QByteArrayView name)
{
    qsizetype first = 0;
    while (first < name.size() && name[first] == '.')
        ++first;
    const qsizetype dot = name.lastIndexOf('.');
    if (dot < first)
        return name.size();
    const QByteArrayView last = name.sliced(dot);
    const bool packed = last.compare(".gz", Qt::CaseInsensitive) == 0 || last.compare(".xz", Qt::CaseInsensitive) == 0
        || last.compare(".bz2", Qt::CaseInsensitive) == 0 || last.compare(".zst", Qt::CaseInsensitive) == 0;
    if (packed && dot - 4 >= first && name.sliced(dot - 4, 4).compare(".tar", Qt::CaseInsensitive) == 0)
        return dot - 4;
    return dot;
}

// The order a folder's files are reported in, and so which of equal copies is kept: the name
// without its extension first, then the extension, each byte by byte. Plain byte order would
// put "IMG_101 copy.jpg" before "IMG_101.jpg", as " ", "(" and "-" sort before ".".
bool reportedBefore(const QByteArray &a, const QByteArray &b)
{
    const qsizetype stemA = extensionAt(a);
    const qsizetype stemB = extensionAt(b);
    const int stems = QByteArrayView(a).first(stemA).compare(QByteArrayView(b).first(stemB));
    if (stems != 0)
        return stems < 0;
    return QByteArrayView(a).sliced(stemA) < QByteArrayView(b).sliced(stemB);
}

bool byteOrder(const QByteArray &a, const QByteArray &b)
{
    return a < b;
}

// A name that does not survive the way into text and back would name another file.
bool decoded(const QByteArray &name, QString &text)
{
    text = QFile::decodeName(name);
    return QFile::encodeName(text) == name;
}

// The user's own trash, by identity: the data folder may be a link to another drive.
FileId userTrash()
{
    const QByteArray base = Trash::dataHome();
    struct stat st {};
    if (base.isEmpty() || ::stat((base + "/Trash").constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return {};
    return FileId::of(st);
}

struct Entry
{
    QByteArray name;
    FileSeeker::Found found;
};

// What a folder holds that the walk takes: its plain files, its sub-folders, and whether one
// of the files may be a scratch tag.
struct Listing
{
    std::vector<Entry> files, folders;
    bool tagged = false;
};

// One open folder of the chain being walked: its descriptor, and the sub-folders still to enter.
struct Level
{
    FileDescriptor fd;
    QString path; // ends with "/"
    quint64 device = 0;
    std::vector<Entry> folders;
    std::size_t next = 0;
};

// One search, depth first: every folder below the one searched is opened from its parent's
// descriptor, which stays open while the folder's sub-folders remain to be walked.
class Walk
{
public:
    Walk(const FileSeeker &seeker, FileSeeker::Found &found) : m_seeker(seeker), m_found(found)
    {
        m_sinceYield.start();
    }

    void run(QString root);

private:
    void pace();
    void skip(const QString &path, bool isFolder, FileSeeker::Skip why = FileSeeker::Skip::CannotOpen) const;
    void sortByName(std::vector<Entry> &entries, bool (*before)(const QByteArray &, const QByteArray &));
    [[nodiscard]] bool keptForRecovery(const QByteArray &name, const FileId &id) const;
    [[nodiscard]] bool liesInKeptFolder(const QByteArray &root);
    bool enter(FileDescriptor fd, const QString &path, const struct stat &st, bool newDevice);
    [[nodiscard]] bool list(int folder, Listing &listing);
    void report(std::vector<Entry> &files, const QString &path);
    void enterNextSubFolder();

    const FileSeeker &m_seeker;
    FileSeeker::Found &m_found; // what FoundFile's handler is told through found()
    QElapsedTimer m_sinceYield;
    const FileId m_trash = userTrash();
    QSet<FileId> m_visited; // a bind mount can bring a folder back below itself
    // The names from the top of the file system down to the folder being walked, after two
    // empty ones, so that every folder has a parent and grandparent name to be judged by.
    std::vector<QByteArray> m_chain{QByteArray(), QByteArray()};
    std::vector<Level> m_levels;
};

void Walk::run(QString root)
{
    if (!root.endsWith(QLatin1Char('/')))
        root += QLatin1Char('/');
    const QByteArray native = QFile::encodeName(root);
    if (liesInKeptFolder(native))
        return;
    // The one path resolved: every folder below is reached from its parent's descriptor.
    FileDescriptor fd(::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!fd.isValid() || ::fstat(fd.get(), &st) != 0) {
        skip(root, true);
        return;
    }
    enter(std::move(fd), root, st, true);
    while (!m_levels.empty())
        enterNextSubFolder();
}

void Walk::pace()
{
    if (m_seeker.Yield && m_sinceYield.elapsed() >= m_seeker.YieldEveryMs) {
        m_seeker.Yield();
        m_sinceYield.restart();
    }
}

void Walk::skip(const QString &path, bool isFolder, FileSeeker::Skip why) const
{
    if (m_seeker.SkippedEntry)
        m_seeker.SkippedEntry(path, isFolder, why);
}

// A large folder takes a while to sort: the window is served meanwhile.
void Walk::sortByName(std::vector<Entry> &entries, bool (*before)(const QByteArray &, const QByteArray &))
{
    unsigned compared = 0;
    std::sort(entries.begin(), entries.end(), [&](const Entry &a, const Entry &b) {
        if ((++compared & 63) == 0)
            pace();
        return before(a.name, b.name);
    });
}

bool Walk::keptForRecovery(const QByteArray &name, const FileId &id) const
{
    return (m_trash.isKnown() && id == m_trash)
        || isRecoveryFolder(name, m_chain.back(), m_chain[m_chain.size() - 2]);
}

// The folder searched may itself lie inside a trash, a snapshot or a scratch folder. The names
// above it start the chain.
bool Walk::liesInKeptFolder(const QByteArray &root)
{
    if (!root.startsWith('/'))
        return false;
    QByteArray above;
    for (const QByteArray &name : root.split('/')) {
        if (name.isEmpty())
            continue;
        const FileDescriptor parent(::open(above.isEmpty() ? "/" : above.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (parent.isValid() && holdsScratchTag(parent.get()))
            return true;
        above += '/' + name;
        struct stat st {};
        if (::stat(above.constData(), &st) == 0 && keptForRecovery(name, FileId::of(st)))
            return true;
        m_chain.push_back(name);
    }
    return false;
}

// Lists a folder just opened, reports its files, and keeps it open while its sub-folders
// remain to be walked; false when there are none to walk.
bool Walk::enter(FileDescriptor fd, const QString &path, const struct stat &st, bool newDevice)
{
    const FileId id = FileId::of(st);
    if (m_visited.contains(id) || (newDevice && FileSeeker::isPseudoFileSystem(fd.get())))
        return false;
    m_visited.insert(id);

    Listing listing;
    if (!list(fd.get(), listing)) {
        skip(path, true);
        return false;
    }
    if (listing.tagged && holdsScratchTag(fd.get()))
        return false;
    report(listing.files, path);
    if (listing.folders.empty())
        return false;
    sortByName(listing.folders, byteOrder);
    m_levels.push_back({std::move(fd), path, id.device, std::move(listing.folders), 0});
    return true;
}

// The plain files of the open folder, and its sub-folders when those are searched, each asked
// about once: links, FIFOs, sockets and devices are passed over.
bool Walk::list(int folder, Listing &listing)
{
    const bool subFolders = m_seeker.IncludeSubFolders;
    return forEachEntry(folder, [&](const dirent &e) {
        pace();
        const unsigned char type = e.d_type;
        const bool maybeFolder = type == DT_DIR || type == DT_UNKNOWN;
        if ((type != DT_REG && !maybeFolder) || (type == DT_DIR && !subFolders))
            return true;
        struct stat st {};
        if (::fstatat(folder, e.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            return true;
        const FileSeeker::Found found{qint64(st.st_size), FileId::of(st)};
        if (S_ISREG(st.st_mode)) {
            listing.tagged = listing.tagged || std::strcmp(e.d_name, FileSeeker::ScratchTagName) == 0;
            listing.files.push_back({QByteArray(e.d_name), found});
        } else if (S_ISDIR(st.st_mode) && subFolders) {
            listing.folders.push_back({QByteArray(e.d_name), found});
        }
        return true;
    });
}

void Walk::report(std::vector<Entry> &files, const QString &path)
{
    sortByName(files, reportedBefore);
    // A longer name makes a path that no call of the system takes (the limit counts the
    // terminating zero): the walk lists such a file, but it could never be read by its path.
    const qsizetype longestName = PATH_MAX - 1 - QFile::encodeName(path).size();
    QString name;
    for (Entry &entry : files) {
        pace();
        if (!decoded(entry.name, name)) {
            skip(path + name, false, FileSeeker::Skip::NameNotUtf8);
        } else if (entry.name.size() > longestName) {
            skip(path + name, false, FileSeeker::Skip::PathTooLong);
        } else if (m_seeker.FoundFile) {
            m_found = entry.found;
            m_seeker.FoundFile(name, path);
        }
        entry.name = QByteArray(); // freed as it goes, not all at once after a huge folder
    }
}

// One step down: the next sub-folder of the deepest open folder is entered, or that folder is
// left when it has none left.
void Walk::enterNextSubFolder()
{
    Level &top = m_levels.back();
    if (top.next == top.folders.size()) {
        m_levels.pop_back();
        m_chain.pop_back();
        return;
    }
    pace();
    const Entry &sub = top.folders[top.next++];
    QString name;
    const bool named = decoded(sub.name, name);
    const QString path = top.path + name + QLatin1Char('/');
    const FileId listed = sub.found.id;
    if (!named) {
        skip(path, true, FileSeeker::Skip::NameNotUtf8);
        return;
    }
    if (keptForRecovery(sub.name, listed) || m_visited.contains(listed))
        return;
    if (QFile::encodeName(path).size() > PATH_MAX - 1) { // nothing in it could be named either
        skip(path, true, FileSeeker::Skip::PathTooLong);
        return;
    }

    // From the parent's descriptor, never by the path again, and only if it is still the
    // folder the listing saw: a link or another folder put in its place is not entered.
    FileDescriptor fd(::openat(top.fd.get(), sub.name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!fd.isValid() || ::fstat(fd.get(), &st) != 0 || FileId::of(st) != listed) {
        if (fd.isValid() || errno != ENOENT) // one that is gone is no longer there to take
            skip(path, true);
        return;
    }
    const bool newDevice = quint64(st.st_dev) != top.device;
    m_chain.push_back(sub.name);
    if (!enter(std::move(fd), path, st, newDevice))
        m_chain.pop_back();
}

} // namespace

void FileSeeker::Search(int, int, int, int)
{
    Walk(*this, m_found).run(Folder);
}

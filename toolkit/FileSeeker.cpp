// Enumerating a folder tree with the POSIX calls, from each folder's descriptor to its
// sub-folders', so that links and special files are seen for what they are before anything
// opens them, and a folder swapped for a link during the walk is not entered.
#include "FileSeeker.h"

#include "FileDescriptor.h"
#include "Trash.h"
#include "Worker.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <thread>
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

// What the walk found, in the order found, until the window's thread takes it.
struct FileSeeker::Reports
{
    struct Report
    {
        QString name; // for a skipped entry, its whole path
        QString path;
        Found found;
        std::optional<Skip> skipped;
        bool isFolder = false;
    };
    std::mutex mutex;
    std::condition_variable more;
    std::vector<Report> reports;
    bool finished = false;
};

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

// Whether the open file is this program's scratch tag. Any program may tag its caches; only
// ours are passed over, since another's may be all a user has of a file.
bool isScratchTag(int fd)
{
    char buffer[512];
    struct stat st {};
    const ssize_t got = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? ::read(fd, buffer, sizeof buffer) : -1;
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

// One folder of the chain being walked, and the sub-folders still to enter. Only the deepest
// few keep their descriptor: a folder left closed is opened again, from the nearest one above
// it that is open, when the walk comes back to it.
struct Level
{
    FileDescriptor fd;
    QByteArray name; // within the folder above
    QString path;    // ends with "/"
    FileId id;
    std::vector<Entry> folders;
    std::size_t next = 0;
};

struct Stopped
{
};

// One search, depth first, on a thread of its own: every folder below the one searched is
// opened from its parent's descriptor, and what is found goes to the window's thread in batches.
class Walk
{
public:
    Walk(bool subFolders, std::function<void(const QString &)> entering, FileSeeker::Reports &out,
         const std::atomic<bool> &stop)
        : m_subFolders(subFolders), m_entering(std::move(entering)), m_out(out), m_stop(stop)
    {
        m_sinceHandOver.start();
    }

    void run(QString root);

private:
    // Folders held open at most, the searched one among them, however deep the tree.
    static constexpr std::size_t OpenLevels = 4;
    static constexpr std::size_t BatchSize = 512;

    void pace();
    void handOver();
    void add(FileSeeker::Reports::Report report);
    void skip(const QString &path, bool isFolder, FileSeeker::Skip why = FileSeeker::Skip::CannotOpen);
    void sortByName(std::vector<Entry> &entries, bool (*before)(const QByteArray &, const QByteArray &));
    [[nodiscard]] bool keptForRecovery(const QByteArray &name, const FileId &id) const;
    [[nodiscard]] bool liesInKeptFolder(const QByteArray &root);
    static constexpr std::size_t NoLevel = std::size_t(-1);
    template<typename Open>
    [[nodiscard]] FileDescriptor openSparing(Open open, std::size_t needed = NoLevel);
    void spare(std::size_t needed, int &waitMs);
    [[nodiscard]] bool reopen(std::size_t level);
    bool enter(FileDescriptor fd, const QByteArray &name, const QString &path, const struct stat &st, bool newDevice);
    [[nodiscard]] bool list(int folder, Listing &listing);
    [[nodiscard]] bool holdsScratchTag(int folder);
    void report(std::vector<Entry> &files, const QString &path);
    void enterNextSubFolder();

    const bool m_subFolders;
    const std::function<void(const QString &)> m_entering;
    FileSeeker::Reports &m_out;
    const std::atomic<bool> &m_stop;
    std::vector<FileSeeker::Reports::Report> m_batch;
    QElapsedTimer m_sinceHandOver;
    const FileId m_trash = userTrash();
    QSet<FileId> m_visited; // a bind mount can bring a folder back below itself
    // The names from the top of the file system down to the folder being walked, after two
    // empty ones, so that every folder has a parent and grandparent name to be judged by.
    std::vector<QByteArray> m_chain{QByteArray(), QByteArray()};
    std::vector<Level> m_levels;
};

void Walk::run(QString root)
{
    try {
        if (!root.endsWith(QLatin1Char('/')))
            root += QLatin1Char('/');
        const QByteArray native = QFile::encodeName(root);
        if (!liesInKeptFolder(native)) {
            // The one path resolved: every folder below is reached from its parent's descriptor.
            FileDescriptor fd = openSparing([&] { return ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); });
            struct stat st {};
            if (!fd.isValid() || ::fstat(fd.get(), &st) != 0)
                skip(root, true);
            else if (enter(std::move(fd), QByteArray(), root, st, true))
                while (!m_levels.empty())
                    enterNextSubFolder();
        }
    } catch (const Stopped &) {
        return; // nobody waits for what was found
    }
    handOver();
    const std::lock_guard lock(m_out.mutex);
    m_out.finished = true;
    m_out.more.notify_all();
}

void Walk::pace()
{
    if (m_stop.load(std::memory_order_relaxed))
        throw Stopped();
    if (!m_batch.empty() && m_sinceHandOver.elapsed() >= 4)
        handOver();
}

void Walk::handOver()
{
    m_sinceHandOver.restart();
    if (m_batch.empty())
        return;
    const std::lock_guard lock(m_out.mutex);
    if (m_out.reports.empty())
        m_out.reports.swap(m_batch);
    else
        std::move(m_batch.begin(), m_batch.end(), std::back_inserter(m_out.reports));
    m_batch.clear();
    m_out.more.notify_all();
}

void Walk::add(FileSeeker::Reports::Report report)
{
    m_batch.push_back(std::move(report));
    if (m_batch.size() >= BatchSize)
        handOver();
}

void Walk::skip(const QString &path, bool isFolder, FileSeeker::Skip why)
{
    add({path, QString(), {}, why, isFolder});
}

// A large folder takes a while to sort: a stop is looked for meanwhile.
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
        const FileDescriptor parent = openSparing([&] {
            return ::open(above.isEmpty() ? "/" : above.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        });
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

// Opens with `open`, which may use the descriptor of the level `needed`. When the process has
// no descriptor left, the walk gives up those it can open again and tries until one is free,
// so that nothing is left out for want of them.
template<typename Open>
FileDescriptor Walk::openSparing(Open open, std::size_t needed)
{
    for (int wait = 0;;) {
        FileDescriptor fd(open());
        if (fd.isValid() || (errno != EMFILE && errno != ENFILE))
            return fd;
        spare(needed, wait);
    }
}

// Closes every folder held open but the searched one and the level `needed`, and waits a
// little longer each time for others (the window, the desktop's libraries) to close theirs.
void Walk::spare(std::size_t needed, int &waitMs)
{
    for (std::size_t i = 1; i < m_levels.size(); ++i) {
        if (i != needed)
            m_levels[i].fd.reset();
    }
    pace();
    std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
    waitMs = std::min(waitMs + 1, 20);
}

// Opens a level's folder again, one name at a time from the nearest open folder above it,
// each still the folder the walk met there. False when one is not.
bool Walk::reopen(std::size_t level)
{
    std::size_t open = level;
    while (!m_levels[open].fd.isValid())
        --open; // the searched folder stays open
    for (std::size_t i = open + 1; i <= level; ++i) {
        const int from = m_levels[i - 1].fd.get();
        Level &here = m_levels[i];
        here.fd = openSparing([&] { return ::openat(from, here.name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); },
                              i - 1);
        struct stat st {};
        if (!here.fd.isValid() || ::fstat(here.fd.get(), &st) != 0 || FileId::of(st) != here.id) {
            here.fd.reset();
            return false;
        }
        if (i >= OpenLevels)
            m_levels[i - OpenLevels + 1].fd.reset();
    }
    return true;
}

// Lists a folder just opened, reports its files, and keeps it while its sub-folders remain to
// be walked; false when there are none to walk.
bool Walk::enter(FileDescriptor fd, const QByteArray &name, const QString &path, const struct stat &st, bool newDevice)
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
    m_levels.push_back({std::move(fd), name, path, id, std::move(listing.folders), 0});
    if (m_levels.size() > OpenLevels)
        m_levels[m_levels.size() - OpenLevels].fd.reset();
    return true;
}

// The plain files of the open folder, and its sub-folders when those are searched, each asked
// about once: links, FIFOs, sockets and devices are passed over.
bool Walk::list(int folder, Listing &listing)
{
    for (int wait = 0;;) {
        listing = Listing();
        const bool listed = forEachEntry(folder, [&](const dirent &e) {
            pace();
            const unsigned char type = e.d_type;
            const bool maybeFolder = type == DT_DIR || type == DT_UNKNOWN;
            if ((type != DT_REG && !maybeFolder) || (type == DT_DIR && !m_subFolders))
                return true;
            struct stat st {};
            if (::fstatat(folder, e.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                return true;
            const FileSeeker::Found found{qint64(st.st_size), FileId::of(st)};
            if (S_ISREG(st.st_mode)) {
                listing.tagged = listing.tagged || std::strcmp(e.d_name, FileSeeker::ScratchTagName) == 0;
                listing.files.push_back({QByteArray(e.d_name), found});
            } else if (S_ISDIR(st.st_mode) && m_subFolders) {
                listing.folders.push_back({QByteArray(e.d_name), found});
            }
            return true;
        });
        if (listed || (errno != EMFILE && errno != ENFILE))
            return listed;
        // Listing takes a descriptor of its own: one is freed, or waited for.
        spare(NoLevel, wait);
    }
}

bool Walk::holdsScratchTag(int folder)
{
    const FileDescriptor fd = openSparing([folder] {
        return ::openat(folder, FileSeeker::ScratchTagName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    });
    return fd.isValid() && isScratchTag(fd.get());
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
        if (!decoded(entry.name, name))
            skip(path + name, false, FileSeeker::Skip::NameNotUtf8);
        else if (entry.name.size() > longestName)
            skip(path + name, false, FileSeeker::Skip::PathTooLong);
        else
            add({name, path, entry.found, std::nullopt, false});
        entry.name = QByteArray(); // freed as it goes, not all at once after a huge folder
    }
}

// One step down: the next sub-folder of the deepest folder is entered, or that folder is left
// when it has none left.
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
    if (!top.fd.isValid() && !reopen(m_levels.size() - 1)) {
        // No longer the folder that was listed: what remains of it is not walked.
        skip(top.path, true);
        top.next = top.folders.size();
        return;
    }
    if (m_entering)
        m_entering(path);

    // From the parent's descriptor, never by the path again, and only if it is still the
    // folder the listing saw: a link or another folder put in its place is not entered.
    const int parent = top.fd.get();
    FileDescriptor fd = openSparing([&] { return ::openat(parent, sub.name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); },
                                    m_levels.size() - 1);
    struct stat st {};
    if (!fd.isValid() || ::fstat(fd.get(), &st) != 0 || FileId::of(st) != listed) {
        if (fd.isValid() || errno != ENOENT) // one that is gone is no longer there to take
            skip(path, true);
        return;
    }
    const bool newDevice = quint64(st.st_dev) != top.id.device;
    m_chain.push_back(sub.name);
    if (!enter(std::move(fd), sub.name, path, st, newDevice))
        m_chain.pop_back();
}

} // namespace

FileSeeker::FileSeeker() = default;
FileSeeker::~FileSeeker() = default;

// The walk runs on a thread of its own, which nobody waits for: a folder on a share that
// sleeps holds up only the walk. Here its reports are raised, in its order, and the window
// is served meanwhile.
void FileSeeker::Search(int, int, int, int)
{
    const auto reports = std::make_shared<Reports>();
    Worker walk([reports, folder = Folder, subFolders = IncludeSubFolders, entering = Entering](const std::atomic<bool> &stop) {
        Walk(subFolders, entering, *reports, stop).run(folder);
    });
    QElapsedTimer sinceYield;
    sinceYield.start();
    // True when the walk is to end here.
    const auto served = [&] {
        if (!Yield || sinceYield.elapsed() < YieldEveryMs)
            return false;
        Yield();
        sinceYield.restart();
        return Stopped && Stopped();
    };
    std::vector<Reports::Report> taken;
    for (bool finished = false; !finished;) {
        {
            std::unique_lock lock(reports->mutex);
            if (reports->reports.empty() && !reports->finished)
                reports->more.wait_for(lock, std::chrono::milliseconds(2));
            taken.swap(reports->reports);
            finished = reports->finished;
        }
        for (Reports::Report &report : taken) {
            if (report.skipped) {
                if (SkippedEntry)
                    SkippedEntry(report.name, report.isFolder, *report.skipped);
            } else if (FoundFile) {
                m_found = report.found;
                FoundFile(report.name, report.path);
            }
            if (served())
                return;
        }
        taken.clear();
        if (served())
            return;
    }
}

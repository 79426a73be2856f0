// Enumerating a folder tree with the POSIX calls, from each folder's descriptor to its
// sub-folders', on a few threads at once, so that links and special files are seen for what they are before anything
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
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <memory>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <sys/sysmacros.h>
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

bool FileSeeker::isShare(int fd)
{
    struct statfs fs {};
    struct stat st {};
    if (::fstatfs(fd, &fs) != 0 || ::fstat(fd, &st) != 0)
        return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
    case NFS_SUPER_MAGIC:
    case SMB_SUPER_MAGIC:
    case CODA_SUPER_MAGIC:
    case AFS_SUPER_MAGIC:
    case V9FS_MAGIC:
    case 0xFF534D42: // cifs
    case 0xFE534D42: // smb2
    case 0x00C36400: // ceph
        return true;
    case 0x65735546: // fuse; ntfs-3g and its kin read a disk of their own, named by the device
        return major(st.st_dev) == 0;
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

// Folders listed at once: on a share each call waits for the network, and many in flight hide
// that wait; on a local drive a few keep the cores busy, and more only crowd the window out.
constexpr int ListersOnShare = 16;
constexpr int ListersLocal = 4;

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

// Whether a folder's name says that it holds copies: a backup, an old version.
bool isCopyPlace(const QString &folded)
{
    static const QStringList places{QStringLiteral("backup"), QStringLiteral("backups"), QStringLiteral("bak"),
                                    QStringLiteral("old"), QStringLiteral("copy"), QStringLiteral("copies"),
                                    QStringLiteral("kopie"), QStringLiteral("kopien"), QStringLiteral("sicherung"),
                                    QStringLiteral("sicherungen")};
    return places.contains(folded) || folded.startsWith(u"backup") || folded.startsWith(u"copy of");
}

// Whether `text` ends with `word` and a separator before it, as in "letter - copy".
bool endsWithWord(QStringView text, QStringView word)
{
    if (!text.endsWith(word) || text.size() == word.size())
        return false;
    return QStringView(u" -_\u2013\u2014").contains(text[text.size() - word.size() - 1]);
}

// The number that ends `text`, in ASCII digits: what is left before it, or nothing if none.
std::optional<QStringView> beforeNumber(QStringView text)
{
    qsizetype at = text.size();
    while (at > 0 && text[at - 1] >= u'0' && text[at - 1] <= u'9')
        --at;
    return at < text.size() ? std::optional(text.first(at)) : std::nullopt;
}

// Whether a file's name, case-folded, says that it is a copy: "photo copy.png", "report (1).pdf",
// "Kopie von brief.odt", "notes.txt~".
bool hasCopyMark(const QString &folded, qsizetype stemLength)
{
    if (folded.endsWith(u".bak") || folded.endsWith(u".orig") || folded.endsWith(u'~'))
        return true;
    const QStringView stem = QStringView(folded).first(stemLength);
    if (stem.startsWith(u"copy of ") || stem.startsWith(u"kopie von ") || stem.startsWith(u"copie de "))
        return true;
    if (endsWithWord(stem, u"copy") || endsWithWord(stem, u"kopie") || endsWithWord(stem, u"copie"))
        return true;
    if (const auto before = beforeNumber(stem); before && before->endsWith(u' ')) {
        const QStringView word = before->chopped(1);
        if (endsWithWord(word, u"copy") || endsWithWord(word, u"kopie"))
            return true;
    }
    if (stem.endsWith(u')')) {
        const auto before = beforeNumber(stem.chopped(1));
        return before && before->endsWith(u'(') && endsWithWord(*before, u"(");
    }
    return false;
}

// How far a file is from being the copy a person calls the original: every hidden one after
// every shown one, then those in a backup folder, then those whose name marks a copy.
enum Rank : quint8 { Marked = 1, InCopyPlace = 2, Hidden = 4 };

// A plain file as listed, with what its place in the order is decided by.
struct File
{
    QByteArray name;
    QString stem, extension; // case-folded
    qsizetype stemBytes = 0;
    FileSeeker::Found found;
    quint8 rank = 0;
    QString text; // the name as reported, once the folder's files are in order
};

// A folder's files in the order they are reported in: the name without its extension, then the
// extension, each case-folded, so that "b.txt" comes before "C.txt"; byte order settles the rest.
// Sorting by stem first puts "IMG_101.jpg" before "IMG_101 copy.jpg".
bool fileBefore(const File &a, const File &b)
{
    if (const int c = a.stem.compare(b.stem); c != 0)
        return c < 0;
    if (const int c = a.extension.compare(b.extension); c != 0)
        return c < 0;
    const int stems = QByteArrayView(a.name).first(a.stemBytes).compare(QByteArrayView(b.name).first(b.stemBytes));
    if (stems != 0)
        return stems < 0;
    return QByteArrayView(a.name).sliced(a.stemBytes) < QByteArrayView(b.name).sliced(b.stemBytes);
}

// A folder of the tree as walked. Only the lister that lists it writes what it holds, before it
// hands over its sub-folders; everything is read once every folder is listed.
struct Node
{
    const Node *parent = nullptr;
    QByteArray name; // within the parent
    QString path;    // ends with "/"
    QString folded;  // the name, case-folded
    FileId id;
    quint8 rank = 0; // Hidden and InCopyPlace, from the folders below the searched one
    std::vector<File> files;
    std::vector<Node *> folders; // in the order walked
    std::vector<FileSeeker::Reports::Report> skipped; // in the order met
    // Listed, or never to be: what it holds is known. Set by its lister, once it has written it.
    std::atomic<bool> done{false};

    // Moved only while no other thread knows of it: as a sub-folder sorted, or put in the tree.
    Node() = default;
    Node(Node &&other) noexcept { *this = std::move(other); }
    Node &operator=(Node &&other) noexcept
    {
        parent = other.parent;
        name = std::move(other.name);
        path = std::move(other.path);
        folded = std::move(other.folded);
        id = other.id;
        rank = other.rank;
        files = std::move(other.files);
        folders = std::move(other.folders);
        skipped = std::move(other.skipped);
        done = other.done.load();
        return *this;
    }
};

struct Stopped
{
};
// Thrown where the process has no descriptor left while several folders are listed at once.
struct Scarce
{
};

// What the listers share: the tree as far as it is known, and the folders still to list.
struct Tree
{
    Tree(bool subFolders, std::function<void(const QString &)> entering, std::shared_ptr<FileSeeker::Reports> out)
        : subFolders(subFolders), entering(std::move(entering)), out(std::move(out))
    {
    }
    const bool subFolders;
    const std::function<void(const QString &)> entering;
    const std::shared_ptr<FileSeeker::Reports> out;
    const FileId trash = userTrash();

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Node> folders;  // a deque, so that a folder stays where it is while others are added
    std::vector<Node *> toList; // last in, first out: a lister stays near where it was
    int listing = 0;              // folders taken and not yet done
    bool over = false;            // listed to the end, or given up
    // Out of descriptors once: from then on one folder is listed at a time, with few held open.
    std::atomic<bool> scarce{false};
    std::mutex oneAtATime;
    // Listers beyond this many end once idle: the searched folder's drive decides.
    std::atomic<int> wanted{ListersOnShare};

    // The reports go out in the walk's order as soon as every folder before them is listed:
    // those of the first rank at once, the others held until the walk is over.
    std::mutex handingOver;
    std::atomic<bool> moreListed{false};
    std::vector<std::pair<Node *, std::size_t>> toHand; // the walk's order: a folder, its next sub-folder
    std::vector<FileSeeker::Reports::Report> held[8];   // by rank
    QSet<FileId> handed;                                // a bind mount may show a folder twice
    bool handingBegun = false;

    FileDescriptor rootFd; // set by the first lister, before any other folder is known
    // The names above the searched folder, its own last, for the trash and snapshot rules.
    std::vector<QByteArray> above{QByteArray(), QByteArray()};
};

// One of the threads that list folders. Each reaches its folder from the searched one, one name
// at a time, each still the folder the listing above it saw; it keeps the deepest few of the
// last way it went open, for the next folder is most often next to the last.
class Lister
{
public:
    Lister(Tree &tree, int index, const std::atomic<bool> &stop) : m_tree(tree), m_index(index), m_stop(stop) {}
    void run();

private:
    // Folders kept open on the way to the last one listed, however deep the tree.
    static constexpr std::size_t Keep = 3;

    void pace() const;
    void list(Node &folder, bool alone);
    [[nodiscard]] static File fileOf(QByteArray name, const struct stat &st, quint8 folderRank);
    [[nodiscard]] bool readEntries(Node &folder, int fd, bool alone, std::vector<File> &files, std::vector<Node> &subs);
    void takeFiles(Node &folder, std::vector<File> &files);
    void handOverSubFolders(Node &folder, std::vector<Node> &subs);
    void listRoot(Node &root);
    [[nodiscard]] int reach(const Node &folder, bool alone);
    void spare(bool alone, int needed, int &waitMs);
    template<typename Open>
    [[nodiscard]] FileDescriptor openSparing(Open open, bool alone, int needed = -1);
    [[nodiscard]] bool holdsScratchTag(int folder, bool alone);
    [[nodiscard]] bool liesInKeptFolder(const QByteArray &root);
    [[nodiscard]] const QByteArray &nameOf(const Node *folder, std::size_t up = 0) const;
    [[nodiscard]] bool keptForRecovery(const Node &parent, const QByteArray &name, const FileId &id) const;
    [[nodiscard]] static bool below(const Node *folder, const FileId &id);
    void sortBy(auto &entries, auto before) const;
    void handOver();
    void handOverListed();

    Tree &m_tree;
    const int m_index;
    const std::atomic<bool> &m_stop;
    // The way to the last folder listed, from the searched one, which the tree holds open.
    std::vector<std::pair<const Node *, FileDescriptor>> m_way;
};

void Lister::run()
{
    Worker::giveWay();
    try {
        for (;;) {
            Node *folder = nullptr;
            {
                std::unique_lock lock(m_tree.mutex);
                while (m_index < m_tree.wanted && !m_tree.over && m_tree.toList.empty()) {
                    m_tree.changed.wait_for(lock, std::chrono::milliseconds(5));
                    pace();
                    if (m_tree.scarce)
                        m_way.clear();
                }
                if (m_tree.over || m_index >= m_tree.wanted)
                    return;
                folder = m_tree.toList.back();
                m_tree.toList.pop_back();
                ++m_tree.listing;
            }
            if (!m_tree.scarce) {
                try {
                    list(*folder, false);
                } catch (const Scarce &) {
                    m_way.clear();
                    const std::lock_guard lock(m_tree.mutex);
                    m_tree.toList.push_back(folder);
                    --m_tree.listing;
                    m_tree.changed.notify_all();
                    continue;
                }
            } else {
                const std::lock_guard alone(m_tree.oneAtATime);
                m_way.clear();
                list(*folder, true);
            }
            folder->done.store(true, std::memory_order_release);
            handOver();
            const std::lock_guard lock(m_tree.mutex);
            if (--m_tree.listing == 0 && m_tree.toList.empty()) {
                m_tree.over = true;
                m_tree.changed.notify_all();
            }
        }
    } catch (const Stopped &) {
        const std::lock_guard lock(m_tree.mutex);
        m_tree.over = true; // nobody waits for what was found
        m_tree.changed.notify_all();
    }
}

void Lister::pace() const
{
    if (m_stop.load(std::memory_order_relaxed))
        throw Stopped();
}

// A large folder takes a while to sort: a stop is looked for meanwhile.
void Lister::sortBy(auto &entries, auto before) const
{
    unsigned compared = 0;
    std::sort(entries.begin(), entries.end(), [&](const auto &a, const auto &b) {
        if ((++compared & 63) == 0)
            pace();
        return before(a, b);
    });
}

// Opens with `open`. Out of descriptors, a lister among others gives up (the folder is listed
// again later, one at a time); one alone gives up those of its way it can open again, but the
// one `needed`, and waits for others (the window, the desktop's libraries) to close theirs, so
// that nothing is left out for want of them.
template<typename Open>
FileDescriptor Lister::openSparing(Open open, bool alone, int needed)
{
    for (int waitMs = 0;;) {
        FileDescriptor fd(open());
        if (fd.isValid() || (errno != EMFILE && errno != ENFILE))
            return fd;
        spare(alone, needed, waitMs);
    }
}

// Out of descriptors, a lister among others gives up (the folder is listed again later, one at
// a time); one alone gives up those of its way it can open again, but the one `needed`, and
// waits a little longer each time for others (the window, the desktop's libraries) to close
// theirs, so that nothing is left out for want of them.
void Lister::spare(bool alone, int needed, int &waitMs)
{
    if (!alone) {
        m_tree.scarce = true;
        throw Scarce();
    }
    for (auto &[folder, held] : m_way) {
        if (held.get() != needed)
            held.reset();
    }
    pace();
    std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
    waitMs = std::min(waitMs + 1, 20);
}

// The descriptor of a folder, reached from the searched one, or -1 when a folder on the way
// cannot be opened or is no longer the one listed there (errno ESTALE). A folder of the way to
// the last one is used again while it is open.
int Lister::reach(const Node &folder, bool alone)
{
    std::vector<const Node *> way; // below the searched folder, down to this one
    for (const Node *at = &folder; at->parent; at = at->parent)
        way.push_back(at);
    std::reverse(way.begin(), way.end());
    std::size_t common = 0;
    while (common < way.size() && common < m_way.size() && m_way[common].first == way[common])
        ++common;
    m_way.resize(common);
    while (!m_way.empty() && !m_way.back().second.isValid())
        m_way.pop_back();
    for (std::size_t i = m_way.size(); i < way.size(); ++i) {
        const int from = i == 0 ? m_tree.rootFd.get() : m_way.back().second.get();
        if (i + 1 == way.size() && m_tree.entering)
            m_tree.entering(way[i]->path);
        FileDescriptor fd = openSparing(
            [&] { return ::openat(from, way[i]->name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); }, alone, from);
        struct stat st {};
        if (!fd.isValid() || ::fstat(fd.get(), &st) != 0)
            return -1;
        if (FileId::of(st) != way[i]->id) {
            errno = ESTALE;
            return -1;
        }
        m_way.emplace_back(way[i], std::move(fd));
        if (m_way.size() > Keep)
            m_way[m_way.size() - Keep - 1].second.reset();
    }
    return m_way.empty() ? m_tree.rootFd.get() : m_way.back().second.get();
}

bool Lister::holdsScratchTag(int folder, bool alone)
{
    const FileDescriptor fd = openSparing(
        [folder] { return ::openat(folder, FileSeeker::ScratchTagName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC); }, alone,
        folder);
    return fd.isValid() && isScratchTag(fd.get());
}

// The folder searched may itself lie inside a trash, a snapshot or a scratch folder. The names
// above it start the chain of names the rules look at.
bool Lister::liesInKeptFolder(const QByteArray &root)
{
    if (!root.startsWith('/'))
        return false;
    QByteArray above;
    for (const QByteArray &name : root.split('/')) {
        if (name.isEmpty())
            continue;
        const FileDescriptor parent = openSparing(
            [&] { return ::open(above.isEmpty() ? "/" : above.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }, true);
        if (parent.isValid() && holdsScratchTag(parent.get(), true))
            return true;
        above += '/' + name;
        struct stat st {};
        const std::size_t n = m_tree.above.size();
        if (::stat(above.constData(), &st) == 0
            && ((m_tree.trash.isKnown() && FileId::of(st) == m_tree.trash)
                || isRecoveryFolder(name, m_tree.above[n - 1], m_tree.above[n - 2])))
            return true;
        m_tree.above.push_back(name);
    }
    return false;
}

// The name of a folder, or of the one `up` levels above it, the searched folder's own included.
const QByteArray &Lister::nameOf(const Node *folder, std::size_t up) const
{
    for (; up > 0 && folder->parent; --up)
        folder = folder->parent;
    return folder->parent ? folder->name : m_tree.above[m_tree.above.size() - 1 - up];
}

bool Lister::keptForRecovery(const Node &parent, const QByteArray &name, const FileId &id) const
{
    return (m_tree.trash.isKnown() && id == m_tree.trash) || isRecoveryFolder(name, nameOf(&parent), nameOf(&parent, 1));
}

// Whether the folder `id` is this one or above it: a bind mount can bring a folder back below itself.
bool Lister::below(const Node *folder, const FileId &id)
{
    for (; folder; folder = folder->parent) {
        if (folder->id == id)
            return true;
    }
    return false;
}

// The searched folder: the one path resolved, since every folder below is reached from it.
void Lister::listRoot(Node &root)
{
    const QByteArray native = QFile::encodeName(root.path);
    if (liesInKeptFolder(native))
        return;
    m_tree.rootFd = openSparing([&] { return ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); }, true);
    struct stat st {};
    if (!m_tree.rootFd.isValid() || ::fstat(m_tree.rootFd.get(), &st) != 0) {
        root.skipped.push_back({root.path, QString(), {}, FileSeeker::Skip::CannotOpen, true});
        return;
    }
    root.id = FileId::of(st);
    if (!FileSeeker::isShare(m_tree.rootFd.get()))
        m_tree.wanted = ListersLocal;
    if (!FileSeeker::isPseudoFileSystem(m_tree.rootFd.get()))
        list(root, true);
}

// Lists one folder, its files and its sub-folders each asked about once (links, FIFOs, sockets
// and devices are passed over), and hands over the sub-folders to be listed in turn.
void Lister::list(Node &folder, bool alone)
{
    if (!folder.parent && !m_tree.rootFd.isValid())
        return listRoot(folder);
    const int fd = reach(folder, alone);
    if (fd < 0) {
        if (errno != ENOENT) // one that is gone is no longer there to take
            folder.skipped.push_back({folder.path, QString(), {}, FileSeeker::Skip::CannotOpen, true});
        return;
    }
    if (folder.parent && folder.id.device != folder.parent->id.device && FileSeeker::isPseudoFileSystem(fd))
        return;
    std::vector<File> files;
    std::vector<Node> subs;
    if (!readEntries(folder, fd, alone, files, subs))
        return;
    takeFiles(folder, files);
    handOverSubFolders(folder, subs);
}

// A plain file as listed, ranked by its own name and the folders it lies in.
File Lister::fileOf(QByteArray name, const struct stat &st, quint8 folderRank)
{
    File file{std::move(name), {}, {}, 0, {qint64(st.st_size), FileId::of(st)}, folderRank, {}};
    file.stemBytes = extensionAt(file.name);
    file.stem = QFile::decodeName(file.name.first(file.stemBytes)).toCaseFolded();
    file.extension = QFile::decodeName(file.name.sliced(file.stemBytes)).toCaseFolded();
    file.rank |= (file.name.startsWith('.') ? Hidden : 0) | (hasCopyMark(file.stem + file.extension, file.stem.size()) ? Marked : 0);
    return file;
}

// The folder's entries; false when it gives nothing: it cannot be listed (and is named), or it
// holds this program's scratch tag.
bool Lister::readEntries(Node &folder, int fd, bool alone, std::vector<File> &files, std::vector<Node> &subs)
{
    bool tagged = false;
    const auto take = [&](const dirent &e) {
        pace();
        const unsigned char type = e.d_type;
        const bool maybeFolder = type == DT_DIR || type == DT_UNKNOWN;
        if ((type != DT_REG && !maybeFolder) || (type == DT_DIR && !m_tree.subFolders))
            return true;
        struct stat st {};
        if (::fstatat(fd, e.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            return true;
        QByteArray name(e.d_name);
        if (S_ISREG(st.st_mode)) {
            tagged = tagged || name == FileSeeker::ScratchTagName;
            files.push_back(fileOf(std::move(name), st, folder.rank));
        } else if (S_ISDIR(st.st_mode) && m_tree.subFolders) {
            Node sub;
            sub.name = std::move(name);
            sub.id = FileId::of(st);
            subs.push_back(std::move(sub));
        }
        return true;
    };
    for (int waitMs = 0;;) {
        files.clear();
        subs.clear();
        tagged = false;
        if (forEachEntry(fd, take, true))
            break;
        if (errno != EMFILE && errno != ENFILE) {
            folder.skipped.push_back({folder.path, QString(), {}, FileSeeker::Skip::CannotOpen, true});
            return false;
        }
        spare(alone, fd, waitMs); // the listing takes a descriptor of its own
    }
    return !tagged || !holdsScratchTag(fd, alone);
}

// The folder's files in their order; one whose name cannot be taken is named instead.
void Lister::takeFiles(Node &folder, std::vector<File> &files)
{
    sortBy(files, fileBefore);
    // A longer name makes a path that no call of the system takes (the limit counts the
    // terminating zero): the walk lists such a file, but it could never be read by its path.
    const qsizetype longestName = PATH_MAX - 1 - QFile::encodeName(folder.path).size();
    QString text;
    for (File &file : files) {
        if (!decoded(file.name, text))
            folder.skipped.push_back({folder.path + text, QString(), {}, FileSeeker::Skip::NameNotUtf8, false});
        else if (file.name.size() > longestName)
            folder.skipped.push_back({folder.path + text, QString(), {}, FileSeeker::Skip::PathTooLong, false});
        else {
            file.text = text;
            file.name = {}; // the bytes have given their order
            folder.files.push_back(std::move(file));
        }
    }
}

// The folder's sub-folders join the tree in their order, and those to walk are listed in turn.
void Lister::handOverSubFolders(Node &folder, std::vector<Node> &subs)
{
    for (Node &sub : subs) {
        QString name;
        const bool named = decoded(sub.name, name);
        sub.folded = name.toCaseFolded();
        sub.path = folder.path + name + QLatin1Char('/');
        sub.parent = &folder;
        sub.rank = folder.rank | (sub.name.startsWith('.') ? Hidden : 0) | (isCopyPlace(sub.folded) ? InCopyPlace : 0);
        if (!named)
            sub.skipped.push_back({sub.path, QString(), {}, FileSeeker::Skip::NameNotUtf8, true});
        else if (QFile::encodeName(sub.path).size() > PATH_MAX - 1) // nothing in it could be named either
            sub.skipped.push_back({sub.path, QString(), {}, FileSeeker::Skip::PathTooLong, true});
    }
    sortBy(subs, [](const Node &a, const Node &b) {
        const int c = a.folded.compare(b.folded);
        return c != 0 ? c < 0 : a.name < b.name;
    });

    const std::lock_guard lock(m_tree.mutex);
    const std::size_t listedBefore = m_tree.toList.size();
    for (Node &sub : subs) {
        if (keptForRecovery(folder, sub.name, sub.id) || below(&folder, sub.id))
            continue;
        const bool toList = sub.skipped.empty();
        sub.done = !toList;
        folder.folders.push_back(&m_tree.folders.emplace_back(std::move(sub)));
        if (toList)
            m_tree.toList.push_back(folder.folders.back());
    }
    // Last in, first out: the first sub-folder is listed first.
    std::reverse(m_tree.toList.begin() + qsizetype(listedBefore), m_tree.toList.end());
    m_tree.changed.notify_all();
}

// Hands over what is listed, unless another lister is at it: that one then goes on for this one.
void Lister::handOver()
{
    m_tree.moreListed = true;
    while (m_tree.moreListed.load()) {
        const std::unique_lock lock(m_tree.handingOver, std::try_to_lock);
        if (!lock.owns_lock())
            return;
        m_tree.moreListed = false;
        handOverListed();
    }
}

// The reports of the folders listed, in the walk's order, as far as a folder not yet listed: a
// folder's files, then its sub-folders. Files of a later rank wait for the end of the walk. A
// folder met twice (a bind mount) is taken where the order meets it first.
void Lister::handOverListed()
{
    std::vector<FileSeeker::Reports::Report> reports;
    std::vector<std::pair<Node *, std::size_t>> &toHand = m_tree.toHand;
    if (!std::exchange(m_tree.handingBegun, true))
        toHand.emplace_back(&m_tree.folders.front(), std::size_t(-1));
    while (!toHand.empty()) {
        pace();
        auto [folder, next] = toHand.back();
        if (next == std::size_t(-1)) {
            if (!folder->done.load(std::memory_order_acquire))
                break;
            if (folder->id.isKnown() && m_tree.handed.contains(folder->id)) {
                toHand.pop_back();
                continue;
            }
            m_tree.handed.insert(folder->id);
            std::move(folder->skipped.begin(), folder->skipped.end(), std::back_inserter(reports));
            for (File &file : folder->files) {
                (file.rank == 0 ? reports : m_tree.held[file.rank])
                    .push_back({std::move(file.text), folder->path, file.found, std::nullopt, false});
            }
            folder->files = {};
            next = 0;
        }
        if (next < folder->folders.size()) {
            toHand.back().second = next + 1;
            toHand.emplace_back(folder->folders[next], std::size_t(-1));
        } else {
            toHand.pop_back();
        }
    }
    const bool over = toHand.empty();
    if (over) {
        for (auto &rank : m_tree.held) {
            std::move(rank.begin(), rank.end(), std::back_inserter(reports));
            rank = {};
        }
    }
    const std::lock_guard lock(m_tree.out->mutex);
    std::move(reports.begin(), reports.end(), std::back_inserter(m_tree.out->reports));
    m_tree.out->finished = over;
    m_tree.out->more.notify_all();
}

} // namespace

FileSeeker::FileSeeker() = default;
FileSeeker::~FileSeeker() = default;

// The walk runs on threads of its own, which nobody waits for: a folder on a share that sleeps
// holds up only the walk. Several folders are listed at once, since on a share each call waits
// for the network. Here the reports are raised in their order, and the window is served meanwhile.
void FileSeeker::Search(int, int, int, int)
{
    const auto reports = std::make_shared<Reports>();
    auto tree = std::make_shared<Tree>(IncludeSubFolders, Entering, reports);
    Node root;
    root.path = Folder.endsWith(QLatin1Char('/')) ? Folder : Folder + QLatin1Char('/');
    tree->folders.push_back(std::move(root));
    tree->toList.push_back(&tree->folders.front());
    std::vector<std::unique_ptr<Worker>> listers;
    for (int i = 0; i < (IncludeSubFolders ? ListersOnShare : 1); ++i)
        listers.push_back(std::make_unique<Worker>([tree, i](const std::atomic<bool> &stop) { Lister(*tree, i, stop).run(); }));
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
            report = {}; // freed as it goes, not all at once after a huge folder
            if (served())
                return;
        }
        taken.clear();
        if (served())
            return;
    }
}

// Enumerating a folder tree with the POSIX calls, so that links and special files are seen
// for what they are before anything opens them.
#include "FileSeeker.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <memory>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <vector>

namespace {

// File systems whose files are made up by the kernel: reading them can block or return
// something other than their stated size, and none holds a user's documents.
bool isPseudoFileSystem(int fd)
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
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case DEVPTS_SUPER_MAGIC:
    case BPF_FS_MAGIC:
    case PSTOREFS_MAGIC:
    case 0x62656570: // configfs
    case 0x65735543: // fusectl
    case 0x19800202: // mqueue
    case 0x6e736673: // nsfs
    case 0x50495045: // pipefs
    case 0x534f434b: // sockfs
        return true;
    default:
        return false;
    }
}

struct DirCloser
{
    void operator()(DIR *dir) const { ::closedir(dir); }
};

struct Entry
{
    QByteArray name;
    bool isFolder;
    FileSeeker::Found found;
};

} // namespace

void FileSeeker::Search(int, int, int, int)
{
    const bool everyName = Pattern.isEmpty() || Pattern == QLatin1String("*") || Pattern == QLatin1String("*.*");
    const QRegularExpression pattern(everyName ? QString() : QRegularExpression::wildcardToRegularExpression(Pattern));

    QString root = Folder;
    if (!root.endsWith(QLatin1Char('/')))
        root += QLatin1Char('/');

    QElapsedTimer sinceYield;
    sinceYield.start();
    QSet<QPair<dev_t, ino_t>> visited; // a bind mount can bring a folder back below itself

    auto skipped = [this](const QString &path) {
        if (SkippedEntry)
            SkippedEntry(path);
    };

    std::vector<QString> pending{root};
    while (!pending.empty()) {
        const QString folder = pending.back();
        pending.pop_back();

        const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            skipped(folder);
            continue;
        }
        struct stat st {};
        if (::fstat(fd, &st) != 0 || visited.contains({st.st_dev, st.st_ino}) || isPseudoFileSystem(fd)) {
            ::close(fd);
            continue;
        }
        visited.insert({st.st_dev, st.st_ino});
        std::unique_ptr<DIR, DirCloser> dir(::fdopendir(fd));
        if (!dir) {
            ::close(fd);
            skipped(folder);
            continue;
        }

        std::vector<Entry> entries;
        while (const dirent *e = ::readdir(dir.get())) {
            const QByteArray name(e->d_name);
            if (name == "." || name == "..")
                continue;
            unsigned char type = e->d_type;
            struct stat est {};
            if (type == DT_UNKNOWN || type == DT_REG) {
                if (::fstatat(::dirfd(dir.get()), e->d_name, &est, AT_SYMLINK_NOFOLLOW) != 0)
                    continue;
                type = S_ISREG(est.st_mode) ? DT_REG : S_ISDIR(est.st_mode) ? DT_DIR : DT_LNK;
            }
            if (type == DT_REG || type == DT_DIR)
                entries.push_back({name, type == DT_DIR, {qint64(est.st_size), quint64(est.st_dev), quint64(est.st_ino)}});
        }
        dir.reset();
        std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) { return a.name < b.name; });

        std::vector<QString> subFolders;
        for (const Entry &entry : entries) {
            const QString name = QFile::decodeName(entry.name);
            // A name that does not survive the way into text and back would name another file.
            if (QFile::encodeName(name) != entry.name) {
                skipped(folder + name);
                continue;
            }
            if (entry.isFolder) {
                if (IncludeSubFolders)
                    subFolders.push_back(folder + name + QLatin1Char('/'));
            } else if ((everyName || pattern.match(name).hasMatch()) && FoundFile) {
                m_found = entry.found;
                FoundFile(name, folder);
            }
            if (Yield && sinceYield.elapsed() >= 50) {
                Yield();
                sinceYield.restart();
            }
        }
        // Pushed in reverse, so that they are taken in name order.
        pending.insert(pending.end(), subFolders.rbegin(), subFolders.rend());
    }
}

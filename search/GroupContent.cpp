// Splitting a size group into classes of equal bytes, reading the files side by side.
#include "GroupContent.h"

#include "FileDescriptor.h"

#include <QFile>
#include <QHash>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Small enough that a group of files which differ early costs a few kilobytes each.
constexpr qint64 FirstChunk = 4096;
constexpr qint64 LargestChunk = 1024 * 1024;
constexpr qint64 SmallestChunk = 64 * 1024;
// Up to this many files of a chunk are told apart by comparing them with each other;
// beyond it a hash finds the likely partner first, and the bytes still decide.
constexpr qsizetype CompareDirectly = 8;

// Exactly the file at `path`: no symbolic link in any part of it is followed, and a FIFO
// that took a file's place does not block.
int openExactly(const QByteArray &path)
{
    return openWithoutLinks(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK).release();
}

struct FileSlot
{
    QByteArray path;
    dev_t device = 0;
    ino_t inode = 0;
    int fd = -1;
    GroupContent::State state = GroupContent::State::Loaded;
    bool changed = false; // no longer the size it had: equal to nothing
    int cls = -1;
};

// A buffer that keeps its memory from one group to the next: fresh pages for every group
// would cost more to clear than the reading that fills them.
class Buffer
{
public:
    char *data() { return m_data.get(); }
    void resize(std::size_t size)
    {
        if (size > m_capacity) {
            m_data.reset(new char[size]);
            m_capacity = size;
        }
    }

private:
    std::unique_ptr<char[]> m_data;
    std::size_t m_capacity = 0;
};

Buffer &sharedBuffer()
{
    static Buffer buffer;
    return buffer;
}

class Reader
{
public:
    Reader(std::vector<FileSlot> &onDisk, qint64 size, const std::function<void()> &breathe)
        : m_slots(onDisk), m_size(size), m_breathe(breathe), m_buffer(sharedBuffer())
    {
        for (const FileSlot &slot : m_slots)
            m_open += slot.fd >= 0 ? 1 : 0;
    }
    ~Reader()
    {
        for (FileSlot &slot : m_slots)
            closeSlot(slot);
    }
    Reader(const Reader &) = delete;
    Reader &operator=(const Reader &) = delete;

    // Splits `members` (slots whose bytes before `offset` are equal) into classes of equal
    // bytes, and numbers them from `next`.
    void classify(std::vector<int> members, int &next)
    {
        struct Work
        {
            std::vector<int> members;
            qint64 offset;
        };
        std::vector<Work> work;
        work.push_back({std::move(members), 0});
        while (!work.empty()) {
            Work item = std::move(work.back());
            work.pop_back();
            dropUnusable(item.members);
            if (item.members.empty())
                continue;
            if (item.members.size() == 1 || item.offset >= m_size) {
                for (const int slot : item.members)
                    m_slots[std::size_t(slot)].cls = next;
                ++next;
                continue;
            }
            const qint64 length = chunkLength(item.offset, qint64(item.members.size()));
            for (std::vector<int> &part : split(item.members, item.offset, length))
                work.push_back({std::move(part), item.offset + length});
            if (m_breathe)
                m_breathe();
        }
    }

private:
    qint64 chunkLength(qint64 offset, qint64 count) const
    {
        if (offset == 0)
            return std::min(m_size, FirstChunk);
        const qint64 share = std::clamp(GroupContent::MemoryBudget / count, SmallestChunk, LargestChunk);
        return std::min(m_size - offset, share);
    }

    void dropUnusable(std::vector<int> &members) const
    {
        members.erase(std::remove_if(members.begin(), members.end(),
                                     [this](int slot) {
                                         const FileSlot &s = m_slots[std::size_t(slot)];
                                         return s.state != GroupContent::State::Loaded || s.changed;
                                     }),
                      members.end());
    }

    void closeSlot(FileSlot &slot)
    {
        if (slot.fd >= 0) {
            ::close(slot.fd);
            slot.fd = -1;
            --m_open;
        }
    }

    // Reads `length` bytes at `offset`; false (and the slot marked) when that is not possible.
    bool readAt(FileSlot &slot, char *buffer, qint64 length, qint64 offset)
    {
        if (slot.fd < 0) {
            const int fd = openExactly(slot.path);
            struct stat st {};
            if (fd < 0 || ::fstat(fd, &st) != 0 || st.st_dev != slot.device || st.st_ino != slot.inode) {
                const int error = errno;
                if (fd >= 0)
                    ::close(fd);
                // Replaced since it was first opened: not the file that was found.
                slot.state = (fd < 0 && error != ENOENT && error != ENOTDIR) ? GroupContent::State::Unreadable
                                                                             : GroupContent::State::Gone;
                return false;
            }
            slot.fd = fd;
            ++m_open;
        }
        const qint64 done = ::readAt(slot.fd, buffer, length, offset);
        if (done < 0) {
            slot.state = GroupContent::State::Unreadable;
            closeSlot(slot);
            return false;
        }
        if (done < length) {
            slot.changed = true; // shorter than it was found: it equals nothing
            closeSlot(slot);
            return false;
        }
        return true;
    }

    // Descriptors are kept for the next chunk while there is room for them.
    void release(FileSlot &slot)
    {
        if (m_open > GroupContent::OpenFilesCap)
            closeSlot(slot);
    }

    std::vector<std::vector<int>> split(const std::vector<int> &members, qint64 offset, qint64 length)
    {
        const qint64 count = qint64(members.size());
        if (count <= GroupContent::OpenFilesCap && count * length <= GroupContent::MemoryBudget)
            return splitInMemory(members, offset, length);
        return splitByHash(members, offset, length);
    }

    // Every member's chunk side by side in one buffer; parts are formed by exact comparison.
    std::vector<std::vector<int>> splitInMemory(const std::vector<int> &members, qint64 offset, qint64 length)
    {
        m_buffer.resize(std::size_t(qint64(members.size()) * length));
        std::vector<int> read;
        std::vector<QByteArrayView> chunks;
        for (const int slot : members) {
            char *place = m_buffer.data() + qint64(read.size()) * length;
            FileSlot &s = m_slots[std::size_t(slot)];
            if (!readAt(s, place, length, offset))
                continue;
            release(s);
            read.push_back(slot);
            chunks.emplace_back(place, length);
        }

        std::vector<std::vector<int>> parts;
        if (read.size() <= std::size_t(CompareDirectly)) {
            std::vector<QByteArrayView> firsts;
            for (std::size_t i = 0; i < read.size(); ++i) {
                const auto same = std::find(firsts.begin(), firsts.end(), chunks[i]);
                if (same == firsts.end()) {
                    firsts.push_back(chunks[i]);
                    parts.push_back({read[i]});
                } else {
                    parts[std::size_t(same - firsts.begin())].push_back(read[i]);
                }
            }
            return parts;
        }
        // QHash compares its keys whole: the hash only says where to look.
        QHash<QByteArrayView, int> partOf;
        partOf.reserve(qsizetype(read.size()));
        for (std::size_t i = 0; i < read.size(); ++i) {
            const auto it = partOf.constFind(chunks[i]);
            if (it == partOf.constEnd()) {
                partOf.insert(chunks[i], int(parts.size()));
                parts.push_back({read[i]});
            } else {
                parts[std::size_t(*it)].push_back(read[i]);
            }
        }
        return parts;
    }

    // Too many files to hold their chunks at once: each is hashed alone, and the members of
    // each hash are then checked byte for byte against the first of them, two files at a time.
    std::vector<std::vector<int>> splitByHash(const std::vector<int> &members, qint64 offset, qint64 length)
    {
        QHash<size_t, int> partOf;
        std::vector<std::vector<int>> candidates;
        const qint64 piece = std::min(length, LargestChunk);
        m_buffer.resize(std::size_t(2 * piece));
        for (const int slot : members) {
            FileSlot &s = m_slots[std::size_t(slot)];
            size_t hash = 0;
            bool ok = true;
            for (qint64 at = 0; ok && at < length; at += piece) {
                const qint64 n = std::min(piece, length - at);
                ok = readAt(s, m_buffer.data(), n, offset + at);
                if (ok)
                    hash = qHashBits(m_buffer.data(), size_t(n), hash);
            }
            closeSlot(s);
            if (!ok)
                continue;
            const auto it = partOf.constFind(hash);
            if (it == partOf.constEnd()) {
                partOf.insert(hash, int(candidates.size()));
                candidates.push_back({slot});
            } else {
                candidates[std::size_t(*it)].push_back(slot);
            }
            if (m_breathe)
                m_breathe();
        }

        std::vector<std::vector<int>> parts;
        for (std::vector<int> &candidate : candidates) {
            while (!candidate.empty()) {
                const int first = candidate.front();
                std::vector<int> same{first}, rest;
                for (std::size_t i = 1; i < candidate.size(); ++i) {
                    const int other = candidate[i];
                    if (equalRange(first, other, offset, length, piece))
                        same.push_back(other);
                    else if (m_slots[std::size_t(first)].state != GroupContent::State::Loaded
                             || m_slots[std::size_t(first)].changed)
                        break; // the first is lost: the rest is looked at again without it
                    else
                        rest.push_back(other);
                }
                const bool firstLost = m_slots[std::size_t(first)].state != GroupContent::State::Loaded
                    || m_slots[std::size_t(first)].changed;
                if (firstLost) {
                    candidate.erase(candidate.begin());
                    continue;
                }
                parts.push_back(std::move(same));
                candidate = std::move(rest);
            }
        }
        return parts;
    }

    bool equalRange(int a, int b, qint64 offset, qint64 length, qint64 piece)
    {
        FileSlot &sa = m_slots[std::size_t(a)];
        FileSlot &sb = m_slots[std::size_t(b)];
        bool equal = true;
        for (qint64 at = 0; equal && at < length; at += piece) {
            const qint64 n = std::min(piece, length - at);
            equal = readAt(sa, m_buffer.data(), n, offset + at) && readAt(sb, m_buffer.data() + piece, n, offset + at)
                && std::memcmp(m_buffer.data(), m_buffer.data() + piece, size_t(n)) == 0;
        }
        closeSlot(sb);
        if (m_breathe)
            m_breathe();
        return equal;
    }

    std::vector<FileSlot> &m_slots;
    const qint64 m_size;
    const std::function<void()> &m_breathe;
    Buffer &m_buffer;
    int m_open = 0;
};

} // namespace

void GroupContent::examine(const std::vector<DiskFile> &files, qint64 size, const std::function<void()> &breathe)
{
    const std::size_t n = files.size();
    m_state.assign(n, State::Gone);
    m_class.assign(n, -1);
    m_classes = 0;

    // One slot per file on disk: two names of one file are read once.
    std::vector<FileSlot> onDisk;
    std::vector<int> slotOf(n, -1);
    QHash<QPair<dev_t, ino_t>, int> known;
    int open = 0;
    for (std::size_t p = 0; p < n; ++p) {
        if (breathe)
            breathe();
        if (files[p].path.isEmpty())
            continue;
        const QByteArray path = QFile::encodeName(files[p].path);
        const int fd = openExactly(path);
        if (fd < 0) {
            if (errno != ENOENT && errno != ENOTDIR && errno != ELOOP)
                m_state[p] = State::Unreadable;
            continue;
        }
        struct stat st {};
        const bool same = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && quint64(st.st_dev) == files[p].device
            && quint64(st.st_ino) == files[p].inode;
        // Another file under the name than the one found there: not this search's file.
        int slotIndex = -1;
        bool added = false;
        if (same) {
            slotIndex = known.value({st.st_dev, st.st_ino}, -1);
            if (slotIndex < 0) {
                slotIndex = int(onDisk.size());
                known.insert({st.st_dev, st.st_ino}, slotIndex);
                added = true;
            }
        }
        if (added) {
            FileSlot slot;
            slot.path = path;
            slot.device = st.st_dev;
            slot.inode = st.st_ino;
            slot.changed = st.st_size != size;
            // Kept open for the reading that follows, while there is room.
            if (size > 0 && open < OpenFilesCap) {
                slot.fd = fd;
                ++open;
            }
            onDisk.push_back(std::move(slot));
        }
        if (onDisk.empty() || onDisk.back().fd != fd)
            ::close(fd);
        slotOf[p] = slotIndex;
    }

    std::vector<int> all(onDisk.size());
    for (std::size_t i = 0; i < onDisk.size(); ++i)
        all[i] = int(i);
    {
        Reader reader(onDisk, size, breathe);
        reader.classify(std::move(all), m_classes);
    }
    for (FileSlot &slot : onDisk) {
        if (slot.state == State::Loaded && slot.changed)
            slot.cls = m_classes++;
    }

    for (std::size_t p = 0; p < n; ++p) {
        if (slotOf[p] < 0)
            continue;
        const FileSlot &slot = onDisk[std::size_t(slotOf[p])];
        m_state[p] = slot.state;
        m_class[p] = slot.state == State::Loaded ? slot.cls : -1;
    }
}

// Splitting a size group into classes of equal bytes, reading the files side by side.
#include "GroupContent.h"

#include "FileDescriptor.h"

#include <QHash>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>

namespace {

// Small enough that a group of files which differ early costs a few kilobytes each.
constexpr qint64 FirstChunk = 4096;
constexpr qint64 LastBlock = 4096;
constexpr qint64 LargestChunk = 1024 * 1024;
constexpr qint64 SmallestChunk = 64 * 1024;
// Up to this many files of a chunk are told apart by comparing them with each other;
// beyond it a hash finds the likely partner first, and the bytes still decide.
constexpr qsizetype CompareDirectly = 8;

using State = GroupContent::State;

struct Cancelled
{
};

struct FileSlot
{
    QByteArray path;
    FileId id;
    FileDescriptor fd;
    quint32 opened = 0; // which opening of the file fd is, for the eviction order
    State state = State::Loaded;
    bool changed = false; // no longer the size it had: equal to nothing
    int cls = -1;

    [[nodiscard]] bool usable() const { return state == State::Loaded && !changed; }
};

// A buffer that keeps its memory from one group to the next: fresh pages for every group
// would cost more to clear than the reading that fills them. One per thread, gone with it.
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

thread_local Buffer buffer;

std::function<void()> &beforeRead()
{
    static std::function<void()> hook;
    return hook;
}

bool outOfDescriptors(int error)
{
    return error == EMFILE || error == ENFILE;
}

class Reader
{
public:
    Reader(std::vector<FileSlot> &onDisk, qint64 size, int cap, qint64 memory, const std::atomic<bool> &cancel)
        : m_slots(onDisk), m_size(size), m_middleEnd(size - std::clamp<qint64>(size - FirstChunk, 0, LastBlock)),
          m_cap(cap), m_memory(memory), m_cancel(cancel)
    {
    }

    // Is the file still the one found, and its size? Empty files need no descriptor after this.
    void check(int slot)
    {
        FileSlot &s = m_slots[std::size_t(slot)];
        if (open(slot) && m_size == 0)
            close(s);
    }

    // Splits `members` into classes of equal bytes, and numbers them from `next`. After the
    // first block comes the last, where copies that were edited, appended to or cut short
    // most often part; then the middle, in chunks.
    void classify(std::vector<int> members, int &next)
    {
        struct Work
        {
            std::vector<int> members;
            qint64 offset;     // the members' bytes before it are equal (after the first block)
            bool endsCompared; // and those from the middle's end on
        };
        std::vector<Work> work;
        work.push_back({std::move(members), 0, m_middleEnd == m_size});
        while (!work.empty()) {
            Work item = std::move(work.back());
            work.pop_back();
            dropUnusable(item.members);
            if (item.members.empty())
                continue;
            if (item.members.size() == 1 || (item.endsCompared && item.offset >= m_middleEnd)) {
                for (const int slot : item.members) {
                    m_slots[std::size_t(slot)].cls = next;
                    close(m_slots[std::size_t(slot)]);
                }
                ++next;
                continue;
            }
            if (item.offset == 0) {
                const qint64 length = std::min(m_size, FirstChunk);
                for (std::vector<int> &part : split(item.members, 0, length))
                    work.push_back({std::move(part), length, m_middleEnd == m_size});
            } else if (!item.endsCompared) {
                for (std::vector<int> &part : split(item.members, m_middleEnd, m_size - m_middleEnd))
                    work.push_back({std::move(part), item.offset, true});
            } else {
                const qint64 length = chunkLength(item.offset, qint64(item.members.size()));
                for (std::vector<int> &part : split(item.members, item.offset, length))
                    work.push_back({std::move(part), item.offset + length, true});
            }
        }
    }

private:
    void throwIfCancelled() const
    {
        if (m_cancel.load(std::memory_order_relaxed))
            throw Cancelled();
    }

    qint64 chunkLength(qint64 offset, qint64 count) const
    {
        const qint64 share = std::clamp(m_memory / count, SmallestChunk, LargestChunk);
        return std::min(m_middleEnd - offset, share);
    }

    void dropUnusable(std::vector<int> &members) const
    {
        members.erase(std::remove_if(members.begin(), members.end(),
                                     [this](int slot) { return !m_slots[std::size_t(slot)].usable(); }),
                      members.end());
    }

    void close(FileSlot &slot)
    {
        if (slot.fd.isValid()) {
            slot.fd.reset();
            --m_open;
        }
    }

    void closeAll()
    {
        for (FileSlot &slot : m_slots)
            close(slot);
        m_openOrder.clear();
    }

    // Closes the file opened longest ago that is still open.
    void evictOldest()
    {
        while (!m_openOrder.empty()) {
            const auto [slot, opened] = m_openOrder.front();
            m_openOrder.pop_front();
            FileSlot &s = m_slots[std::size_t(slot)];
            if (s.fd.isValid() && s.opened == opened) {
                close(s);
                return;
            }
        }
    }

    // Out of descriptors: what this reader holds goes first, and it holds fewer from now on.
    // Another part of the program holds the rest, for a moment: the file waits for one.
    FileDescriptor openUnderPressure(const QByteArray &path)
    {
        m_cap = std::max(1, m_open / 2);
        closeAll();
        FileDescriptor fd(openWaiting([&] { return openWithoutLinks(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK).release(); }, m_cancel));
        throwIfCancelled();
        return fd;
    }

    // Opens the slot's file, exactly the one found: no link is followed in any part of its
    // path, and a FIFO that took its place does not block. False, and the slot marked, when
    // that is not possible.
    bool open(int index)
    {
        FileSlot &slot = m_slots[std::size_t(index)];
        if (slot.fd.isValid())
            return true;
        throwIfCancelled();
        while (m_open >= m_cap && !m_openOrder.empty())
            evictOldest();
        FileDescriptor fd = openWithoutLinks(slot.path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
        if (!fd.isValid() && outOfDescriptors(errno))
            fd = openUnderPressure(slot.path);
        if (!fd.isValid()) {
            const int error = errno;
            slot.state = (error == ENOENT || error == ENOTDIR || error == ELOOP) ? State::Gone
                                                                             : State::Unreadable;
            return false;
        }
        struct stat st {};
        if (::fstat(fd.get(), &st) != 0) {
            slot.state = State::Unreadable;
            return false;
        }
        if (!S_ISREG(st.st_mode) || FileId::of(st) != slot.id) {
            slot.state = State::Gone; // another file under the name than the one found there
            return false;
        }
        if (st.st_size != m_size) {
            slot.changed = true;
            return false;
        }
        slot.fd = std::move(fd);
        slot.opened = ++m_openings;
        ++m_open;
        m_openOrder.push_back({index, slot.opened});
        if (m_openOrder.size() > std::size_t(4 * m_cap + 64))
            compactOpenOrder();
        return true;
    }

    void compactOpenOrder()
    {
        std::erase_if(m_openOrder, [this](const std::pair<int, quint32> &entry) {
            const FileSlot &s = m_slots[std::size_t(entry.first)];
            return !s.fd.isValid() || s.opened != entry.second;
        });
    }

    // Reads `length` bytes at `offset`; false (and the slot marked) when that is not possible.
    bool readAt(int index, char *into, qint64 length, qint64 offset)
    {
        if (!open(index))
            return false;
        throwIfCancelled();
        FileSlot &slot = m_slots[std::size_t(index)];
        if (beforeRead())
            beforeRead()();
        const qint64 done = ::readAt(slot.fd.get(), into, length, offset);
        if (done < 0) {
            slot.state = State::Unreadable;
            close(slot);
            return false;
        }
        if (done < length) {
            slot.changed = true; // shorter than it was found: it equals nothing
            close(slot);
            return false;
        }
        return true;
    }

    std::vector<std::vector<int>> split(const std::vector<int> &members, qint64 offset, qint64 length)
    {
        const qint64 count = qint64(members.size());
        if (count <= m_cap && count * length <= m_memory)
            return splitInMemory(members, offset, length);
        return splitByHash(members, offset, length);
    }

    // Every member's chunk side by side in one buffer; parts are formed by exact comparison.
    std::vector<std::vector<int>> splitInMemory(const std::vector<int> &members, qint64 offset, qint64 length)
    {
        buffer.resize(std::size_t(qint64(members.size()) * length));
        std::vector<int> read;
        std::vector<QByteArrayView> chunks;
        for (const int slot : members) {
            char *place = buffer.data() + qint64(read.size()) * length;
            if (!readAt(slot, place, length, offset))
                continue;
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
        buffer.resize(std::size_t(2 * piece));
        for (const int slot : members) {
            size_t hash = 0;
            bool ok = true;
            for (qint64 at = 0; ok && at < length; at += piece) {
                const qint64 n = std::min(piece, length - at);
                ok = readAt(slot, buffer.data(), n, offset + at);
                if (ok)
                    hash = qHashBits(buffer.data(), size_t(n), hash);
            }
            close(m_slots[std::size_t(slot)]);
            if (!ok)
                continue;
            const auto it = partOf.constFind(hash);
            if (it == partOf.constEnd()) {
                partOf.insert(hash, int(candidates.size()));
                candidates.push_back({slot});
            } else {
                candidates[std::size_t(*it)].push_back(slot);
            }
        }

        std::vector<std::vector<int>> parts;
        for (std::vector<int> &candidate : candidates) {
            while (!candidate.empty()) {
                const int first = candidate.front();
                FileSlot &firstSlot = m_slots[std::size_t(first)];
                std::vector<int> same{first}, rest;
                for (std::size_t i = 1; i < candidate.size() && firstSlot.usable(); ++i) {
                    const int other = candidate[i];
                    if (equalRange(first, other, offset, length, piece))
                        same.push_back(other);
                    else if (firstSlot.usable())
                        rest.push_back(other);
                }
                close(firstSlot);
                if (!firstSlot.usable()) {
                    // The first is lost: the rest is looked at again without it.
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
        bool equal = true;
        for (qint64 at = 0; equal && at < length; at += piece) {
            const qint64 n = std::min(piece, length - at);
            equal = readAt(a, buffer.data(), n, offset + at) && readAt(b, buffer.data() + piece, n, offset + at)
                && std::memcmp(buffer.data(), buffer.data() + piece, size_t(n)) == 0;
        }
        close(m_slots[std::size_t(b)]);
        return equal;
    }

    std::vector<FileSlot> &m_slots;
    const qint64 m_size;
    const qint64 m_middleEnd; // where the last block begins
    int m_cap;
    const qint64 m_memory;
    const std::atomic<bool> &m_cancel;
    int m_open = 0;
    quint32 m_openings = 0;
    std::deque<std::pair<int, quint32>> m_openOrder; // slot, which opening of it
};

} // namespace

void GroupContent::setBeforeReadForTests(std::function<void()> hook)
{
    beforeRead() = std::move(hook);
}

int GroupContent::descriptorCap()
{
    rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return 128;
    return int(std::clamp<rlim_t>(limit.rlim_cur / 4, 8, 128));
}

bool GroupContent::examine(const std::vector<DiskFile> &files, qint64 size, const std::atomic<bool> &cancel, int cap,
                           qint64 memory)
{
    const std::size_t n = files.size();
    m_state.assign(n, State::Gone);
    m_class.assign(n, -1);

    // One slot per file on disk: two names of one file are read once.
    std::vector<FileSlot> onDisk;
    std::vector<int> slotOf(n, -1);
    QHash<FileId, int> known;
    for (std::size_t p = 0; p < n; ++p) {
        if (files[p].native.isEmpty())
            continue;
        auto it = known.constFind(files[p].id);
        if (it == known.constEnd()) {
            it = known.insert(files[p].id, int(onDisk.size()));
            FileSlot slot;
            slot.path = files[p].native;
            slot.id = files[p].id;
            onDisk.push_back(std::move(slot));
        }
        slotOf[p] = *it;
    }

    int classes = 0;
    try {
        Reader reader(onDisk, size, cap, memory, cancel);
        std::vector<int> all(onDisk.size());
        for (std::size_t i = 0; i < onDisk.size(); ++i) {
            all[i] = int(i);
            reader.check(int(i));
        }
        reader.classify(std::move(all), classes);
    } catch (const Cancelled &) {
        return false;
    }
    for (FileSlot &slot : onDisk) {
        if (slot.state == State::Loaded && slot.changed)
            slot.cls = classes++;
    }

    for (std::size_t p = 0; p < n; ++p) {
        if (slotOf[p] < 0)
            continue;
        const FileSlot &slot = onDisk[std::size_t(slotOf[p])];
        m_state[p] = slot.state;
        m_class[p] = slot.state == State::Loaded ? slot.cls : -1;
    }
    return true;
}

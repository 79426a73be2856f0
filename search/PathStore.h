// Every file a window's searches found, its path stored once in the bytes the system names it by.
#pragma once

#include "FileId.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <deque>
#include <memory>
#include <vector>

// A file as the walk found it: its real path in the bytes the system names it by, and which
// file it was on disk. A line that names no file the walk found (one this window never wrote)
// has no identity: FileId {}.
struct DiskFile
{
    QByteArray native;
    FileId id;

    [[nodiscard]] bool isKnown() const { return id.isKnown(); }
    [[nodiscard]] QString path() const;
};

// A million files are a million paths: each is kept once, as the walk met it, and every other
// form (the lower-cased line the lists show and the bucket files hold) is made from it when it
// is needed. The store only grows, and only on the window's thread.
class PathStore
{
public:
    using Id = quint32;

    // `file` is {} for a line that names no file the walk found.
    Id add(QByteArrayView native, FileId file);

    [[nodiscard]] QByteArrayView native(Id id) const
    {
        const Entry &e = m_entries[id];
        return {e.bytes, qsizetype(e.length)};
    }
    [[nodiscard]] FileId fileId(Id id) const { return m_entries[id].file; }
    [[nodiscard]] bool isKnown(Id id) const { return m_entries[id].file.isKnown(); }

    [[nodiscard]] QString path(Id id) const;
    [[nodiscard]] DiskFile file(Id id) const { return {native(id).toByteArray(), fileId(id)}; }
    // The path as the lists show it and the bucket files hold it: lower-cased.
    [[nodiscard]] QString lowered(Id id) const;
    [[nodiscard]] QByteArray loweredNative(Id id) const;
    [[nodiscard]] bool isLoweredNative(Id id, QByteArrayView text) const;

private:
    struct Entry
    {
        FileId file;
        const char *bytes;
        quint32 length;
    };
    // Paths are packed into blocks that never move: growing one array of them would copy, and
    // for a moment hold, every path twice.
    static constexpr std::size_t BlockSize = 1 << 20;

    std::deque<Entry> m_entries;
    std::vector<std::unique_ptr<char[]>> m_blocks;
    char *m_current = nullptr; // the block being filled
    std::size_t m_currentUsed = 0;
};

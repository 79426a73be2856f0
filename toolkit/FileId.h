// Which file on disk a name leads to: the device and inode that two names of one file share
// and two copies never do.
#pragma once

#include <QHashFunctions>
#include <QtGlobal>

#include <sys/stat.h>

struct FileId
{
    quint64 device = 0;
    quint64 inode = 0;

    bool operator==(const FileId &) const = default;
    // {} names no file: no file on disk has inode 0.
    [[nodiscard]] bool isKnown() const { return inode != 0; }

    [[nodiscard]] static FileId of(const struct stat &st) { return {quint64(st.st_dev), quint64(st.st_ino)}; }
};

inline size_t qHash(const FileId &id, size_t seed = 0)
{
    return qHashMulti(seed, id.device, id.inode);
}

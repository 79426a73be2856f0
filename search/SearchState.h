// What a window remembers of its searches: the lists the run builds and the commands read.
#pragma once

#include "EqualLines.h"
#include "FileSeeker.h"
#include "TextList.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

// A file as the seeker found it: its real path, and which file it was on disk, so that
// two names of one file are known without asking the disk again at every load.
struct DiskFile
{
    QString path;
    quint64 device = 0;
    quint64 inode = 0;

    [[nodiscard]] bool isSameFileAs(const DiskFile &other) const
    {
        return device == other.device && inode == other.inode;
    }
};

// The real file behind a proposed path and the kept file it was found equal to, each with
// the identity the search saw. The lists show lower-cased paths; every file operation goes
// through these, and acts only on the file the search saw.
struct DestinedPair
{
    DiskFile proposed;
    DiskFile kept;
};

struct SearchState
{
    // During gathering, every found file's lower-cased path; during comparison, one group.
    TextList PathList;
    // The file sizes, position by position with PathList during gathering.
    std::vector<qint64> SizeList;
    // The files on disk behind PathList, position by position: a lower-cased text is never
    // used to open a file, since on Linux it may name another file or none.
    std::vector<DiskFile> RealFiles;

    bool StopRequested = false;
    TextList DestinedFiles;
    std::vector<DestinedPair> DestinedPairs; // position by position with DestinedFiles

    // Every equal pair of every search of this window, newest on top; what the equal list shows.
    EqualLines Equal;
    int RunFirstGroup = 0; // the first group of Equal that the latest search made

    // The outer path of every equal pair of the latest search, in the order they were found,
    // repeats and all. Worked out from Equal: a group of m equal files has m(m-1) of them.
    [[nodiscard]] std::vector<QString> ReferenceFiles() const { return Equal.outerPaths(RunFirstGroup); }

    QString WorkFolder;
    std::unique_ptr<FileSeeker> ImageSeek;

    // For every bucket file (by size), the file behind each of its lines, in line order:
    // the program is the only writer of its bucket files, and they only ever grow.
    QHash<qint64, std::vector<DiskFile>> BucketFiles;

    // Loads made since the window opened; the benchmark reads it.
    quint64 LoadCount = 0;
};

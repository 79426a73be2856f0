// What a window remembers of its searches: the lists the run builds and the commands read.
#pragma once

#include "FileSeeker.h"
#include "TextList.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

// The real file behind a proposed path and the kept file it was found equal to. The lists
// show lower-cased paths; every file operation goes through these.
struct DestinedPair
{
    QString proposed;
    QString kept;
};

struct SearchState
{
    // During gathering, every found file's lower-cased path; during comparison, one group.
    TextList PathList;
    // The file sizes, position by position with PathList during gathering.
    std::vector<qint64> SizeList;
    // The files on disk behind PathList, position by position: a lower-cased text is never
    // used to open a file, since on Linux it may name another file or none.
    std::vector<QString> RealPaths;

    bool StopRequested = false;
    TextList DestinedFiles;
    std::vector<DestinedPair> DestinedPairs; // position by position with DestinedFiles
    TextList ReferenceFiles;

    QString WorkFolder;
    std::unique_ptr<FileSeeker> ImageSeek;

    // For every bucket file (by size) and every text in it, the real paths in the order
    // they were appended: the i-th line holding a text is the i-th path appended with it.
    QHash<qint64, QHash<QString, QStringList>> BucketPaths;

    // Loads made since the window opened; the benchmark reads it.
    quint64 LoadCount = 0;
};

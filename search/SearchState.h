// What a window remembers of its searches: the lists the run builds and the commands read.
#pragma once

#include "EqualLines.h"
#include "FileSeeker.h"
#include "PathLines.h"
#include "PathStore.h"

#include <QHash>
#include <QString>

#include <memory>
#include <vector>

// A set of equal files the latest search proposed copies of: every name of it the search
// met, in the seeker's order, and the one kept now, which the user may change.
struct CopySet
{
    std::vector<PathStore::Id> names;
    PathStore::Id kept;
    qint64 size = 0; // in bytes, as the search found each of them
};

// A proposed file and its set, as the search found them. The lists show lower-cased paths;
// every file operation goes through these, and acts only on the file the search saw.
struct DestinedPair
{
    PathStore::Id proposed;
    int set; // in CopySets
};

struct SearchState
{
    SearchState() = default;
    // The lists below point into Paths.
    SearchState(const SearchState &) = delete;
    SearchState &operator=(const SearchState &) = delete;

    // Every file any search of this window found, each stored once; the lists name them by
    // number. A lower-cased text is never used to open a file, since on Linux it may name
    // another file or none.
    PathStore Paths;

    // During gathering, every found file; during comparison, one group. Each item reads as
    // the file's lower-cased path.
    PathLines PathList{&Paths};
    // The file sizes, position by position with PathList during gathering.
    std::vector<qint64> SizeList;

    bool StopRequested = false;
    PathLines DestinedFiles{&Paths};
    std::vector<DestinedPair> DestinedPairs; // position by position with DestinedFiles
    std::vector<CopySet> CopySets;           // of the latest search

    // What the files list shows: the first file of every outer pass of every search, newest on top.
    PathLines Files{&Paths, PathLines::Order::NewestFirst};
    // Every equal pair of every search of this window, newest on top; what the equal list shows.
    EqualLines Equal{&Paths};
    int RunFirstGroup = 0; // the first group of Equal that the latest search made

    // The outer path of every equal pair of the latest search, in the order they were found,
    // repeats and all. Worked out from Equal: a group of m equal files has m(m-1) of them.
    // The program does not call it: the lists show the pairs themselves.
    [[nodiscard]] std::vector<QString> ReferenceFiles() const { return Equal.outerPaths(RunFirstGroup); }

    QString WorkFolder;
    std::unique_ptr<FileSeeker> ImageSeek;

    // For every bucket file (by size), the file behind each of its lines, in line order:
    // the program is the only writer of its bucket files, and they only ever grow.
    QHash<qint64, std::vector<PathStore::Id>> BucketFiles;

    // Loads made since the window opened; the benchmark reads it.
    quint64 LoadCount = 0;
};

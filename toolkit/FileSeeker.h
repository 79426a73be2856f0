// Walks a folder, and its sub-folders when asked, and reports every plain file it finds.
#pragma once

#include "FileId.h"

#include <QString>

#include <functional>

class FileSeeker
{
public:
    FileSeeker();
    ~FileSeeker();
    FileSeeker(const FileSeeker &) = delete;
    FileSeeker &operator=(const FileSeeker &) = delete;

    QString Folder;
    QString Pattern; // every name is taken, whatever it says: the program only ever sets "*.*"
    bool IncludeSubFolders = false;

    // Raised once per plain file, on the calling thread, before Search returns. `Path` is the
    // folder holding the file and ends with "/", so Path + FileName is its full path.
    std::function<void(const QString &FileName, const QString &Path)> FoundFile;

    // The file FoundFile is reporting, as the walk saw it from its folder: the disk is asked
    // about each entry once, and the handler need not ask again by path.
    struct Found
    {
        qint64 size = 0;
        FileId id;
    };
    [[nodiscard]] const Found &found() const { return m_found; }

    // Why an entry could not be taken: a folder that could not be opened (or was no longer the
    // folder listed), a name that is not valid UTF-8, or a path longer than the system allows.
    enum class Skip { CannotOpen, NameNotUtf8, PathTooLong };
    // Raised for an entry that could not be taken. The path is for the user; a folder's ends
    // with "/".
    std::function<void(const QString &path, bool isFolder, Skip why)> SkippedEntry;

    // Lets pending window events run; called whenever YieldEveryMs have passed since the last
    // call, also while the walk waits for a slow drive. What it throws ends the walk.
    std::function<void()> Yield;
    // 0 yields after every report, as a test that watches each one wants.
    qint64 YieldEveryMs = 5;
    // Asked after every yield: true ends the walk there, and what it found that was not yet
    // reported is dropped.
    std::function<bool()> Stopped;
    // Called on one of the walk's threads before it opens a sub-folder to list it, with the
    // folder's path: for a test that changes the tree under the walk.
    std::function<void(const QString &path)> Entering;

    // Only plain files are reported: symbolic links are neither reported nor followed,
    // FIFOs, sockets and devices are passed over, and pseudo file systems such as proc and
    // sysfs are not entered.
    //
    // The copy a person calls the original comes first, across the whole search: every file
    // with no hidden name on its way below the searched folder before any with one, then every
    // file outside a folder that marks a copy place ("Backup", "old", "Kopien", ...), then every
    // file whose name marks no copy ("photo copy.png", "report (1).pdf", "notes.txt~" do). Within
    // a rank, the walk's order: a folder's files, by their names without extension and then by
    // extension, so that "report.pdf" comes before "report (1).pdf"; then its sub-folders, by
    // name. Names are compared case-folded, so that "b.txt" comes before "C.txt", and byte by
    // byte where that leaves them equal. A tree always gives the same order.
    //
    // Folders that hold copies kept for recovery (trash folders, snapshots) and folders
    // holding a cache directory tag that names Samelyn (as ScratchTag does) are neither
    // entered nor reported: a copy there must never be the one kept while the live file
    // goes. A folder searched that lies inside one of them gives nothing either.
    //
    // The walk lists several folders at once on threads of its own, each holding a few folders
    // open, however deep the tree; it waits for a descriptor rather than leave anything out for
    // want of one. Search raises the reports on the calling thread once the walk is over, and
    // never waits for the walk: when Yield throws or Stopped says so, it lets go of the walk and
    // returns.
    void Search(int, int, int, int);

    struct Reports; // what the walk hands over

    // Whether the open file lies on one of the kernel's own file systems (proc, sysfs and the
    // like), which the walk never enters.
    [[nodiscard]] static bool isPseudoFileSystem(int fd);
    // Whether the open file lies on a share: NFS, SMB, a FUSE file system of no disk of its
    // own (sshfs and the like). Each call there waits for the network.
    [[nodiscard]] static bool isShare(int fd);

    // The cache directory tag that marks this program's scratch folders: a file of this
    // name and content keeps every search out of the folder holding it.
    static constexpr const char *ScratchTagName = "CACHEDIR.TAG";
    static constexpr const char *ScratchTag = "Signature: 8a477f597d28d172789f06886806bc55\n"
                                              "# This file is a cache directory tag created by Samelyn.\n"
                                              "# It holds scratch files of Samelyn, which never searches here.\n"
                                              "# For information about cache directory tags, see https://bford.info/cachedir/\n";

private:
    Found m_found;
};

// Walks a folder, and its sub-folders when asked, and reports every plain file it finds.
#pragma once

#include <QString>

#include <functional>

class FileSeeker
{
public:
    QString Folder;
    QString Pattern;
    bool IncludeSubFolders = false;

    // Raised once per plain file, on the calling thread, before Search returns. `Path` is the
    // folder holding the file and ends with "/", so Path + FileName is its full path.
    std::function<void(const QString &FileName, const QString &Path)> FoundFile;

    // The file FoundFile is reporting, as the walk saw it from its folder: the disk is asked
    // about each entry once, and the handler need not ask again by path.
    struct Found
    {
        qint64 size = 0;
        quint64 device = 0;
        quint64 inode = 0;
    };
    [[nodiscard]] const Found &found() const { return m_found; }

    // Raised for an entry that could not be taken: a name that is not valid text in the
    // system's encoding, or a folder that could not be opened. The path is for the user.
    std::function<void(const QString &path)> SkippedEntry;

    // Lets pending window events run; called about every 50 ms during a long walk. What it
    // throws ends the walk.
    std::function<void()> Yield;

    // Only plain files are reported: symbolic links are neither reported nor followed,
    // FIFOs, sockets and devices are passed over, and pseudo file systems such as proc and
    // sysfs are not entered. Names come in byte order, each folder's files before its
    // sub-folders, so a folder always gives the same order. The numbers carry no meaning here.
    void Search(int, int, int, int);

private:
    Found m_found;
};

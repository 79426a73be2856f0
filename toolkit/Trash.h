// The freedesktop.org trash, reached through descriptors only.
#pragma once

#include "FileDescriptor.h"
#include "FileId.h"

#include <QByteArray>
#include <QString>

// Where a file went in the trash, so that it can be put back.
struct TrashedFile
{
    FileDescriptor files; // the trash's "files" folder
    FileDescriptor info;  // its "info" folder
    QByteArray name;      // the file's name in both (".trashinfo" added in "info")
};

namespace Trash {

// The user's data folder, which holds the home trash: $XDG_DATA_HOME when it is absolute,
// else ~/.local/share; empty when no home is known.
[[nodiscard]] QByteArray dataHome();

// The mount point of the mount `mountId` in `mountInfo`, the text of /proc/self/mountinfo,
// with the kernel's escapes undone; empty when that mount is not in it.
[[nodiscard]] QByteArray mountPointOf(const QByteArray &mountInfo, quint64 mountId);

// Moves the entry `name` of the open folder `folder` into the trash of its mount, provided it
// is still the file `file`; `path` is its full path, kept in the trash's record of it.
// Nothing is ever overwritten, and nothing is deleted: when the trash cannot take the file, it
// stays where it is, and a ToolkitError gives the reason (of kind NotFound when the file is
// gone already).
[[nodiscard]] TrashedFile moveToTrash(int folder, const QByteArray &name, const QString &path, const FileId &file);

// Moves a trashed file back to `name` in `folder`, never over another file, and forgets its
// record. Returns whether it is back.
[[nodiscard]] bool putBack(const TrashedFile &trashed, int folder, const QByteArray &name);

} // namespace Trash

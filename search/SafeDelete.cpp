// The checks made just before a proposed file goes: files change after a search.
#include "SafeDelete.h"

#include "FileText.h"
#include "SearchState.h"
#include "SystemTools.h"
#include "ToolkitError.h"

#include <QFile>

#include <cerrno>
#include <sys/stat.h>

std::optional<QString> removeSurplusCopy(const DestinedPair &pair)
{
    struct stat proposed {};
    if (::lstat(QFile::encodeName(pair.proposed.path).constData(), &proposed) != 0) {
        if (errno == ENOENT)
            return std::nullopt;
        return QStringLiteral("cannot be checked: ") + ToolkitError::describeErrno(errno);
    }
    if (!S_ISREG(proposed.st_mode))
        return QStringLiteral("no longer a plain file");

    struct stat kept {};
    if (pair.kept.path.isEmpty() || ::lstat(QFile::encodeName(pair.kept.path).constData(), &kept) != 0)
        return QStringLiteral("kept copy is gone");
    if (!S_ISREG(kept.st_mode))
        return QStringLiteral("kept copy is no longer a plain file");
    if (kept.st_dev == proposed.st_dev && kept.st_ino == proposed.st_ino)
        return QStringLiteral("kept copy is the same file");

    try {
        const FileText keptText = FileText::load(pair.kept.path);
        const FileText proposedText = FileText::load(pair.proposed.path);
        if (keptText.isSameFileAs(proposedText))
            return QStringLiteral("kept copy is the same file");
        if (!keptText.equals(proposedText))
            return QStringLiteral("kept copy changed");
    } catch (const ToolkitError &error) {
        return QStringLiteral("cannot be compared: ") + error.message().section(QStringLiteral(": "), -1);
    }

    try {
        SystemTools::instance().DeleteFile(pair.proposed.path);
    } catch (const ToolkitError &error) {
        return error.message();
    }
    return std::nullopt;
}

// File-system and folder-chooser services.
#include "SystemTools.h"

#include "FileDescriptor.h"
#include "ToolkitError.h"
#include "Trash.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

QString ToolkitError::describeErrno(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
        return QStringLiteral("permission denied");
    case ENOENT:
        return QStringLiteral("no such file or folder");
    case EROFS:
        return QStringLiteral("read-only file system");
    case EBUSY:
        return QStringLiteral("busy");
    case EIO:
        return QStringLiteral("input/output error");
    default:
        return QString::fromLocal8Bit(std::strerror(error)).toLower();
    }
}

SystemTools &SystemTools::instance()
{
    static SystemTools tools;
    return tools;
}

QString SystemTools::BrowseForFolder(QWidget *owner, const QString &prompt, int, int)
{
    if (m_chooser)
        return m_chooser(owner, prompt);

    // Qt's own chooser rather than the desktop's: it is modal to our window everywhere and
    // behaves the same under every desktop.
    QFileDialog dialog(owner, prompt);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    dialog.setWindowModality(Qt::ApplicationModal);
    const QString start = QFileInfo(m_lastChosen).isDir() ? m_lastChosen : QDir::homePath();
    dialog.setDirectory(start);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    m_lastChosen = QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
    return m_lastChosen;
}

QString SystemTools::GetSpecialFolder(int code, int, int)
{
    if (code != 1003)
        throw ToolkitError(QStringLiteral("Unknown special folder %1").arg(code));
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    // Our scratch files name the user's files: nobody else may look into this folder.
    struct stat st {};
    if (folder.isEmpty() || ::lstat(QFile::encodeName(folder).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        throw ToolkitError(QStringLiteral("No private folder for temporary files: ") + folder);
    if (st.st_uid != ::geteuid() || (st.st_mode & 077) != 0)
        throw ToolkitError(QStringLiteral("The folder for temporary files is not private: ") + folder);
    return folder;
}

QString SystemTools::GetUniqueName()
{
    quint64 bits[2];
    QRandomGenerator::system()->fillRange(bits);
    return QStringLiteral("%1%2").arg(bits[0], 16, 16, QLatin1Char('0')).arg(bits[1], 16, 16, QLatin1Char('0'));
}

void SystemTools::DeleteFile(const QString &path)
{
    const FolderAndName at = openFolderOf(QFile::encodeName(path));
    struct stat st {};
    if (!at.folder.isValid() || ::fstatat(at.folder.get(), at.name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT)
            return;
        throw ToolkitError(QStringLiteral("could not be moved to the trash: ") + ToolkitError::describeErrno(errno));
    }
    try {
        [[maybe_unused]] const TrashedFile trashed = DeleteFile(at.folder.get(), at.name, path, FileId::of(st));
    } catch (const ToolkitError &error) {
        if (error.kind() != ToolkitError::Kind::NotFound)
            throw;
    }
}

TrashedFile SystemTools::DeleteFile(int folder, const QByteArray &name, const QString &path, const FileId &file)
{
    return Trash::moveToTrash(folder, name, path, file);
}

namespace {

// Empties the open folder: its files, and its sub-folders with theirs. Each entry is reached
// from its folder's descriptor, and a link is removed, never followed.
bool emptyFolder(int folder)
{
    bool emptied = true;
    const bool listed = forEachEntry(folder, [&](const dirent &entry) {
        if (::unlinkat(folder, entry.d_name, 0) == 0)
            return true;
        // A folder: emptied from its own descriptor, then removed.
        const FileDescriptor sub(::openat(folder, entry.d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        emptied = emptied && sub.isValid() && emptyFolder(sub.get())
            && ::unlinkat(folder, entry.d_name, AT_REMOVEDIR) == 0;
        return true;
    });
    return listed && emptied;
}

} // namespace

void SystemTools::DeleteFolder(const QString &path)
{
    // The folder itself is opened without following a link: given a link, nothing is emptied.
    const auto [parent, name] = openFolderOf(QFile::encodeName(path));
    const FileDescriptor folder = parent.isValid() && !name.isEmpty() && name != "." && name != ".."
        ? FileDescriptor(::openat(parent.get(), name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC))
        : FileDescriptor();
    if (!folder.isValid() || !emptyFolder(folder.get()) || ::unlinkat(parent.get(), name.constData(), AT_REMOVEDIR) != 0)
        throw ToolkitError(QStringLiteral("Could not delete the folder ") + path);
}

QStringList SystemTools::ListFiles(const QString &folder, int, int)
{
    if (folder.isEmpty())
        throw ToolkitError(QStringLiteral("Folder not found: ") + folder);
    const FileDescriptor fd(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    QStringList names;
    if (!fd.isValid() || !listPlainFiles(fd.get(), names))
        throw ToolkitError(QStringLiteral("Folder not found: ") + folder);
    QStringList paths;
    paths.reserve(names.size());
    for (const QString &name : std::as_const(names))
        paths.append(folder + QLatin1Char('/') + name);
    return paths;
}

// The window's private scratch folder: made when the window opens, removed when it closes.
#include "frmFinderMain.h"

#include "BucketIo.h"
#include "CommonTools.h"
#include "EventPump.h"
#include "FileDescriptor.h"
#include "FileSeeker.h"
#include "SystemTools.h"
#include "ToolkitError.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>

namespace {

// Marks the folder above every window's workspace, so that no search, whichever window or
// user runs it, compares or trashes another window's bucket files. In a workspace itself the
// tag would count as a bucket file.
void tagScratchFolder(const QString &folder)
{
    const FileDescriptor dir(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    FileDescriptor fd(dir.isValid() ? ::openat(dir.get(), FileSeeker::ScratchTagName,
                                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600)
                                    : -1);
    if (!fd.isValid() && dir.isValid() && errno == EEXIST)
        return; // another window, or an earlier run, tagged it
    if (fd.isValid() && writeAllAndClose(std::move(fd), QByteArray(FileSeeker::ScratchTag)) == 0)
        return;
    throw ToolkitError(QStringLiteral("Could not mark the folder for temporary files: ") + folder);
}

} // namespace

void frmFinderMain::Form_Load()
{
    SystemTools &system = SystemTools::instance();
    const QString base = system.GetSpecialFolder(1003, 0, 0);
    const QString program = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    const QString unique = system.GetUniqueName();
    m_state.WorkFolder = base + QLatin1Char('/') + program + QLatin1Char('/') + unique;

    // The folder named after the program is shared by every running instance; each
    // instance's own folder must be new, so that nobody can have prepared it for us.
    CommonTools &common = CommonTools::instance();
    common.CreateFolderPath(base + QLatin1Char('/') + program);
    tagScratchFolder(base + QLatin1Char('/') + program);
    common.CreatePrivateFolder(m_state.WorkFolder);
}

void frmFinderMain::Form_Unload()
{
    CommonTools &common = CommonTools::instance();
    const bool named = !m_state.WorkFolder.trimmed().isEmpty();
    const bool exists = common.FolderExists(m_state.WorkFolder);
    if (!named || !exists)
        return;
    const QString notice = common.ShowBusyMessage(QStringLiteral("Deleting temporary files..."), 0, 0, -1);
    EventPump::yield();
    // A bucket file being written ends first; nothing begins in the folder afterwards.
    BucketIo::settle(m_state.WorkFolder);
    try {
        SystemTools::instance().DeleteFolder(m_state.WorkFolder);
    } catch (...) {
        common.CloseBusyMessage(notice);
        throw;
    }
    common.CloseBusyMessage(notice);
}

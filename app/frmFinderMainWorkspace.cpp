// The window's private scratch folder: made when the window opens, removed when it closes.
#include "frmFinderMain.h"

#include "CommonTools.h"
#include "EventPump.h"
#include "SystemTools.h"

#include <QCoreApplication>
#include <QFileInfo>

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
    common.CreatePrivateFolder(m_state.WorkFolder);
}

void frmFinderMain::Form_Unload()
{
    m_unloaded = true;
    CommonTools &common = CommonTools::instance();
    const bool named = !m_state.WorkFolder.trimmed().isEmpty();
    const bool exists = common.FolderExists(m_state.WorkFolder);
    if (!named || !exists)
        return;
    const QString notice = common.ShowBusyMessage(QStringLiteral("Deleting temporary files..."), 0, 0, -1);
    EventPump::yield();
    try {
        SystemTools::instance().DeleteFolder(m_state.WorkFolder);
    } catch (...) {
        common.CloseBusyMessage(notice);
        throw;
    }
    common.CloseBusyMessage(notice);
}

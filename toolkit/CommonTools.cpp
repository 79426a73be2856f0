// Small services: folders, percentages, the busy notice, file names.
#include "CommonTools.h"

#include "ToolkitError.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

#include <cerrno>
#include <cmath>
#include <sys/stat.h>

CommonTools &CommonTools::instance()
{
    static CommonTools tools;
    return tools;
}

namespace {

// Creates one folder, owner-only; true when it was made, false when it was there already.
bool makeFolder(const QString &path)
{
    if (::mkdir(QFile::encodeName(path).constData(), 0700) == 0)
        return true;
    if (errno == EEXIST) {
        struct stat st {};
        if (::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode))
            return false;
    }
    throw ToolkitError(QStringLiteral("Could not create the folder ") + path + QStringLiteral(": ")
                       + ToolkitError::describeErrno(errno));
}

} // namespace

void CommonTools::CreateFolderPath(const QString &path)
{
    if (path.isEmpty() || !path.startsWith(QLatin1Char('/')))
        throw ToolkitError(QStringLiteral("Could not create the folder ") + path);
    for (qsizetype slash = path.indexOf(QLatin1Char('/'), 1); slash > 0; slash = path.indexOf(QLatin1Char('/'), slash + 1))
        makeFolder(path.left(slash));
    makeFolder(path);
}

void CommonTools::CreatePrivateFolder(const QString &path)
{
    if (!makeFolder(path))
        throw ToolkitError(QStringLiteral("The folder exists already: ") + path);
}

bool CommonTools::FolderExists(const QString &path) const
{
    struct stat st {};
    return !path.isEmpty() && ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

QString CommonTools::PercentText(double part, double whole) const
{
    if (!(whole > 0))
        return QStringLiteral("0%");
    return QString::number(std::llround(100.0 * part / whole)) + QLatin1Char('%');
}

QString CommonTools::ShowBusyMessage(const QString &text, int, int, int)
{
    auto *notice = new QLabel(text);
    notice->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    notice->setAttribute(Qt::WA_DeleteOnClose);
    notice->setFrameStyle(QFrame::Box | QFrame::Plain);
    notice->setMargin(16);
    notice->adjustSize();
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        notice->move(screen->availableGeometry().center() - notice->rect().center());
    notice->show();
    // Drawn now: the caller is about to keep the thread busy.
    notice->repaint();

    const QString handle = QStringLiteral("busy-%1").arg(m_nextNotice++);
    m_notices.insert(handle, notice);
    return handle;
}

void CommonTools::CloseBusyMessage(const QString &handle)
{
    if (QWidget *notice = m_notices.take(handle))
        notice->close();
}

QString CommonTools::FileNameOf(const QString &path, int) const
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

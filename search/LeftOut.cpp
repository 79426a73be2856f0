// The files and folders a run left out, in the order it met them.
#include "LeftOut.h"

#include "Messages.h"

namespace {
// Paths shown per section: a tree the run cannot read would otherwise fill the screen.
constexpr int Shown = 10;
} // namespace

void LeftOut::clear()
{
    *this = LeftOut();
}

void LeftOut::add(const QString &path, Why why, const QString &reason)
{
    if (m_seen.contains(path))
        return;
    m_seen.insert(path);
    switch (why) {
    case Why::Unreadable:
        m_unreadable.append(path);
        break;
    case Why::Folder:
        m_folders.append(path);
        break;
    case Why::FileByName:
        m_filesByName.append(path + QStringLiteral(" (") + reason + QLatin1Char(')'));
        break;
    case Why::FolderByName:
        m_foldersByName.append(path + QStringLiteral(" (") + reason + QLatin1Char(')'));
        break;
    }
}

QString LeftOut::sections() const
{
    QString text;
    // One section per reason: its heading counts the paths, at most Shown of which follow.
    const auto section = [&text](const QStringList &paths, const QString &one, const QString &many) {
        if (paths.isEmpty())
            return;
        text += QStringLiteral("\n\n") + (paths.size() == 1 ? one : many.arg(paths.size())) + QLatin1Char(':');
        for (const QString &path : paths.mid(0, Shown))
            text += QLatin1Char('\n') + Messages::shownPath(path);
        if (paths.size() > Shown)
            text += QStringLiteral("\n...");
    };
    section(m_unreadable, QStringLiteral("1 file could not be read and was left out"),
            QStringLiteral("%1 files could not be read and were left out"));
    section(m_filesByName, QStringLiteral("1 file was left out because of its name or path"),
            QStringLiteral("%1 files were left out because of their names or paths"));
    section(m_folders, QStringLiteral("1 folder could not be opened"), QStringLiteral("%1 folders could not be opened"));
    section(m_foldersByName, QStringLiteral("1 folder was left out because of its name or path"),
            QStringLiteral("%1 folders were left out because of their names or paths"));
    return text;
}

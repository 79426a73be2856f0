// What a run left out, and why: told in sections at the end of the final message.
#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

class LeftOut
{
public:
    // Told apart by why: the file could not be read, the folder could not be opened, or
    // (ByName) the run cannot take its name or path, for a reason given with it.
    enum class Why { Unreadable, Folder, FileByName, FolderByName };

    void clear();
    // A path is told once, whatever happens to it again.
    void add(const QString &path, Why why, const QString &reason = {});
    // The sections for the final message, each with a blank line before it; empty when
    // nothing was left out.
    [[nodiscard]] QString sections() const;

private:
    QStringList m_unreadable, m_folders, m_filesByName, m_foldersByName;
    QSet<QString> m_seen;
};

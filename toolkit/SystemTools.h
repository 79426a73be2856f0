// File-system and folder-chooser services the window uses; one instance for the process.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

class SystemTools
{
public:
    [[nodiscard]] static SystemTools &instance();

    // A modal folder chooser with `prompt` as its title. Returns the chosen folder, or the
    // empty text when the user cancels. The numbers are accepted and carry no meaning here.
    QString BrowseForFolder(QWidget *owner, const QString &prompt, int flags, int rootKind);

    // Code 1003 is a folder for temporary files that only this user can enter: the user's
    // runtime folder. Other codes are an error.
    [[nodiscard]] QString GetSpecialFolder(int code, int, int);

    // 128 random bits in hex: usable as one folder name and not to be guessed in advance.
    [[nodiscard]] QString GetUniqueName();

    // Moves the file to the user's trash, so that a mistake can be undone; where the trash
    // cannot take it, deletes it for good. A file already gone is done. Throws ToolkitError
    // with the reason when the file stays.
    void DeleteFile(const QString &path);

    // Removes the folder and everything in it without following a link out of it.
    void DeleteFolder(const QString &path);

    // Full paths of the plain files of `folder`, sorted by name. A missing or empty folder
    // text is an error, never the current folder.
    [[nodiscard]] QStringList ListFiles(const QString &folder, int, int);

    // Stands in for the folder chooser in tests.
    using FolderChooser = std::function<QString(QWidget *owner, const QString &prompt)>;
    void setFolderChooser(FolderChooser chooser) { m_chooser = std::move(chooser); }

private:
    SystemTools() = default;
    FolderChooser m_chooser;
    QString m_lastChosen;
};

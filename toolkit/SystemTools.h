// File-system and folder-chooser services the window uses; one instance for the process.
#pragma once

#include "FileId.h"

#include <QString>
#include <QStringList>

#include <functional>

class QWidget;
struct TrashedFile;

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

    // Moves the file to the trash of its drive, so that a mistake can be undone; no link in
    // its path is followed. Nothing is deleted for good: where no trash can take the file, it
    // stays, and a ToolkitError gives the reason. A file already gone is done. The program
    // does not call it: it deletes through the form below.
    void DeleteFile(const QString &path);
    // The same for the entry `name` of an open folder, which must still be the file `file`;
    // `path` is its full path for the trash's record. Tells where the file went, so that it
    // can be put back; a file already gone throws, of kind NotFound.
    [[nodiscard]] TrashedFile DeleteFile(int folder, const QByteArray &name, const QString &path, const FileId &file);

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

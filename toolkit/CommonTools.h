// Small services the window and the search run use; one instance for the process.
#pragma once

#include <QHash>
#include <QString>

class QWidget;

class CommonTools
{
public:
    [[nodiscard]] static CommonTools &instance();

    // Creates the folder and its missing parents, each private to the user.
    void CreateFolderPath(const QString &path);
    // Creates the folder, which must not exist yet, private to the user.
    void CreatePrivateFolder(const QString &path);
    [[nodiscard]] bool FolderExists(const QString &path) const;

    // "33%": part as a whole-number percentage of whole; a whole of 0 or less gives "0%".
    [[nodiscard]] QString PercentText(double part, double whole) const;

    // A small frameless notice, drawn before this returns. The handle names it for closing.
    QString ShowBusyMessage(const QString &text, int, int, int);
    void CloseBusyMessage(const QString &handle);

    // The last component of the path, for display.
    [[nodiscard]] QString FileNameOf(const QString &path, int) const;

private:
    CommonTools() = default;
    QHash<QString, QWidget *> m_notices;
    int m_nextNotice = 1;
};

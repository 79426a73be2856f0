// What the command line asks for, read before any window exists.
#pragma once

#include <QString>
#include <QStringList>

struct CommandLine
{
    // The folder to put in the window, absolute, or empty.
    QString folder;
    // Qt's own -platform and -display, which decide where the window would appear.
    QString platform;
    QString display;
    // Help, version and mistakes are answered on the terminal; the program then ends with
    // this status instead of opening its window.
    bool done = false;
    int exitCode = 0;

    // `arguments` as the program got them, the program's name first; a relative folder is
    // taken from `currentFolder`. Prints help, version and errors itself.
    static CommandLine parse(const QStringList &arguments, const QString &currentFolder);
};

// KILL's work without the window: every proposed file that is still a surplus copy goes to
// the trash, and one report tells what became of each.
#pragma once

#include "PathLines.h"
#include "SearchState.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

struct KillReport
{
    int trashed = 0;
    qint64 trashedBytes = 0;
    int gone = 0; // already gone before their turn
    // What stayed, in the list's order, so that the next press tries exactly those again.
    PathLines stayedFiles;
    std::vector<DestinedPair> stayedPairs;
    // One line for each file that stayed: its path as a message shows it, and why.
    QStringList stayedLines;

    // The text of the box that ends KILL.
    [[nodiscard]] QString message() const;
};

// Goes through the state's proposed files in order, each only if it is still a surplus copy
// of the copy its set keeps now (removeSurplusCopy). `status` is told which file is being
// moved, and how far KILL is, 0 to 100;
// `breathe` is called between files and during long comparisons.
[[nodiscard]] KillReport removeSurplusCopies(const SearchState &state,
                                             const std::function<void(const QString &, int)> &status,
                                             const std::function<void()> &breathe);

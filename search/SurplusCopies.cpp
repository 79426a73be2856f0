// KILL's loop over the proposed files, and the counts and lines of what it did.
#include "SurplusCopies.h"

#include "Messages.h"
#include "SafeDelete.h"

#include <cmath>

namespace {

// A box names no more than this many files that stayed; the list shows them all.
constexpr int StayedShown = 5;

} // namespace

using Messages::files;

QString KillReport::message() const
{
    QString text = QStringLiteral("Okay!");
    if (trashed || gone || !stayedLines.isEmpty())
        text += QLatin1Char('\n');
    if (trashed)
        text += QStringLiteral("\n%1 moved to the trash (%2).").arg(files(trashed), Messages::dataSize(trashedBytes));
    if (gone)
        text += QStringLiteral("\n%1 already gone.").arg(files(gone));
    if (!stayedLines.isEmpty()) {
        text += QStringLiteral("\n%1 stayed:").arg(files(int(stayedLines.size())));
        for (const QString &line : stayedLines.mid(0, StayedShown))
            text += QLatin1Char('\n') + line;
        if (stayedLines.size() > StayedShown)
            text += QStringLiteral("\n...");
    }
    return text;
}

KillReport removeSurplusCopies(const SearchState &state, const std::function<void(const QString &, int)> &status,
                               const std::function<void()> &breathe)
{
    // Copies: the window's handlers run inside `breathe`, and the lists are the window's.
    const PathLines destined = state.DestinedFiles;
    const std::vector<DestinedPair> pairs = state.DestinedPairs;
    const int n = destined.count();
    KillReport report;
    report.stayedFiles = PathLines(&state.Paths);
    for (int i = 1; i <= n; ++i) {
        status(QStringLiteral("Moving file %1 of %2 to the trash...").arg(i).arg(n), int(std::llround(100.0 * i / n)));
        breathe();
        // Each file goes only if the copy that stays (the search's choice or the user's) is
        // still there and still the same: a search may be long past, and the files may have
        // changed since.
        const DestinedPair &pair = pairs.at(std::size_t(i - 1));
        const DiskFile proposed = state.Paths.file(pair.proposed);
        const PathStore::Id kept = state.CopySets.at(std::size_t(pair.set)).kept;
        const DeleteResult result = removeSurplusCopy(proposed, state.Paths.file(kept), breathe);
        if (result.outcome == DeleteOutcome::Trashed) {
            ++report.trashed;
            report.trashedBytes += result.size;
        } else if (result.outcome == DeleteOutcome::AlreadyGone) {
            ++report.gone;
        } else {
            report.stayedFiles.append(destined.idAt(i));
            report.stayedPairs.push_back(pair);
            report.stayedLines.append(Messages::shownPath(proposed.path()) + QStringLiteral(" (") + result.reason
                                      + QLatin1Char(')'));
        }
    }
    return report;
}

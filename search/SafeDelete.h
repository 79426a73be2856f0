// Deleting a proposed file only while it is still a surplus copy of the file that is kept.
#pragma once

#include <QString>

#include <functional>

struct DiskFile;

enum class DeleteOutcome { Trashed, AlreadyGone, Stayed };

struct DeleteResult
{
    DeleteOutcome outcome = DeleteOutcome::Stayed;
    QString reason; // why the file stayed
    qint64 size = 0; // of a file moved, as it was moved
};

// Moves `proposed` to the trash when it is still the file the search saw and belongs to the
// user who runs the program, `kept` is still there, is another file, and both still hold the
// same bytes; no link is followed to reach either. `breathe` is called often during long
// work, to let the window live.
[[nodiscard]] DeleteResult removeSurplusCopy(const DiskFile &proposed, const DiskFile &kept,
                                             const std::function<void()> &breathe);

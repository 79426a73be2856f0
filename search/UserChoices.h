// What the user changes of a search's proposals from the obsolete list: a file not to move,
// or another copy to keep.
#pragma once

#include "PathStore.h"

#include <QByteArrayView>

#include <optional>

struct SearchState;

// Positions count from 1 in the state's DestinedFiles. Every choice changes only the proposals
// and which copy of a set is kept, never leaves a set without a kept copy, and never leaves a
// name of a kept file proposed; the next search proposes afresh.
namespace UserChoices {

// Where the proposal of `file` stands now; 0 when it is not proposed (any more).
[[nodiscard]] int positionOf(const SearchState &state, PathStore::Id file);

// The copy now kept of the set the proposal at `position` belongs to; none when that copy is
// another name of the proposed file, which then cannot be kept instead.
[[nodiscard]] std::optional<PathStore::Id> keptInsteadOf(const SearchState &state, int position);

// The proposal at `position` leaves the list, with every other name of its file.
void doNotMove(SearchState &state, int position);

// The file at `position` becomes the kept copy of its set: its names leave the list, and the
// copy kept before takes its place there, with the other names of it that the search met.
void keepInstead(SearchState &state, int position);

// For every set with a proposed copy in `folder` or below it, the first such copy in the
// seeker's order is kept instead, as keepInstead does; a set whose kept copy lies there
// already stays as it is. Gives how many sets changed.
int keepCopiesIn(SearchState &state, QByteArrayView folder);

// The size of every proposed file, as the search found them.
[[nodiscard]] qint64 destinedBytes(const SearchState &state);

} // namespace UserChoices

// Deleting a proposed file only while it is still a surplus copy of the file that is kept.
#pragma once

#include <QString>

#include <optional>

struct DestinedPair;

// Moves `pair.proposed` to the trash when it still exists, the kept file still exists, is
// another file, and both still hold the same bytes. Gives the reason when the file stays;
// a proposed file that is gone already counts as done.
[[nodiscard]] std::optional<QString> removeSurplusCopy(const DestinedPair &pair);

// The obsolete list's choices, worked on the proposals and the sets they come from.
#include "UserChoices.h"

#include "SearchState.h"

#include <QHash>
#include <QSet>

#include <algorithm>

namespace {

// Makes each chosen file the kept copy of its set, in one pass over the list however many sets
// change: a folder's choice may change half a million of them.
void changeKept(SearchState &state, const QHash<int, PathStore::Id> &chosen)
{
    if (chosen.isEmpty())
        return;
    const PathStore &paths = state.Paths;
    std::vector<DestinedPair> pairs;
    pairs.reserve(state.DestinedPairs.size() + std::size_t(chosen.size()));
    for (const DestinedPair &pair : state.DestinedPairs) {
        const auto choice = chosen.constFind(pair.set);
        if (choice == chosen.constEnd()) {
            pairs.push_back(pair);
            continue;
        }
        if (paths.fileId(pair.proposed) != paths.fileId(*choice))
            pairs.push_back(pair);
        if (pair.proposed != *choice)
            continue;
        // Moving one name of a file frees nothing while another stays: all of them go.
        const CopySet &set = state.CopySets[std::size_t(pair.set)];
        QSet<QByteArrayView> named{paths.native(set.kept)};
        pairs.push_back({set.kept, pair.set});
        for (const PathStore::Id name : set.names) {
            if (paths.fileId(name) == paths.fileId(set.kept) && !named.contains(paths.native(name))) {
                named.insert(paths.native(name));
                pairs.push_back({name, pair.set});
            }
        }
    }
    for (auto choice = chosen.cbegin(); choice != chosen.cend(); ++choice)
        state.CopySets[std::size_t(choice.key())].kept = choice.value();
    std::vector<PathStore::Id> ids;
    ids.reserve(pairs.size());
    for (const DestinedPair &pair : pairs)
        ids.push_back(pair.proposed);
    state.DestinedFiles.assign(std::move(ids));
    state.DestinedPairs = std::move(pairs);
}

} // namespace

namespace UserChoices {

int positionOf(const SearchState &state, PathStore::Id file)
{
    const std::vector<PathStore::Id> &ids = state.DestinedFiles.ids();
    const auto at = std::find(ids.begin(), ids.end(), file);
    return at == ids.end() ? 0 : int(at - ids.begin()) + 1;
}

std::optional<PathStore::Id> keptInsteadOf(const SearchState &state, int position)
{
    const DestinedPair &pair = state.DestinedPairs.at(std::size_t(position - 1));
    const PathStore::Id kept = state.CopySets.at(std::size_t(pair.set)).kept;
    if (state.Paths.fileId(kept) == state.Paths.fileId(pair.proposed))
        return std::nullopt;
    return kept;
}

void doNotMove(SearchState &state, int position)
{
    const FileId file = state.Paths.fileId(state.DestinedPairs.at(std::size_t(position - 1)).proposed);
    std::vector<DestinedPair> pairs;
    std::vector<PathStore::Id> ids;
    for (const DestinedPair &pair : state.DestinedPairs) {
        if (state.Paths.fileId(pair.proposed) != file) {
            pairs.push_back(pair);
            ids.push_back(pair.proposed);
        }
    }
    state.DestinedFiles.assign(std::move(ids));
    state.DestinedPairs = std::move(pairs);
}

void keepInstead(SearchState &state, int position)
{
    if (!keptInsteadOf(state, position))
        return;
    const DestinedPair &pair = state.DestinedPairs.at(std::size_t(position - 1));
    changeKept(state, {{pair.set, pair.proposed}});
}

int keepCopiesIn(SearchState &state, QByteArrayView folder)
{
    const QByteArray below = folder.toByteArray() + '/';
    const auto inFolder = [&](PathStore::Id id) { return state.Paths.native(id).startsWith(below); };
    QSet<PathStore::Id> proposed;
    for (const DestinedPair &pair : state.DestinedPairs)
        proposed.insert(pair.proposed);
    QHash<int, PathStore::Id> chosen;
    for (std::size_t s = 0; s < state.CopySets.size(); ++s) {
        const CopySet &set = state.CopySets[s];
        if (inFolder(set.kept))
            continue;
        for (const PathStore::Id name : set.names) {
            if (proposed.contains(name) && inFolder(name) && state.Paths.fileId(name) != state.Paths.fileId(set.kept)) {
                chosen.insert(int(s), name);
                break;
            }
        }
    }
    changeKept(state, chosen);
    return int(chosen.size());
}

qint64 destinedBytes(const SearchState &state)
{
    qint64 bytes = 0;
    for (const DestinedPair &pair : state.DestinedPairs)
        bytes += state.CopySets.at(std::size_t(pair.set)).size;
    return bytes;
}

} // namespace UserChoices

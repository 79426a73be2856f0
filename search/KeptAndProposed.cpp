// Numbering a group's identities and names, and carrying what is kept and proposed across groups.
#include "KeptAndProposed.h"

#include <QHash>

void KeptAndProposed::clear()
{
    m_keptIds.clear();
    m_proposedNames.clear();
}

void KeptAndProposed::beginGroup(const PathStore &store, const std::vector<PathStore::Id> &group,
                                 const std::function<void()> &breathe)
{
    const std::size_t n = group.size();
    m_idOf.resize(n);
    m_nameOf.resize(n);
    m_idKeys.clear();
    m_nameKeys.clear();
    QHash<FileId, int> identities;
    // A folder searched twice stands twice in its group, under one name.
    QHash<QByteArrayView, int> names;
    for (std::size_t p = 0; p < n; ++p) {
        if ((p & 4095) == 4095)
            breathe();
        const PathStore::Id id = group[p];
        const QByteArrayView name = store.native(id);
        auto known = names.constFind(name);
        if (known == names.constEnd()) {
            known = names.insert(name, int(m_nameKeys.size()));
            m_nameKeys.push_back(name.toByteArray());
        }
        m_nameOf[p] = *known;
        if (!store.isKnown(id)) {
            m_idOf[p] = int(n + p);
            continue;
        }
        auto same = identities.constFind(store.fileId(id));
        if (same == identities.constEnd()) {
            same = identities.insert(store.fileId(id), int(m_idKeys.size()));
            m_idKeys.push_back(store.fileId(id));
        }
        m_idOf[p] = *same;
    }

    m_keptId.assign(2 * n, 0);
    for (std::size_t i = 0; i < m_idKeys.size(); ++i)
        m_keptId[i] = m_keptIds.contains(m_idKeys[i]);
    m_proposedName.assign(m_nameKeys.size(), 0);
    for (std::size_t t = 0; t < m_nameKeys.size(); ++t) {
        if ((t & 4095) == 4095)
            breathe();
        m_proposedName[t] = m_proposedNames.contains(m_nameKeys[t]);
    }
}

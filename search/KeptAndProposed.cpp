// Numbering a group's texts and identities, and carrying what is kept and proposed across groups.
#include "KeptAndProposed.h"

#include <QHash>

void KeptAndProposed::clear()
{
    m_keptTexts.clear();
    m_proposedTexts.clear();
    m_keptIds.clear();
    m_proposedIds.clear();
}

void KeptAndProposed::beginGroup(const PathStore &store, const std::vector<PathStore::Id> &group)
{
    const std::size_t n = group.size();
    m_textOf.resize(n);
    m_idOf.resize(n);
    m_textKeys.clear();
    m_idKeys.clear();
    QHash<QByteArray, int> texts;
    QHash<FileId, int> identities;
    for (std::size_t p = 0; p < n; ++p) {
        const PathStore::Id id = group[p];
        QByteArray text = store.loweredNative(id);
        auto known = texts.constFind(text);
        if (known == texts.constEnd()) {
            known = texts.insert(text, int(m_textKeys.size()));
            m_textKeys.push_back(std::move(text));
        }
        m_textOf[p] = *known;
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

    m_keptText.assign(m_textKeys.size(), 0);
    m_proposedText.assign(m_textKeys.size(), 0);
    for (std::size_t t = 0; t < m_textKeys.size(); ++t) {
        m_keptText[t] = m_keptTexts.contains(m_textKeys[t]);
        m_proposedText[t] = m_proposedTexts.contains(m_textKeys[t]);
    }
    m_keptId.assign(2 * n, 0);
    m_proposedId.assign(2 * n, 0);
    for (std::size_t i = 0; i < m_idKeys.size(); ++i) {
        m_keptId[i] = m_keptIds.contains(m_idKeys[i]);
        m_proposedId[i] = m_proposedIds.contains(m_idKeys[i]);
    }
}

void KeptAndProposed::remember(QSet<QByteArray> &texts, QSet<FileId> &ids, std::size_t text, std::size_t id) const
{
    texts.insert(m_textKeys[text]);
    if (id < m_idKeys.size())
        ids.insert(m_idKeys[id]);
}

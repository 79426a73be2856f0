// An ordered list of texts with a membership index.
#include "TextList.h"

void TextList::append(const QString &text)
{
    m_items.push_back(text);
    ++m_counts[text];
}

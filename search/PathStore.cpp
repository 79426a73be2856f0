// Packing paths into blocks, and the lower-cased forms made from them.
#include "PathStore.h"

#include <QFile>

#include <algorithm>
#include <cstring>

namespace {

bool isAscii(QByteArrayView bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return (static_cast<unsigned char>(c) & 0x80) == 0; });
}

} // namespace

PathStore::Id PathStore::add(QByteArrayView native, FileId file)
{
    const std::size_t length = std::size_t(native.size());
    char *place = nullptr;
    if (length > BlockSize / 4) {
        // A rare long path gets a block of its own rather than wasting the rest of one.
        m_blocks.push_back(std::make_unique<char[]>(length));
        place = m_blocks.back().get();
    } else {
        if (!m_current || m_currentUsed + length > BlockSize) {
            m_blocks.push_back(std::make_unique<char[]>(BlockSize));
            m_current = m_blocks.back().get();
            m_currentUsed = 0;
        }
        place = m_current + m_currentUsed;
        m_currentUsed += length;
    }
    std::memcpy(place, native.data(), length);
    m_entries.push_back({file, place, quint32(length)});
    return Id(m_entries.size() - 1);
}

QString DiskFile::path() const
{
    return QFile::decodeName(native);
}

QString PathStore::path(Id id) const
{
    return QFile::decodeName(native(id).toByteArray());
}

QString PathStore::lowered(Id id) const
{
    const QByteArrayView bytes = native(id);
    if (isAscii(bytes))
        return QString::fromLatin1(bytes).toLower();
    return path(id).toLower();
}

QByteArray PathStore::loweredNative(Id id) const
{
    const QByteArrayView bytes = native(id);
    if (isAscii(bytes))
        return bytes.toByteArray().toLower();
    return QFile::encodeName(path(id).toLower());
}

bool PathStore::isLoweredNative(Id id, QByteArrayView text) const
{
    const QByteArrayView bytes = native(id);
    if (!isAscii(bytes))
        return loweredNative(id) == text;
    // Without making the lower-cased copy: a bucket of thousands of lines is checked this way.
    if (bytes.size() != text.size())
        return false;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if ((c >= 'A' && c <= 'Z' ? char(c + 32) : c) != text[i])
            return false;
    }
    return true;
}

// The content of one loaded file, compared byte for byte with another.
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <sys/types.h>

class FileText
{
public:
    // Files up to this size are read whole; larger ones are held open and compared in chunks,
    // so that memory stays bounded whatever the size of the files on disk.
    static constexpr qint64 WholeLimit = 4 * 1024 * 1024;

    FileText() = default;

    // Opens exactly the named file (never through a symbolic link) and loads it. Throws
    // ToolkitError of kind NotFound when it is gone and Unreadable when it cannot be read.
    // Given the size the file had when it was found, a small file is loaded without asking
    // the disk for its size and identity first: a search loads every file many times, and
    // that question is a quarter of the cost of a load. isSameFileAs then knows nothing.
    [[nodiscard]] static FileText load(const QString &path, std::optional<qint64> expectedSize = {});

    [[nodiscard]] qint64 size() const { return m_size; }
    [[nodiscard]] bool isHeldOpen() const { return bool(m_handle); }

    // True when both name one file on disk (a hard link, a folder reached twice); false when
    // either was loaded without asking for its identity.
    [[nodiscard]] bool isSameFileAs(const FileText &other) const;

    // Equal exactly when every byte is equal. A held file that has changed size since it was
    // loaded, or cannot be read any more, is unequal to everything. `whileReading` is called
    // now and then during a long chunked comparison so the window can be drawn.
    [[nodiscard]] bool equals(const FileText &other, const std::function<void()> &whileReading = {}) const;

private:
    struct Handle;
    QByteArray m_bytes;
    std::shared_ptr<Handle> m_handle;
    qint64 m_size = 0;
    bool m_grown = false;
    dev_t m_device = 0;
    ino_t m_inode = 0;
};

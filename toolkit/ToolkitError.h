// The one error type the toolkit raises; the window's guard turns it into a message.
#pragma once

#include <QString>

#include <stdexcept>

class ToolkitError : public std::runtime_error
{
public:
    // A file that is gone already is told apart from other trouble: a delete of it is done,
    // not failed.
    enum class Kind { General, NotFound };

    explicit ToolkitError(const QString &message, Kind kind = Kind::General)
        : std::runtime_error(message.toStdString()), m_kind(kind) {}

    [[nodiscard]] Kind kind() const { return m_kind; }
    [[nodiscard]] QString message() const { return QString::fromStdString(what()); }

    // The text of errno in the program's words, for messages that name a file.
    static QString describeErrno(int error);

private:
    Kind m_kind;
};

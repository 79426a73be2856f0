// Every message box of the program goes through here, so that tests can answer them.
#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace Messages {

// Modal, the text alone, OK only, no icon, the program's title.
void show(QWidget *owner, const QString &text);

// Replaces the box, for tests and the benchmark; an empty function brings the box back.
using Handler = std::function<void(QWidget *owner, const QString &text)>;
void setHandler(Handler handler);

inline constexpr const char *Title = "Samelyn";

// A path or line as the window shows it: a line break, a control character or one that
// reorders or hides text is written out as \n, \r, \t or \uXXXX, so that no name passes
// for two or for another. A backslash stays as it is. Only for showing: what is matched,
// stored and copied is the text itself.
[[nodiscard]] QString shownPath(QString path);
// A path in a menu's item: as a message shows it, and past 60 characters cut in the middle,
// where two copies' paths differ least.
[[nodiscard]] QString shortPath(QString path);

// "1 file", "928 files".
[[nodiscard]] QString files(qint64 count);
// A size as the desktop's file manager gives it: "6.4 GB".
[[nodiscard]] QString dataSize(qint64 bytes);

} // namespace Messages

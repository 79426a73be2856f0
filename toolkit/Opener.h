// Handing a file to the desktop: its default application, or the file manager showing it.
// Every opening goes through here, so that tests can answer it.
#pragma once

#include <QString>

#include <functional>

namespace Opener {

enum class Target { File, ContainingFolder };

// Opens the file with the desktop's default application, or shows its folder with the file
// selected (the folder alone where the file manager cannot select). Nothing is started
// through a shell. `failed` is called when the desktop could not be asked: at once, or for
// the folder once the file manager has answered that it cannot, which the window does not
// wait for.
void open(Target target, const QString &path, const std::function<void()> &failed);

// Replaces the desktop, for tests; an empty function brings it back.
using Handler = std::function<bool(Target target, const QString &path)>;
void setHandler(Handler handler);

} // namespace Opener

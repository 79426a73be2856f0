// Whether the window could appear anywhere, asked before Qt is, because Qt aborts if not.
#pragma once

#include <QString>

namespace DisplayCheck {

// Why no window can be opened, in a few words, or an empty text if one can. `platform` and
// `display` are Qt's -platform and -display options, empty when not given.
QString whyNot(const QString &platform, const QString &display);

} // namespace DisplayCheck

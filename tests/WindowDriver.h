// Helpers for tests that drive the real window: find its controls, read its lists, act at
// a chosen yield of a search.
#pragma once

#include "EventPump.h"
#include "LineListBox.h"
#include "frmFinderMain.h"

#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QTest>

#include <functional>

// Acts after every yield while it lives; declare it after the window, so that it is gone
// before the window's own yield as it closes.
struct ScopedHook
{
    explicit ScopedHook(std::function<void()> hook) { EventPump::setHook(std::move(hook)); }
    ~ScopedHook() { EventPump::setHook({}); }
    ScopedHook(const ScopedHook &) = delete;
    ScopedHook &operator=(const ScopedHook &) = delete;
};

template <typename T>
T *control(const frmFinderMain &window, const char *name)
{
    auto *found = window.findChild<T *>(QString::fromLatin1(name));
    if (!found)
        qFatal("no control %s", name);
    return found;
}

inline void click(frmFinderMain &window, const char *button)
{
    QTest::mouseClick(control<QPushButton>(window, button), Qt::LeftButton);
}

// Types `folder`, ticks the sub-folders box if asked, and starts the search.
inline void startSearch(frmFinderMain &window, const QString &folder, bool subFolders = false)
{
    QTest::keyClicks(control<QLineEdit>(window, "txtPath"), folder);
    if (subFolders)
        QTest::keyClick(control<QCheckBox>(window, "chkSubDirs"), Qt::Key_Space);
    click(window, "cmdStart");
}

// The lines of a list box, top to bottom.
inline QStringList lines(const frmFinderMain &window, const char *list)
{
    const auto *box = control<LineListBox>(window, list);
    QStringList result;
    for (int row = 0; row < box->count(); ++row)
        result << box->line(row);
    return result;
}

inline QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

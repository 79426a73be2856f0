// Lets something that changes thousands of times a second be shown (drawn, or handed to a
// label or a screen reader) at most every 16 ms, while what it holds is always current.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

class RepaintPacer
{
public:
    // `refresh` brings what is shown up to date, for instance by calling update().
    RepaintPacer(QObject *context, std::function<void()> refresh) : m_refresh(std::move(refresh))
    {
        m_later.setSingleShot(true);
        QObject::connect(&m_later, &QTimer::timeout, context, [this] { flush(); });
    }

    // Call on every change. While a refresh is already due, this costs no look at the clock.
    void changed()
    {
        if (m_later.isActive())
            return;
        if (!m_last.isValid() || m_last.elapsed() >= Interval)
            flush();
        else
            m_later.start(int(Interval - m_last.elapsed()));
    }

    // Refreshes now, as before a modal box or at the end of a search.
    void flush()
    {
        m_later.stop();
        m_last.start();
        m_refresh();
    }

private:
    static constexpr qint64 Interval = 16;
    std::function<void()> m_refresh;
    QTimer m_later;
    QElapsedTimer m_last;
};

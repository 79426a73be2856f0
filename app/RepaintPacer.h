// Lets something that changes thousands of times a second be shown (drawn, or handed to a
// label or a screen reader) at most once an interval, 16 ms unless given, while what it holds
// is always current.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

class RepaintPacer
{
public:
    // `refresh` brings what is shown up to date, for instance by calling update().
    RepaintPacer(QObject *context, std::function<void()> refresh, qint64 intervalMs = 16)
        : m_refresh(std::move(refresh)), m_interval(intervalMs)
    {
        m_later.setSingleShot(true);
        QObject::connect(&m_later, &QTimer::timeout, context, [this] { flush(); });
    }

    // Call on every change. While a refresh is already due, this costs no look at the clock.
    void changed()
    {
        if (m_later.isActive())
            return;
        if (!m_last.isValid() || m_last.elapsed() >= m_interval)
            flush();
        else
            m_later.start(int(m_interval - m_last.elapsed()));
    }

    // Refreshes now, as before a modal box or at the end of a search.
    void flush()
    {
        m_later.stop();
        m_last.start();
        m_refresh();
    }

    // Refreshes now only if a refresh is waiting for its turn.
    void flushPending()
    {
        if (m_later.isActive())
            flush();
    }

private:
    std::function<void()> m_refresh;
    qint64 m_interval;
    QTimer m_later;
    QElapsedTimer m_last;
};

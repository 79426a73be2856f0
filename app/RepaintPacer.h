// Lets a widget whose content changes thousands of times a second be drawn at most every
// 16 ms, while what it holds is always current.
#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <functional>

class RepaintPacer
{
public:
    // `refresh` brings the widget's look up to date, for instance by calling update().
    RepaintPacer(QWidget *widget, std::function<void()> refresh) : m_refresh(std::move(refresh))
    {
        m_later.setSingleShot(true);
        QObject::connect(&m_later, &QTimer::timeout, widget, [this] { m_refresh(); });
    }

    // Call on every change.
    void changed()
    {
        if (!m_lastPaint.isValid() || m_lastPaint.elapsed() >= Interval) {
            m_refresh();
        } else if (!m_later.isActive()) {
            m_later.start(int(Interval - m_lastPaint.elapsed()));
        }
    }

    // Call from paintEvent.
    void painted() { m_lastPaint.start(); }

private:
    static constexpr qint64 Interval = 16;
    std::function<void()> m_refresh;
    QTimer m_later;
    QElapsedTimer m_lastPaint;
};

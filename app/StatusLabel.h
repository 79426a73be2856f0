// The search's status line: a label on screen, a progress bar to a screen reader.
#pragma once

#include <QElapsedTimer>
#include <QLabel>

// A screen reader passes over a label's changing name, but speaks a progress bar's value now
// and then by itself: so the label tells its percentage as a value too. Its name stays its text.
class StatusLabel : public QLabel
{
    Q_OBJECT
public:
    explicit StatusLabel(QWidget *parent = nullptr);

    // How far the current phase is, 0 to 100; 0 where it has no total (the walk).
    void setProgress(int percent);
    [[nodiscard]] int progress() const { return m_progress; }

private:
    int m_progress = 0;
    int m_told = 0;
    // A value change is a message on the bus: one a second is all a reader speaks anyway.
    QElapsedTimer m_sinceTold;
};

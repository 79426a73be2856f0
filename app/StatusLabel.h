// The search's status line: a label on screen, a progress bar to a screen reader.
#pragma once

#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>

// A screen reader passes over a label's changing name, but speaks a progress bar's value now
// and then by itself: so the label tells its percentage as a value too. Its name stays its text.
class StatusLabel : public QLabel
{
    Q_OBJECT
public:
    explicit StatusLabel(QWidget *parent = nullptr);

    // The text shown, and how far the current phase is, 0 to 100; 0 where it has no total
    // (the walk).
    void setStatus(const QString &text, int percent);
    [[nodiscard]] int progress() const { return m_progress; }

private:
    void tellReader();

    int m_progress = 0;
    int m_toldProgress = 0;
    QString m_toldText;
    // Each change is a message a reader must take in: one a second is all it speaks anyway,
    // and more keep it from the keys the user presses.
    QElapsedTimer m_sinceTold;
    QTimer m_tellLater;
};

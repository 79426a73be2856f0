// The search's status lines: labels on screen; to a screen reader the first is a progress bar.
#pragma once

#include "FittedLabel.h"
#include "RepaintPacer.h"

// A screen reader passes over a label's changing name, but speaks a progress bar's value now
// and then by itself: so the label tells its percentage as a value too, unless it shows no
// progress. Its name stays its text.
class StatusLabel : public FittedLabel
{
    Q_OBJECT
public:
    explicit StatusLabel(QWidget *parent = nullptr);

    // A plain label to a screen reader.
    void setShowsProgress(bool shows) { m_showsProgress = shows; }
    [[nodiscard]] bool showsProgress() const { return m_showsProgress; }

    // The text shown, and how far the current phase is, 0 to 100; 0 where it has no total
    // (the walk).
    void setStatus(const QString &text, int percent);
    [[nodiscard]] int progress() const { return m_progress; }
    // Tells a screen reader now what it would be told within the second, as before a box that
    // it is to read after the progress, not before.
    void tellPending() { m_tellPacer.flushPending(); }

private:
    void tellReader();

    bool m_showsProgress = true;
    int m_progress = 0;
    int m_toldProgress = 0;
    QString m_toldText;
    // Each change is a message a reader must take in: one a second is all it speaks anyway,
    // and more keep it from the keys the user presses.
    RepaintPacer m_tellPacer{this, [this] { tellReader(); }, 1000};
};

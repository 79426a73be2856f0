// The window's smaller commands: choose a folder, stop, delete the proposed files, show a line.
#include "frmFinderMain.h"

#include "EventPump.h"
#include "LineListBox.h"
#include "Messages.h"
#include "SearchRun.h"
#include "SurplusCopies.h"
#include "SystemTools.h"

#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>

void frmFinderMain::Form_Initialize()
{
    // Nothing to prepare on Linux: Qt sets up its controls itself.
}

void frmFinderMain::cmdBrowse1_Click()
{
    guarded([this] {
        // The chooser is modal, like a box: no file is read behind it.
        if (m_run)
            m_run->pauseReading();
        // The chooser opens where the last choice was made, not at the typed text.
        txtPath->setText(SystemTools::instance().BrowseForFolder(this, QStringLiteral("Look where?"), 17, 1));
    });
}

void frmFinderMain::cmdStop_Click()
{
    m_state.StopRequested = true;
}

void frmFinderMain::cmdKillDestined_Click()
{
    if (!may(Command::Kill))
        return;
    guarded([this] {
        m_phase = Phase::Killing;
        const QString statusBefore = statusText();
        const int progressBefore = m_progress;
        // The focus rests on the list being emptied, not on whatever Qt would pick, and
        // comes back to KILL when it is done.
        const bool focusOnKill = focusWidget() == cmdKillDestined;
        if (focusOnKill)
            lstDestined->setFocus();
        // Every button rests while files go; the window itself keeps drawing and answering.
        QList<QPair<QPushButton *, bool>> buttons;
        for (QPushButton *button : findChildren<QPushButton *>()) {
            buttons.append({button, button->isEnabled()});
            button->setEnabled(false);
        }
        const auto restore = qScopeGuard([&] {
            for (const auto &[button, enabled] : std::as_const(buttons))
                button->setEnabled(enabled);
            if (focusOnKill && focusWidget() == lstDestined)
                cmdKillDestined->setFocus();
            leave(Phase::Killing);
        });

        // The window is served every few milliseconds, between files and inside comparisons.
        const KillReport report = removeSurplusCopies(
            m_state,
            [this](const QString &text, int percent) {
                // The status line's value is what a screen reader speaks of progress.
                setProgress(percent);
                setStatus(text);
            },
            EventPump::breathe);
        // What stayed is the list now, so that the next press tries exactly those again.
        m_state.DestinedFiles = report.stayedFiles;
        m_state.DestinedPairs = report.stayedPairs;
        m_destinedShown = report.stayedFiles;
        lstDestined->sourceReset();
        setProgress(progressBefore);
        showKillSize();
        setStatus(statusBefore);
        showMessage(report.message());
    });
    if (m_closePending)
        close();
}

void frmFinderMain::lstFiles_DblClick()
{
    guarded([this] { showMessage(Messages::shownPath(lstFiles->selectedText())); });
}

void frmFinderMain::lstEqual_DblClick()
{
    guarded([this] { showMessage(Messages::shownPath(lstEqual->selectedText())); });
}

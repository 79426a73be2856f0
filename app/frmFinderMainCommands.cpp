// The window's smaller commands: choose a folder, stop, delete the proposed files, show a line.
#include "frmFinderMain.h"

#include "EventPump.h"
#include "LineListBox.h"
#include "Messages.h"
#include "SafeDelete.h"
#include "SearchRun.h"
#include "SystemTools.h"

#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>

namespace {

constexpr int StayedShown = 5;

QString files(int count)
{
    return count == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(count);
}

} // namespace

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
    // A search shows the user one list while it builds another: nothing is deleted then.
    if (m_running || m_killing)
        return;
    guarded([this] {
        // Every button rests while files go; the window itself keeps drawing and answering.
        m_killing = true;
        const QString statusBefore = statusText();
        // The focus rests on the list being emptied, not on whatever Qt would pick, and
        // comes back to KILL when it is done.
        const bool focusOnKill = focusWidget() == cmdKillDestined;
        if (focusOnKill)
            lstDestined->setFocus();
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
            m_killing = false;
        });

        // Each file goes only if the copy that stays is still there and still the same: a
        // search may be long past, and the files may have changed since. What stays is kept
        // as the list, so that the next press tries exactly those again.
        const PathLines destined = m_state.DestinedFiles;
        const std::vector<DestinedPair> pairs = m_state.DestinedPairs;
        const int n = destined.count();
        int trashed = 0;
        int gone = 0;
        PathLines stayedFiles(&m_state.Paths);
        std::vector<DestinedPair> stayedPairs;
        QStringList stayed;
        for (int i = 1; i <= n; ++i) {
            setStatus(QStringLiteral("Moving file %1 of %2 to the trash...").arg(i).arg(n));
            // The window is served every few milliseconds, between files and inside comparisons.
            EventPump::breathe();
            const DestinedPair &pair = pairs.at(std::size_t(i - 1));
            const DiskFile proposed = m_state.Paths.file(pair.proposed);
            const DeleteResult result = removeSurplusCopy(proposed, m_state.Paths.file(pair.kept), EventPump::breathe);
            if (result.outcome == DeleteOutcome::Trashed) {
                ++trashed;
            } else if (result.outcome == DeleteOutcome::AlreadyGone) {
                ++gone;
            } else {
                stayedFiles.append(destined.idAt(i));
                stayedPairs.push_back(pair);
                stayed.append(Messages::shownPath(proposed.path()) + QStringLiteral(" (") + result.reason + QLatin1Char(')'));
            }
        }
        m_state.DestinedFiles = stayedFiles;
        m_state.DestinedPairs = stayedPairs;
        m_destinedShown = stayedFiles;
        lstDestined->sourceReset();
        setStatus(statusBefore);

        QString text = QStringLiteral("Okay!");
        if (trashed || gone || !stayed.isEmpty())
            text += QLatin1Char('\n');
        if (trashed)
            text += QStringLiteral("\n%1 moved to the trash.").arg(files(trashed));
        if (gone)
            text += QStringLiteral("\n%1 already gone.").arg(files(gone));
        if (!stayed.isEmpty()) {
            text += QStringLiteral("\n%1 stayed:").arg(files(int(stayed.size())));
            for (const QString &line : stayed.mid(0, StayedShown))
                text += QLatin1Char('\n') + line;
            if (stayed.size() > StayedShown)
                text += QStringLiteral("\n...");
        }
        showMessage(text);
    });
    // A close asked for while files went is honoured now.
    if (m_closeAfterKill) {
        m_closeAfterKill = false;
        close();
    }
}

void frmFinderMain::lstFiles_DblClick()
{
    guarded([this] { showMessage(lstFiles->selectedText()); });
}

void frmFinderMain::lstEqual_DblClick()
{
    guarded([this] { showMessage(lstEqual->selectedText()); });
}

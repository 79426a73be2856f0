// The window's smaller commands: choose a folder, stop, delete the proposed files, show a line.
#include "frmFinderMain.h"

#include "LineListBox.h"
#include "SafeDelete.h"
#include "SystemTools.h"

#include <QLineEdit>

namespace {
constexpr int StayedShown = 5;
}

void frmFinderMain::Form_Initialize()
{
    // Nothing to prepare on Linux: Qt sets up its controls itself.
}

void frmFinderMain::cmdBrowse1_Click()
{
    guarded([this] {
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
    guarded([this] {
        // Each file goes only if the copy that stays is still there and still the same:
        // a search may be long past, and the files may have changed since.
        const int n = m_state.DestinedFiles.count();
        int went = 0;
        QStringList stayed;
        for (int i = 1; i <= n; ++i) {
            const std::optional<QString> reason = removeSurplusCopy(m_state.DestinedPairs.at(std::size_t(i - 1)));
            if (!reason)
                ++went;
            else
                stayed.append(m_state.DestinedPairs.at(std::size_t(i - 1)).proposed.path + QStringLiteral(" (")
                              + *reason + QLatin1Char(')'));
        }
        lstDestined->clear();

        QString text = QStringLiteral("Okay!");
        if (!stayed.isEmpty()) {
            text += QStringLiteral("\n\n%1 of %2 files were removed; %3 stayed:")
                        .arg(went).arg(n).arg(stayed.size());
            for (const QString &line : stayed.mid(0, StayedShown))
                text += QLatin1Char('\n') + line;
            if (stayed.size() > StayedShown)
                text += QStringLiteral("\n...");
        }
        showMessage(text);
    });
}

void frmFinderMain::lstFiles_DblClick()
{
    guarded([this] { showMessage(lstFiles->selectedText()); });
}

void frmFinderMain::lstEqual_DblClick()
{
    guarded([this] { showMessage(lstEqual->selectedText()); });
}

// The window's life: creation, its phases, the guard around its handlers, closing, and what
// it shows the search run.
#include "frmFinderMain.h"

#include "EventPump.h"
#include "LineListBox.h"
#include "Messages.h"
#include "SearchRun.h"
#include "StatusLabel.h"
#include "UserChoices.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>

namespace {
std::function<void()> &fatalHandler()
{
    static std::function<void()> handler;
    return handler;
}
} // namespace

frmFinderMain::frmFinderMain(QWidget *parent)
    : QWidget(parent)
{
    Form_Initialize();
    buildLayout();
    showKillSize();
    connectCommands();
    Form_Load();
}

frmFinderMain::~frmFinderMain()
{
    // A window destroyed without being closed (a test, say) still takes its scratch folder.
    if (!may(Command::UnloadAtEnd))
        return;
    try {
        unload();
    } catch (...) {
        // Nothing can be shown from a destructor; the folder is left behind.
    }
}

void frmFinderMain::setFatalHandler(std::function<void()> handler)
{
    fatalHandler() = std::move(handler);
}

void frmFinderMain::guarded(const std::function<void()> &handler)
{
    // Nothing may be thrown across Qt's event loop: an error is shown, and ends the program.
    try {
        handler();
    } catch (const std::exception &error) {
        // A search below this handler must not go on over a removed scratch folder: it lets
        // go at its next yield, and the window closes then.
        if (m_phase == Phase::Searching)
            m_closePending = true;
        showMessage(QStringLiteral("Error: ") + QString::fromStdString(error.what()));
        try {
            unload();
        } catch (...) {
            // The scratch folder could not go: it stays behind, which harms nothing.
        }
        if (fatalHandler())
            fatalHandler()();
        else
            QCoreApplication::exit(1);
    }
}

void frmFinderMain::connectCommands()
{
    connect(cmdStart, &QPushButton::clicked, this, &frmFinderMain::cmdStart_Click);
    connect(cmdStop, &QPushButton::clicked, this, &frmFinderMain::cmdStop_Click);
    connect(cmdBrowse1, &QPushButton::clicked, this, &frmFinderMain::cmdBrowse1_Click);
    connect(cmdKillDestined, &QPushButton::clicked, this, &frmFinderMain::cmdKillDestined_Click);
    connect(lstFiles, &LineListBox::lineDoubleClicked, this, &frmFinderMain::lstFiles_DblClick);
    connect(lstEqual, &LineListBox::lineDoubleClicked, this, &frmFinderMain::lstEqual_DblClick);
    connect(lstFiles, &LineListBox::lineMenuRequested, this, &frmFinderMain::lstFiles_ContextMenu);
    connect(lstEqual, &LineListBox::lineMenuRequested, this, &frmFinderMain::lstEqual_ContextMenu);
    connect(lstDestined, &LineListBox::lineMenuRequested, this, &frmFinderMain::lstDestined_ContextMenu);
}

bool frmFinderMain::may(Command command) const
{
    switch (command) {
    case Command::Start:
    case Command::Kill:
        // One at a time. A search shows the user one list while it builds another: nothing
        // is deleted then.
        return m_phase == Phase::Idle;
    case Command::Close:
        // A search below still holds the scratch folder, and half a KILL would leave the list
        // and the disk telling different stories: both end first, a search at its next yield.
        return m_phase == Phase::Idle || m_phase == Phase::Closed;
    case Command::UnloadAtEnd:
        return m_phase != Phase::Closed;
    case Command::KeepSearching:
        return m_phase == Phase::Searching && !m_closePending;
    case Command::Choose:
        // A search replaces the proposals at its end, and KILL the list at its own.
        return m_phase == Phase::Idle;
    }
    return false;
}

void frmFinderMain::leave(Phase phase)
{
    if (m_phase == phase)
        m_phase = Phase::Idle;
}

void frmFinderMain::unload()
{
    m_phase = Phase::Closed;
    Form_Unload();
}

void frmFinderMain::cmdStart_Click()
{
    if (!may(Command::Start))
        return;
    guarded([this] {
        m_phase = Phase::Searching;
        SearchRun run(m_state, *this);
        m_run = &run;
        const auto forget = qScopeGuard([this] { m_run = nullptr; });
        try {
            run.run();
        } catch (const RunAbandoned &) {
            // The window is being closed: no final message, just let go and close.
        } catch (...) {
            leave(Phase::Searching);
            throw;
        }
        leave(Phase::Searching);
        m_statusPacer.flush();
        if (m_closePending)
            close();
    });
}

void frmFinderMain::closeEvent(QCloseEvent *event)
{
    if (!may(Command::Close)) {
        m_closePending = true;
        event->ignore();
        return;
    }
    m_closePending = false;
    guarded([this] { unload(); });
    event->accept();
}

void frmFinderMain::setFolderText(const QString &folder)
{
    txtPath->setText(folder);
}

QString frmFinderMain::folderText() const
{
    return txtPath->text();
}

bool frmFinderMain::subFoldersTicked() const
{
    return chkSubDirs->checkState() == Qt::Checked;
}

void frmFinderMain::enterRunning()
{
    // The focus goes to the stop button before the start button is disabled: Qt would hand
    // it on to the files list, which a screen reader would then follow as it fills.
    cmdStop->setVisible(true);
    cmdStop->setFocus();
    cmdStart->setEnabled(false);
    cmdKillDestined->setEnabled(false);
}

void frmFinderMain::leaveRunning()
{
    m_statusPacer.flush();
    cmdStart->setEnabled(true);
    cmdKillDestined->setEnabled(true);
    if (focusWidget() == cmdStop)
        cmdStart->setFocus();
    cmdStop->setVisible(false);
}

void frmFinderMain::setStatus(const QString &text)
{
    m_statusText = text;
    m_statusPacer.changed();
}

void frmFinderMain::setStatusB(const QString &text)
{
    m_statusBText = text;
    m_statusPacer.changed();
}

void frmFinderMain::setProgress(int percent)
{
    m_progress = percent;
    m_statusPacer.changed();
}

void frmFinderMain::showStatus()
{
    // QLabel passes over a text it already shows, so an unchanged line costs no notice.
    lblStatus->setStatus(m_statusText, m_progress);
    lblStatusB->setStatus(m_statusBText, 0);
}

void frmFinderMain::fileLinesAdded(int added)
{
    lstFiles->sourceInsertedAtTop(added);
}

void frmFinderMain::equalLinesAdded(int added)
{
    lstEqual->sourceInsertedAtTop(added);
}

void frmFinderMain::showDestined()
{
    m_destinedShown = m_state.DestinedFiles;
    lstDestined->sourceReset();
    showKillSize();
}

void frmFinderMain::showKillSize()
{
    const QString text = QStringLiteral("Move %1 (%2) to the trash")
                             .arg(Messages::files(m_state.DestinedFiles.count()),
                                  Messages::dataSize(UserChoices::destinedBytes(m_state)));
    cmdKillDestined->setToolTip(text);
    cmdKillDestined->setAccessibleDescription(text);
}

void frmFinderMain::showMessage(const QString &text)
{
    // The box stops the run: the status lines say where it stands while it is up, and no
    // file is read behind it.
    if (m_run)
        m_run->pauseReading();
    m_statusPacer.flush();
    lblStatus->tellPending();
    lblStatusB->tellPending();
    // A reader that moves from the box to a list finds it whole, not as last told.
    for (LineListBox *list : {lstFiles, lstEqual, lstDestined})
        list->tellEverything();
    Messages::show(this, text);
}

void frmFinderMain::yield()
{
    EventPump::yield();
    if (!may(Command::KeepSearching))
        throw RunAbandoned();
}

void frmFinderMain::breathe()
{
    EventPump::breathe();
    if (!may(Command::KeepSearching))
        throw RunAbandoned();
}

// The program's one window: a folder to search, the search run's lists, and its commands.
#pragma once

#include "RepaintPacer.h"
#include "SearchHost.h"
#include "SearchState.h"

#include <QWidget>

#include <functional>

class LineListBox;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class SearchRun;
class StatusLabel;

class frmFinderMain : public QWidget, private SearchHost
{
    Q_OBJECT
public:
    explicit frmFinderMain(QWidget *parent = nullptr);
    ~frmFinderMain() override;

    [[nodiscard]] const SearchState &state() const { return m_state; }
    [[nodiscard]] bool isRunning() const { return m_phase == Phase::Searching; }
    // The status lines' texts as the run has them now; the labels show them a little later.
    [[nodiscard]] QString statusText() const override { return m_statusText; }
    [[nodiscard]] QString statusBText() const { return m_statusBText; }

    // What happens after an error has been shown; the program ends unless a test says
    // otherwise.
    static void setFatalHandler(std::function<void()> handler);

    // Fills in the folder to look in, as if typed; the search still waits for "Start now!".
    void setFolderText(const QString &folder);

    void cmdStart_Click();
    void cmdStop_Click();
    void cmdBrowse1_Click();
    void cmdKillDestined_Click();
    void lstFiles_DblClick();
    void lstEqual_DblClick();
    // The menu on a line: open its file, show it in its folder, copy its path; on a line of
    // the obsolete list, also choose what KILL moves.
    void lstFiles_ContextMenu(int row, const QPoint &where, bool byKeyboard);
    void lstEqual_ContextMenu(int row, const QPoint &where, bool byKeyboard);
    void lstDestined_ContextMenu(int row, const QPoint &where, bool byKeyboard);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // What the window is doing. A search and KILL let the event loop run, so any handler may
    // run in the middle of them; `may` alone decides what may run in which phase.
    enum class Phase {
        Idle,
        Searching,
        Killing,
        Closed, // the scratch folder is let go of: nothing starts any more
    };
    enum class Command {
        Start,         // a search
        Kill,          // KILL
        Close,         // the window closes now rather than when what runs below it ends
        UnloadAtEnd,   // the scratch folder is removed as the window is destroyed
        KeepSearching, // a search goes on past its yield
        Choose,        // the user changes what KILL moves
    };
    [[nodiscard]] bool may(Command command) const;
    // Back to Idle when `phase` ends, unless the window was closed meanwhile.
    void leave(Phase phase);
    // Closed from now on, and the scratch folder removed (or tried again).
    void unload();

    void Form_Initialize();
    void Form_Load();
    void Form_Unload();
    void buildLayout();
    void connectCommands();
    void guarded(const std::function<void()> &handler);
    void showStatus();
    enum class FileCommand { Open, OpenFolder, CopyPath };
    enum class Choice { DoNotMove, KeepThis, KeepFolder };
    void showLineMenu(LineListBox *list, const std::vector<PathStore::Id> &files, const QPoint &where, bool byKeyboard);
    void addChoices(QMenu *menu, PathStore::Id proposed);
    void onLineFile(const DiskFile &file, FileCommand command);
    void onChoice(PathStore::Id proposed, Choice choice);
    // KILL says how much the obsolete list holds.
    void showKillSize();

    // SearchHost
    QString folderText() const override;
    bool subFoldersTicked() const override;
    void enterRunning() override;
    void leaveRunning() override;
    void setStatus(const QString &text) override;
    void setStatusB(const QString &text) override;
    void setProgress(int percent) override;
    void fileLinesAdded(int added) override;
    void equalLinesAdded(int added) override;
    void showDestined() override;
    void showMessage(const QString &text) override;
    void yield() override;
    void breathe() override;

    SearchState m_state;
    // What the obsolete list shows: the proposals of the latest search, or what KILL left.
    PathLines m_destinedShown{&m_state.Paths};
    SearchRun *m_run = nullptr; // the search under way, if any
    Phase m_phase = Phase::Idle;
    // A close asked for while a search or KILL was under way: the search lets go at its
    // next yield, KILL finishes its files, and then the window closes.
    bool m_closePending = false;
    QString m_statusText;
    QString m_statusBText;
    int m_progress = 0;
    // Every label text sent to a screen reader is a message on the bus: a few a second will do.
    RepaintPacer m_statusPacer{this, [this] { showStatus(); }};

    QLabel *Label1 = nullptr;
    QLineEdit *txtPath = nullptr;
    QCheckBox *chkSubDirs = nullptr;
    QPushButton *cmdBrowse1 = nullptr;
    QPushButton *cmdStart = nullptr;
    QLabel *Label2 = nullptr;
    LineListBox *lstFiles = nullptr;
    QLabel *Label3 = nullptr;
    LineListBox *lstEqual = nullptr;
    StatusLabel *lblStatus = nullptr;
    QPushButton *cmdStop = nullptr;
    QLabel *Label4 = nullptr;
    LineListBox *lstDestined = nullptr;
    QPushButton *cmdKillDestined = nullptr;
    StatusLabel *lblStatusB = nullptr;
};

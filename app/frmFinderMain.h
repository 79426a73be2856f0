// The program's one window: a folder to search, the search run's lists, and its commands.
#pragma once

#include "SearchHost.h"
#include "SearchState.h"

#include <QWidget>

#include <functional>

class LineListBox;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class StatusLine;

class frmFinderMain : public QWidget, private SearchHost
{
    Q_OBJECT
public:
    explicit frmFinderMain(QWidget *parent = nullptr);
    ~frmFinderMain() override;

    [[nodiscard]] const SearchState &state() const { return m_state; }
    [[nodiscard]] bool isRunning() const { return m_running; }

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

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void Form_Initialize();
    void Form_Load();
    void Form_Unload();
    void buildLayout();
    void connectCommands();
    void guarded(const std::function<void()> &handler);

    // SearchHost
    QString folderText() const override;
    bool subFoldersTicked() const override;
    void enterRunning() override;
    void leaveRunning() override;
    void setStatus(const QString &text) override;
    void setStatusB(const QString &text) override;
    void insertFileLine(const QString &line) override;
    void insertEqualLine(const QString &first, const QString &second) override;
    void clearDestined() override;
    void appendDestined(const QString &line) override;
    void showMessage(const QString &text) override;
    void yield() override;

    SearchState m_state;
    bool m_running = false;
    bool m_closing = false;
    bool m_unloaded = false;

    QLabel *Label1 = nullptr;
    QLineEdit *txtPath = nullptr;
    QCheckBox *chkSubDirs = nullptr;
    QPushButton *cmdBrowse1 = nullptr;
    QPushButton *cmdStart = nullptr;
    QLabel *Label2 = nullptr;
    LineListBox *lstFiles = nullptr;
    QLabel *Label3 = nullptr;
    LineListBox *lstEqual = nullptr;
    StatusLine *lblStatus = nullptr;
    QPushButton *cmdStop = nullptr;
    QLabel *Label4 = nullptr;
    LineListBox *lstDestined = nullptr;
    QPushButton *cmdKillDestined = nullptr;
    StatusLine *lblStatusB = nullptr;
};

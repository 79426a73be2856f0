// What the search run needs of the window: a narrow view, so the run can be tested alone.
#pragma once

#include <QString>

#include <exception>

// Thrown out of a yield when the window is being closed: the run lets go at once.
struct RunAbandoned : std::exception
{
    const char *what() const noexcept override { return "the window was closed during a search"; }
};

class SearchHost
{
public:
    virtual ~SearchHost() = default;

    [[nodiscard]] virtual QString folderText() const = 0;
    [[nodiscard]] virtual bool subFoldersTicked() const = 0;

    virtual void enterRunning() = 0; // start disabled, stop shown
    virtual void leaveRunning() = 0; // start enabled, stop hidden

    [[nodiscard]] virtual QString statusText() const = 0;
    virtual void setStatus(const QString &text) = 0;
    virtual void setStatusB(const QString &text) = 0;
    // How far the phase the status line tells of is, 0 to 100: 0 where it has no total.
    virtual void setProgress(int percent) = 0;
    // The files list's lines (the state's Files) grew by `added` at the top.
    virtual void fileLinesAdded(int added) = 0;
    // The equal list's lines (the state's EqualLines) grew by `added` at the top.
    virtual void equalLinesAdded(int added) = 0;
    // The obsolete list shows the state's DestinedFiles as they are now, in their order.
    virtual void showDestined() = 0;

    virtual void showMessage(const QString &text) = 0;
    // Lets pending window events run; throws RunAbandoned when the window is closing.
    virtual void yield() = 0;
    // The same, but only when the event loop is due: for long work between yield points.
    virtual void breathe() = 0;
};

// The menu on a list's line: open the file the line stands for, show it in its folder, or
// copy its path; on the obsolete list, also choose what KILL moves. Every command acts on the
// very file the search found, never on the line's lower-cased text. Only the choices change
// a list, and only the obsolete one.
#include "frmFinderMain.h"

#include "FileDescriptor.h"
#include "FileId.h"
#include "LineListBox.h"
#include "Messages.h"
#include "Opener.h"
#include "UserChoices.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QMimeDatabase>
#include <QPointer>
#include <QSet>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

// The file as the search found it, still under its path: reached without following a link,
// a plain file, and the same one (device and inode). A file only named by a line the window
// never wrote has no identity to match.
bool stillFound(const DiskFile &file, struct stat &st)
{
    if (!file.isKnown())
        return false;
    const FileDescriptor fd = openWithoutLinks(file.native, O_PATH | O_NOFOLLOW);
    return fd.isValid() && ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) && FileId::of(st) == file.id;
}

// Whether a desktop asked to open the file might run it instead of showing it: a launcher or
// a Windows program whatever its mode; with an execute bit, a program or script by its name,
// or a file of no known type. A photo on a card whose file system marks every file
// executable still opens.
bool mightRun(const QString &name, mode_t mode)
{
    const QList<QMimeType> types = QMimeDatabase().mimeTypesForFileName(name);
    const auto any = [&types](std::initializer_list<const char *> kinds) {
        return std::any_of(types.begin(), types.end(), [&kinds](const QMimeType &type) {
            return std::any_of(kinds.begin(), kinds.end(),
                               [&type](const char *kind) { return type.inherits(QLatin1String(kind)); });
        });
    };
    // A Windows program has one name or the other, as the system's types have it.
    if (any({"application/x-desktop", "application/x-ms-dos-executable", "application/x-msdownload",
             "application/x-msi", "application/x-java-archive"}))
        return true;
    if ((mode & (S_IXUSR | S_IXGRP | S_IXOTH)) == 0)
        return false;
    // Scripts and AppImages are kinds of application/x-executable.
    return types.isEmpty() || any({"application/x-executable", "application/x-sharedlib"});
}

// Text for a menu item: an ampersand in a name is no access key, a tab (written out) no
// shortcut column.
QString itemText(QString text)
{
    return Messages::shownPath(std::move(text)).replace(QLatin1Char('&'), QLatin1String("&&"));
}

// Names that tell the files apart: the file names, or as many folders above them as it takes
// (two copies often share their name).
QStringList distinctNames(const std::vector<DiskFile> &files)
{
    std::vector<QStringList> parts;
    for (const DiskFile &file : files)
        parts.push_back(file.path().split(QLatin1Char('/')));
    for (qsizetype depth = 1;; ++depth) {
        QStringList names;
        bool whole = false;
        for (const QStringList &path : parts) {
            names << path.mid(std::max<qsizetype>(0, path.size() - depth)).join(QLatin1Char('/'));
            whole = whole || depth >= path.size();
        }
        if (whole || QSet<QString>(names.begin(), names.end()).size() == names.size())
            return names;
    }
}

} // namespace

void frmFinderMain::lstFiles_ContextMenu(int row, const QPoint &where, bool byKeyboard)
{
    guarded([&] { showLineMenu(lstFiles, {m_state.Files.idAtRow(row)}, where, byKeyboard); });
}

void frmFinderMain::lstEqual_ContextMenu(int row, const QPoint &where, bool byKeyboard)
{
    guarded([&] {
        const auto [outer, inner] = m_state.Equal.filesAt(row);
        showLineMenu(lstEqual, {outer, inner}, where, byKeyboard);
    });
}

void frmFinderMain::lstDestined_ContextMenu(int row, const QPoint &where, bool byKeyboard)
{
    guarded([&] { showLineMenu(lstDestined, {m_destinedShown.idAtRow(row)}, where, byKeyboard); });
}

void frmFinderMain::showLineMenu(LineListBox *list, const std::vector<PathStore::Id> &ids, const QPoint &where,
                                 bool byKeyboard)
{
    // A pair whose two lines name one file (a folder searched twice) is one file here.
    std::vector<DiskFile> files;
    for (const PathStore::Id id : ids) {
        if (files.empty() || files.front().native != m_state.Paths.native(id))
            files.push_back(m_state.Paths.file(id));
    }
    const QStringList names = files.size() > 1 ? distinctNames(files) : QStringList{QString()};

    // Not waited for: the window, and a search in it, go on while the menu is up.
    auto *menu = new QMenu(list);
    menu->setAccessibleName(QStringLiteral("Line menu"));
    connect(menu, &QMenu::aboutToHide, menu, &QObject::deleteLater);
    // The reader hears where the focus came back to: the line, not only the list.
    connect(menu, &QMenu::aboutToHide, list, &LineListBox::tellCurrentAgain, Qt::QueuedConnection);
    const std::pair<FileCommand, QString> commands[] = {
        {FileCommand::Open, QStringLiteral("Open")},
        {FileCommand::OpenFolder, QStringLiteral("Open Containing Folder")},
        {FileCommand::CopyPath, QStringLiteral("Copy Path")}};
    for (const auto &[command, caption] : commands) {
        if (files.size() > 1 && !menu->isEmpty())
            menu->addSeparator();
        for (std::size_t i = 0; i < files.size(); ++i) {
            const DiskFile &file = files[i];
            struct stat st {};
            if (command == FileCommand::Open
                && mightRun(file.path().section(QLatin1Char('/'), -1), stillFound(file, st) ? st.st_mode : 0))
                continue;
            QString text = caption;
            if (files.size() > 1)
                text += (command == FileCommand::Open ? QStringLiteral(" ") : QStringLiteral(" of "))
                    + itemText(Messages::shownPath(names[qsizetype(i)]));
            // Queued: a box the command shows runs an event loop, which may delete the closed
            // menu while the menu is still handling the key or click that chose the item.
            connect(
                menu->addAction(text), &QAction::triggered, this,
                [this, file, command = command] { guarded([&] { onLineFile(file, command); }); }, Qt::QueuedConnection);
        }
    }
    if (list == lstDestined && may(Command::Choose))
        addChoices(menu, ids.front());
    menu->popup(where);
    // From the keyboard the first item is ready at once, and a screen reader says it.
    if (byKeyboard && !menu->actions().isEmpty())
        menu->setActiveAction(menu->actions().constFirst());
}

void frmFinderMain::onLineFile(const DiskFile &file, FileCommand command)
{
    const QString path = file.path();
    struct stat st {};
    if (!stillFound(file, st)
        || (command == FileCommand::Open && mightRun(path.section(QLatin1Char('/'), -1), st.st_mode))) {
        showMessage(QStringLiteral("Gone or changed since the search:\n") + Messages::shownPath(path));
        return;
    }
    if (command == FileCommand::CopyPath) {
        QGuiApplication::clipboard()->setText(path);
        return;
    }
    const bool folder = command == FileCommand::OpenFolder;
    // The file manager may answer later, when the window may be gone.
    Opener::open(folder ? Opener::Target::ContainingFolder : Opener::Target::File, path,
                 [window = QPointer(this), folder, path] {
                     if (window)
                         window->guarded([&] {
                             window->showMessage((folder ? QStringLiteral("Could not show the folder of:\n")
                                                         : QStringLiteral("Could not be opened:\n"))
                                                 + Messages::shownPath(path));
                         });
                 });
}

void frmFinderMain::addChoices(QMenu *menu, PathStore::Id proposed)
{
    const int position = UserChoices::positionOf(m_state, proposed);
    if (position == 0)
        return;
    // Named as the lists show them: the user finds them there.
    QString folder = m_state.Paths.lowered(proposed);
    folder.truncate(folder.lastIndexOf(QLatin1Char('/')) + 1);
    std::vector<std::pair<Choice, QString>> choices{{Choice::DoNotMove, QStringLiteral("Do Not Move")}};
    if (const std::optional<PathStore::Id> kept = UserChoices::keptInsteadOf(m_state, position))
        choices.emplace_back(Choice::KeepThis, QStringLiteral("Keep This Instead of ")
                                                   + itemText(Messages::shortPath(m_state.Paths.lowered(*kept))));
    choices.emplace_back(Choice::KeepFolder, QStringLiteral("Keep Copies in ") + itemText(Messages::shortPath(folder)));
    menu->addSeparator();
    for (const auto &[choice, text] : choices) {
        // Queued, as the other commands: the list changes under the menu that chose.
        connect(
            menu->addAction(text), &QAction::triggered, this,
            [this, proposed, choice = choice] { guarded([&] { onChoice(proposed, choice); }); }, Qt::QueuedConnection);
    }
}

void frmFinderMain::onChoice(PathStore::Id proposed, Choice choice)
{
    // The menu waits for nobody: a search or KILL may have begun, or changed the list, since.
    const int position = UserChoices::positionOf(m_state, proposed);
    if (!may(Command::Choose) || position == 0)
        return;
    switch (choice) {
    case Choice::DoNotMove:
        UserChoices::doNotMove(m_state, position);
        break;
    case Choice::KeepThis:
        UserChoices::keepInstead(m_state, position);
        break;
    case Choice::KeepFolder: {
        const QByteArrayView native = m_state.Paths.native(proposed);
        (void)UserChoices::keepCopiesIn(m_state, native.first(native.lastIndexOf('/')));
        break;
    }
    }
    // The selection stays where it was, for the next line from the keyboard.
    const int row = lstDestined->currentRow();
    showDestined();
    if (row >= 0)
        lstDestined->setCurrentRow(std::min(row, lstDestined->count() - 1));
}

// One search run, on the window's thread; every yield may run any other handler of the window.
#include "SearchRun.h"

#include "CommonTools.h"
#include "EventPump.h"
#include "Messages.h"
#include "SearchHost.h"
#include "SearchState.h"
#include "SystemTools.h"
#include "ToolkitError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int LeftOutShown = 10;

QString bucketName(qint64 size)
{
    return QString::number(size) + QStringLiteral(".tmp");
}

// In quotes, so that leading and trailing blanks can be seen.
QString quoted(const QString &path)
{
    return QLatin1Char('"') + Messages::shownPath(path) + QLatin1Char('"');
}

void writeAll(int folder, const QString &bucket, const QByteArray &lines)
{
    // Bucket files only ever grow: a later search in the same window also meets the files
    // of earlier searches, and the older lines come first.
    const int fd = ::openat(folder, QFile::encodeName(bucket).constData(),
                            O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        throw ToolkitError(QStringLiteral("Could not open ") + bucket + QStringLiteral(": ")
                           + ToolkitError::describeErrno(errno));
    qsizetype written = 0;
    while (written < lines.size()) {
        const ssize_t n = ::write(fd, lines.constData() + written, size_t(lines.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = errno;
            ::close(fd);
            throw ToolkitError(QStringLiteral("Could not write ") + bucket + QStringLiteral(": ")
                               + ToolkitError::describeErrno(error));
        }
        written += n;
    }
    if (::close(fd) != 0)
        throw ToolkitError(QStringLiteral("Could not write ") + bucket + QStringLiteral(": ")
                           + ToolkitError::describeErrno(errno));
}

} // namespace

SearchRun::SearchRun(SearchState &state, SearchHost &host)
    : m_state(state), m_host(host)
{
}

SearchRun::Folder SearchRun::resolveFolder(const QString &typed)
{
    if (typed.trimmed().isEmpty())
        return {{}, QStringLiteral("Please type a folder to look in.")};
    QString path = typed;
    if (path == QLatin1String("~") || path.startsWith(QLatin1String("~/")))
        path = QDir::homePath() + path.mid(1);
    if (!path.startsWith(QLatin1Char('/')))
        return {{}, QStringLiteral("The folder must be a full path, starting with \"/\": ") + quoted(typed)};
    const QFileInfo info(path);
    if (!info.exists())
        return {{}, QStringLiteral("Folder not found: ") + quoted(typed)};
    if (!info.isDir())
        return {{}, QStringLiteral("Not a folder: ") + quoted(typed)};
    const QString canonical = info.canonicalFilePath();
    if (canonical.isEmpty())
        return {{}, QStringLiteral("Folder not found: ") + quoted(typed)};
    return {canonical, {}};
}

void SearchRun::run()
{
    m_leftOut.clear();
    m_foldersLeftOut.clear();
    m_leftOutSeen.clear();

    const QString statusBefore = m_host.statusText();
    m_host.enterRunning();
    m_host.setStatus(QStringLiteral("Searching for files..."));
    m_host.yield();

    const Folder folder = resolveFolder(m_host.folderText());
    if (!folder.problem.isEmpty()) {
        // Nothing has changed yet: the lists, the proposals, the buckets and the status lines
        // stay as they were.
        m_state.StopRequested = false;
        m_host.setStatus(statusBefore);
        m_host.showMessage(folder.problem);
        m_host.leaveRunning();
        return;
    }

    gather(folder.path);

    m_state.DestinedFiles = TextList();
    m_state.DestinedPairs.clear();
    m_state.RunFirstGroup = m_state.Equal.groupCount();
    m_referenceTexts.clear();
    m_referenceIds.clear();
    m_destinedIds.clear();
    m_equalShown = m_state.Equal.lineCount();

    writeBuckets();

    const QStringList buckets = SystemTools::instance().ListFiles(m_state.WorkFolder, 0, 0);
    const int groups = int(buckets.size());
    for (int g = 1; g <= groups; ++g) {
        m_status = Status::Comparing;
        m_statusPart = g;
        m_statusWhole = int(buckets.size());
        yieldPoint();
        m_statusBText = true;
        m_statusBValue.clear();
        yieldPoint();
        readGroup(buckets.at(g - 1));
        if (m_state.PathList.count() > 1) {
            compareGroup();
            // The group's paths go with it: the last load's status is made while they are here.
            if (!m_loadShown) {
                m_statusBValue = loadStatus();
                m_statusBText = true;
                m_loadShown = true;
            }
        }
        if (m_state.StopRequested || m_full)
            break;
        m_state.PathList = TextList();
        m_state.RealFiles.clear();
    }
    publish();

    m_host.clearDestined();
    for (const QString &path : m_state.DestinedFiles.items())
        m_host.appendDestined(path);

    if (m_state.StopRequested || m_full) {
        m_state.StopRequested = false;
        m_host.showMessage(finalMessage(QStringLiteral("Canceled!")));
    } else {
        m_host.showMessage(finalMessage(QStringLiteral("DONE!")));
    }
    m_host.leaveRunning();
}

void SearchRun::gather(const QString &folder)
{
    m_state.PathList = TextList();
    m_state.SizeList.clear();
    m_state.RealFiles.clear();

    m_state.ImageSeek = std::make_unique<FileSeeker>();
    FileSeeker &seeker = *m_state.ImageSeek;
    seeker.FoundFile = [this](const QString &FileName, const QString &Path) { ImageSeek_FoundFile(FileName, Path); };
    seeker.SkippedEntry = [this](const QString &path, bool isFolder) { leaveOut(path, isFolder); };
    seeker.Yield = [this] { m_host.yield(); };
    if (m_host.subFoldersTicked())
        seeker.IncludeSubFolders = true;
    seeker.Folder = folder;
    seeker.Pattern = QStringLiteral("*.*");
    seeker.Search(0, 0, 0, 0);
}

void SearchRun::ImageSeek_FoundFile(const QString &FileName, const QString &Path)
{
    if (FileName == QLatin1String(".") || FileName == QLatin1String(".."))
        return;
    const QString full = Path + FileName;
    // The seeker reports plain files only, each with what the walk learnt of it: no folder
    // test and no second look at the disk.
    // One path per bucket line: a name with a line break cannot be stored without splitting.
    if (full.contains(QLatin1Char('\n')) || full.contains(QLatin1Char('\r'))) {
        leaveOut(full);
        return;
    }
    const FileSeeker::Found &found = m_state.ImageSeek->found();
    m_state.PathList.append(full.toLower());
    m_state.SizeList.push_back(found.size);
    m_state.RealFiles.push_back({full, found.device, found.inode});
}

void SearchRun::writeBuckets()
{
    // Each bucket's lines are gathered in memory and written with one open and close, not one
    // per file; the lines and their order are the same.
    QHash<qint64, QByteArray> lines;
    std::vector<qint64> sizes; // in the order first met
    const int count = int(m_state.SizeList.size());
    for (int i = 1; i <= count; ++i) {
        m_status = Status::Reading;
        m_statusPart = i;
        m_statusWhole = m_state.PathList.count();
        yieldPoint();
        const qint64 size = m_state.SizeList.at(std::size_t(i - 1));
        auto bucket = lines.find(size);
        if (bucket == lines.end()) {
            bucket = lines.insert(size, QByteArray());
            sizes.push_back(size);
        }
        *bucket += QFile::encodeName(m_state.PathList.item(i));
        *bucket += "\r\n";
        m_state.BucketFiles[size].push_back(m_state.RealFiles.at(std::size_t(i - 1)));
    }
    m_state.SizeList.clear();
    m_state.PathList = TextList();
    m_state.RealFiles.clear();
    if (sizes.empty())
        return;
    // Eleven thousand sizes are eleven thousand files: each is opened from the folder, not
    // by its whole path.
    const int folder = ::open(QFile::encodeName(m_state.WorkFolder).constData(),
                              O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0)
        throw ToolkitError(QStringLiteral("Could not open ") + m_state.WorkFolder + QStringLiteral(": ")
                           + ToolkitError::describeErrno(errno));
    try {
        for (const qint64 size : sizes) {
            writeAll(folder, bucketName(size), lines.value(size));
            lines.remove(size);
            m_host.breathe();
        }
    } catch (...) {
        ::close(folder);
        throw;
    }
    ::close(folder);
}

void SearchRun::readGroup(const QString &bucketFile)
{
    m_state.PathList = TextList();
    m_state.RealFiles.clear();

    bool sized = false;
    const QString name = QFileInfo(bucketFile).fileName();
    const qint64 size = name.endsWith(QLatin1String(".tmp")) ? name.chopped(4).toLongLong(&sized) : 0;
    m_groupSize = sized ? std::optional<qint64>(size) : std::nullopt;
    const auto known = sized ? m_state.BucketFiles.constFind(size) : m_state.BucketFiles.constEnd();

    // Most sizes are met once. A bucket of one line that this window wrote is known without
    // reading it back: nobody else writes into the window's private folder.
    if (known != m_state.BucketFiles.constEnd() && known->size() == 1) {
        m_state.PathList.append(known->front().path.toLower());
        m_state.RealFiles.push_back(known->front());
        return;
    }

    QFile file(bucketFile);
    if (!file.open(QIODevice::ReadOnly))
        throw ToolkitError(QStringLiteral("Could not read ") + bucketFile + QStringLiteral(": ") + file.errorString());
    const QByteArray content = file.readAll();
    file.close();

    qsizetype start = 0;
    for (std::size_t line = 0; start < content.size(); ++line) {
        qsizetype end = content.indexOf("\r\n", start);
        const qsizetype next = end < 0 ? content.size() : end + 2;
        if (end < 0)
            end = content.size();
        const QString text = QFile::decodeName(content.mid(start, end - start));
        start = next;
        // The file behind the line, where the line is still what this window wrote there.
        DiskFile real;
        if (known != m_state.BucketFiles.constEnd() && line < known->size() && (*known)[line].path.toLower() == text)
            real = (*known)[line];
        m_state.PathList.append(text);
        m_state.RealFiles.push_back(real);
    }
}

inline void SearchRun::yieldPoint()
{
    if (EventPump::due())
        serve();
}

void SearchRun::serve()
{
    publish();
    m_host.yield();
}

void SearchRun::publish()
{
    const CommonTools &common = CommonTools::instance();
    switch (m_status) {
    case Status::Unchanged:
        break;
    case Status::Text:
        m_host.setStatus(m_statusText);
        break;
    case Status::Reading:
        m_host.setStatus(QStringLiteral("Reading file %1 of %2 (%3)...")
                             .arg(m_statusPart).arg(m_statusWhole).arg(common.PercentText(m_statusPart, m_statusWhole)));
        break;
    case Status::Comparing:
        m_host.setStatus(QStringLiteral("Comparing group %1 of %2 (%3)...")
                             .arg(m_statusPart).arg(m_statusWhole).arg(common.PercentText(m_statusPart, m_statusWhole)));
        break;
    }
    m_status = Status::Unchanged;
    if (m_statusBText) {
        m_host.setStatusB(m_statusBValue);
        m_statusBText = false;
    } else if (!m_loadShown) {
        m_host.setStatusB(loadStatus());
    }
    m_loadShown = true;
    const int lines = m_state.Equal.lineCount();
    if (lines != m_equalShown) {
        m_host.equalLinesAdded(lines - m_equalShown);
        m_equalShown = lines;
    }
}

QString SearchRun::loadStatus() const
{
    const CommonTools &common = CommonTools::instance();
    QString status = QStringLiteral("File loaded into memory:");
    const QString percent = common.PercentText(m_loadNo, m_loadTotal);
    if (m_loadTotal > 0)
        status += QStringLiteral(" (") + percent + QLatin1Char(')');
    return status + QLatin1Char(' ') + common.FileNameOf(m_state.PathList.item(m_loadIndex + 1), 0);
}

bool SearchRun::ReadIntoMemory(int index, int No, int Total)
{
    ++m_state.LoadCount;
    switch (m_content.stateOf(index)) {
    case GroupContent::State::Loaded:
        break;
    case GroupContent::State::Unreadable:
        // One that exists but cannot be read is told at the end of the run; one gone since it
        // was found is no news (the delete button may have taken it).
        leaveOut(m_state.RealFiles[std::size_t(index)].path);
        return false;
    case GroupContent::State::Gone:
        return false;
    }
    m_loadShown = false;
    m_statusBText = false;
    m_loadIndex = index;
    m_loadNo = No;
    m_loadTotal = Total;
    yieldPoint();
    return true;
}

void SearchRun::compareGroup()
{
    const int n = m_state.PathList.count();
    const std::vector<QString> &paths = m_state.PathList.items();
    const std::vector<DiskFile> &real = m_state.RealFiles;

    // Each position's text and identity as small numbers, so that "already a reference" and
    // "already proposed" cost an array look-up, also for a hundred million equal pairs.
    std::vector<int> textOf(std::size_t(n), 0), idOf(std::size_t(n), 0);
    QHash<QString, int> texts;
    QHash<Identity, int> ids;
    for (int p = 0; p < n; ++p) {
        textOf[std::size_t(p)] = int(*texts.insert(paths[std::size_t(p)], texts.value(paths[std::size_t(p)], int(texts.size()))));
        const DiskFile &file = real[std::size_t(p)];
        const Identity id{file.device, file.inode};
        // A line whose file was never seen has no identity to share.
        idOf[std::size_t(p)] = file.inode == 0 ? n + p : int(*ids.insert(id, ids.value(id, int(ids.size()))));
    }
    std::vector<char> referenceText(texts.size()), destinedText(texts.size());
    std::vector<char> referenceId(std::size_t(2 * n)), destinedId(std::size_t(2 * n));
    for (auto it = texts.cbegin(); it != texts.cend(); ++it) {
        referenceText[std::size_t(*it)] = m_referenceTexts.contains(it.key());
        destinedText[std::size_t(*it)] = m_state.DestinedFiles.contains(it.key());
    }
    for (auto it = ids.cbegin(); it != ids.cend(); ++it) {
        referenceId[std::size_t(*it)] = m_referenceIds.contains(it.key());
        destinedId[std::size_t(*it)] = m_destinedIds.contains(it.key());
    }

    m_content.examine(real, m_groupSize.value_or(-1), [this] {
        publish();
        m_host.breathe();
    });
    std::vector<int> classes(std::size_t(n), -1);
    for (int p = 0; p < n; ++p) {
        if (m_content.stateOf(p) == GroupContent::State::Loaded)
            classes[std::size_t(p)] = m_content.classOf(p);
    }
    m_state.Equal.beginGroup(paths, classes);

    for (int j = 0; j < n; ++j) {
        m_host.insertFileLine(paths[std::size_t(j)]);
        const bool reference = ReadIntoMemory(j, j + 1, n);
        const int cls = classes[std::size_t(j)];
        bool madeReference = false;
        for (int k = 0; k < n; ++k) {
            if (k != j && reference) {
                if (ReadIntoMemory(k, j + 1, n) && classes[std::size_t(k)] == cls) {
                    if (!m_state.Equal.addLine()) {
                        m_full = true;
                        return;
                    }
                    if (!madeReference) {
                        madeReference = true;
                        referenceText[std::size_t(textOf[std::size_t(j)])] = 1;
                        referenceId[std::size_t(idOf[std::size_t(j)])] = 1;
                        m_referenceTexts.insert(paths[std::size_t(j)]);
                        if (real[std::size_t(j)].inode != 0)
                            m_referenceIds.insert({real[std::size_t(j)].device, real[std::size_t(j)].inode});
                    }
                    const std::size_t t = std::size_t(textOf[std::size_t(k)]);
                    const std::size_t i = std::size_t(idOf[std::size_t(k)]);
                    // A file that is, or is the same file as, a kept copy or a proposed one
                    // is not proposed (again): that would free no space.
                    if (!referenceText[t] && !referenceId[i] && !destinedText[t] && !destinedId[i]) {
                        destinedText[t] = destinedId[i] = 1;
                        m_state.DestinedFiles.append(paths[std::size_t(k)]);
                        m_state.DestinedPairs.push_back({real[std::size_t(k)], real[std::size_t(j)]});
                        if (real[std::size_t(k)].inode != 0)
                            m_destinedIds.insert({real[std::size_t(k)].device, real[std::size_t(k)].inode});
                    }
                }
            }
            if (m_state.StopRequested)
                return;
            // An outer file that could not be loaded is compared with nothing.
            if (!reference)
                break;
        }
    }
}

void SearchRun::leaveOut(const QString &path, bool isFolder)
{
    if (m_leftOutSeen.contains(path))
        return;
    m_leftOutSeen.insert(path);
    (isFolder ? m_foldersLeftOut : m_leftOut).append(path);
}

QString SearchRun::finalMessage(const QString &outcome) const
{
    QString text = outcome;
    if (m_full)
        text += QStringLiteral("\n\nThe list of equal files is full at %1 lines; the search stopped there.")
                    .arg(EqualLines::Capacity);
    const auto list = [&text](const QStringList &paths) {
        for (const QString &path : paths.mid(0, LeftOutShown))
            text += QLatin1Char('\n') + Messages::shownPath(path);
        if (paths.size() > LeftOutShown)
            text += QStringLiteral("\n...");
    };
    if (!m_leftOut.isEmpty()) {
        text += m_leftOut.size() == 1 ? QStringLiteral("\n\n1 file could not be read and was left out:")
                                      : QStringLiteral("\n\n%1 files could not be read and were left out:")
                                            .arg(m_leftOut.size());
        list(m_leftOut);
    }
    if (!m_foldersLeftOut.isEmpty()) {
        text += m_foldersLeftOut.size() == 1 ? QStringLiteral("\n\n1 folder could not be opened:")
                                             : QStringLiteral("\n\n%1 folders could not be opened:")
                                                   .arg(m_foldersLeftOut.size());
        list(m_foldersLeftOut);
    }
    return text;
}

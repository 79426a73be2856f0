// One search run, on the window's thread; every yield may run any other handler of the window.
#include "SearchRun.h"

#include "CommonTools.h"
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

QString bucketFileName(const QString &workFolder, qint64 size)
{
    return workFolder + QLatin1Char('/') + QString::number(size) + QStringLiteral(".tmp");
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
        return {{}, QStringLiteral("The folder must be a full path, starting with \"/\": ") + typed};
    const QFileInfo info(path);
    if (!info.exists())
        return {{}, QStringLiteral("Folder not found: ") + typed};
    if (!info.isDir())
        return {{}, QStringLiteral("Not a folder: ") + typed};
    const QString canonical = info.canonicalFilePath();
    if (canonical.isEmpty())
        return {{}, QStringLiteral("Folder not found: ") + typed};
    return {canonical, {}};
}

void SearchRun::run()
{
    CommonTools &common = CommonTools::instance();
    m_leftOut.clear();
    m_leftOutSeen.clear();

    m_host.enterRunning();
    m_host.setStatus(QStringLiteral("Searching for files..."));
    m_host.yield();

    const Folder folder = resolveFolder(m_host.folderText());
    if (!folder.problem.isEmpty()) {
        // Nothing has changed yet: the lists, the proposals and the buckets stay as they were.
        m_state.StopRequested = false;
        m_host.showMessage(folder.problem);
        m_host.leaveRunning();
        return;
    }

    gather(folder.path);

    m_state.DestinedFiles = TextList();
    m_state.DestinedPairs.clear();
    m_state.ReferenceFiles = TextList();

    writeBuckets();

    const QStringList buckets = SystemTools::instance().ListFiles(m_state.WorkFolder, 0, 0);
    const int groups = int(buckets.size());
    for (int g = 1; g <= groups; ++g) {
        const int m = int(buckets.size());
        m_host.setStatus(QStringLiteral("Comparing group %1 of %2 (%3)...")
                             .arg(g).arg(m).arg(common.PercentText(g, m)));
        m_host.yield();
        m_host.setStatusB(QString());
        m_host.yield();
        readGroup(buckets.at(g - 1));
        if (m_state.PathList.count() > 1)
            compareGroup();
        if (m_state.StopRequested)
            break;
        m_state.PathList = TextList();
        m_state.RealFiles.clear();
    }

    m_host.clearDestined();
    for (const QString &path : m_state.DestinedFiles.items())
        m_host.appendDestined(path);

    if (m_state.StopRequested) {
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
    seeker.SkippedEntry = [this](const QString &path, bool) { leaveOut(path); };
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
    CommonTools &common = CommonTools::instance();
    const int count = int(m_state.SizeList.size());
    for (int i = 1; i <= count; ++i) {
        const int n = m_state.PathList.count();
        m_host.setStatus(QStringLiteral("Reading file %1 of %2 (%3)...").arg(i).arg(n).arg(common.PercentText(i, n)));
        m_host.yield();
        appendToBucket(m_state.PathList.item(i), m_state.RealFiles.at(std::size_t(i - 1)),
                       m_state.SizeList.at(std::size_t(i - 1)));
    }
    m_state.SizeList.clear();
    m_state.PathList = TextList();
    m_state.RealFiles.clear();
}

void SearchRun::appendToBucket(const QString &path, const DiskFile &real, qint64 size)
{
    // Bucket files only ever grow: a later search in the same window also meets the files
    // of earlier searches, and the older lines come first.
    const QString bucket = bucketFileName(m_state.WorkFolder, size);
    const QByteArray line = QFile::encodeName(path) + "\r\n";
    const int fd = ::open(QFile::encodeName(bucket).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        throw ToolkitError(QStringLiteral("Could not open ") + bucket + QStringLiteral(": ")
                           + ToolkitError::describeErrno(errno));
    qsizetype written = 0;
    while (written < line.size()) {
        const ssize_t n = ::write(fd, line.constData() + written, size_t(line.size() - written));
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
    m_state.BucketFiles[size].push_back(real);
}

void SearchRun::readGroup(const QString &bucketFile)
{
    m_state.PathList = TextList();
    m_state.RealFiles.clear();

    QFile file(bucketFile);
    if (!file.open(QIODevice::ReadOnly))
        throw ToolkitError(QStringLiteral("Could not read ") + bucketFile + QStringLiteral(": ") + file.errorString());
    const QByteArray content = file.readAll();
    file.close();

    bool sized = false;
    const QString name = QFileInfo(bucketFile).fileName();
    const qint64 size = name.endsWith(QLatin1String(".tmp")) ? name.chopped(4).toLongLong(&sized) : 0;
    m_groupSize = sized ? std::optional<qint64>(size) : std::nullopt;
    const auto known = sized ? m_state.BucketFiles.constFind(size) : m_state.BucketFiles.constEnd();

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

std::optional<FileText> SearchRun::ReadIntoMemory(int position, int No, int Total)
{
    CommonTools &common = CommonTools::instance();
    const QString &text = m_state.PathList.item(position);
    const QString &real = m_state.RealFiles.at(std::size_t(position - 1)).path;
    ++m_state.LoadCount;

    std::optional<FileText> content;
    try {
        if (real.isEmpty())
            return std::nullopt; // a line whose file this window never saw: nothing to open
        content = common.ReadFileText(real, m_groupSize);
    } catch (const ToolkitError &error) {
        // A file gone since it was found is no news (the delete button may have taken it);
        // one that exists but cannot be read is told at the end of the run.
        if (error.kind() == ToolkitError::Kind::General)
            throw;
        if (error.kind() == ToolkitError::Kind::Unreadable)
            leaveOut(real);
        return std::nullopt;
    }

    const QString percent = common.PercentText(No, Total);
    QString status = QStringLiteral("File loaded into memory:");
    if (Total > 0)
        status += QStringLiteral(" (") + percent + QLatin1Char(')');
    status += QLatin1Char(' ') + common.FileNameOf(text, 0);
    m_host.setStatusB(status);
    m_host.yield();
    return content;
}

void SearchRun::compareGroup()
{
    const CommonTools &common = CommonTools::instance();
    const auto whileComparing = [this] { m_host.yield(); };
    const int n = m_state.PathList.count();
    for (int j = 1; j <= n; ++j) {
        m_host.insertFileLine(m_state.PathList.item(j));
        const std::optional<FileText> reference = ReadIntoMemory(j, j, m_state.PathList.count());
        const int inner = m_state.PathList.count();
        for (int k = 1; k <= inner; ++k) {
            if (k != j && reference) {
                const std::optional<FileText> candidate = ReadIntoMemory(k, j, m_state.PathList.count());
                if (candidate && reference->equals(*candidate, whileComparing)) {
                    const QString &outer = m_state.PathList.item(j);
                    const QString &path = m_state.PathList.item(k);
                    const DiskFile &kept = m_state.RealFiles.at(std::size_t(j - 1));
                    const DiskFile &surplus = m_state.RealFiles.at(std::size_t(k - 1));
                    m_host.insertEqualLine(outer, path);
                    m_state.ReferenceFiles.append(outer);
                    // One file under two names is not a duplicate of itself.
                    if (!common.ListContains(m_state.ReferenceFiles, path)
                        && !common.ListContains(m_state.DestinedFiles, path) && !surplus.isSameFileAs(kept)) {
                        m_state.DestinedFiles.append(path);
                        m_state.DestinedPairs.push_back({surplus, kept});
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

void SearchRun::leaveOut(const QString &path)
{
    if (m_leftOutSeen.contains(path))
        return;
    m_leftOutSeen.insert(path);
    m_leftOut.append(path);
}

QString SearchRun::finalMessage(const QString &outcome) const
{
    if (m_leftOut.isEmpty())
        return outcome;
    QString text = outcome + QStringLiteral("\n\n%1 files could not be read and were left out:").arg(m_leftOut.size());
    for (const QString &path : m_leftOut.mid(0, LeftOutShown))
        text += QLatin1Char('\n') + path;
    return text;
}

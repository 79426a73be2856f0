// One search run, on the window's thread; every yield may run any other handler of the window.
#include "SearchRun.h"

#include "BucketIo.h"
#include "CommonTools.h"
#include "EventPump.h"
#include "FileDescriptor.h"
#include "FileSeeker.h"
#include "GroupReader.h"
#include "Messages.h"
#include "SearchHost.h"
#include "SearchState.h"
#include "SystemTools.h"
#include "ToolkitError.h"
#include "Worker.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

// How far the reading runs ahead of the comparison: enough that the reader is never idle
// while the window works through a group's pairs, little enough to cost nothing to drop.
constexpr std::size_t AheadGroups = 64;
constexpr qsizetype AheadFiles = 4096;

// Two threads read twice as fast from a cache or a fast drive; but at gigabytes a second they
// keep the whole system busy, and a screen reader then falls seconds behind the keys. One
// thread reads while one listens.
// On a share every read waits for the network, and more reads in flight hide that wait; a
// local disk is read as fast by two threads, and one leaves a screen reader enough of the machine.
int readingThreads(bool share)
{
    return share ? 8 : EventPump::readerListens() ? 1 : 2;
}

QString bucketName(qint64 size)
{
    return QString::number(size) + QStringLiteral(".tmp");
}

// In quotes, so that leading and trailing blanks can be seen.
QString quoted(const QString &path)
{
    return QLatin1Char('"') + Messages::shownPath(path) + QLatin1Char('"');
}

} // namespace

SearchRun::SearchRun(SearchState &state, SearchHost &host)
    : m_state(state), m_host(host)
{
}

SearchRun::~SearchRun() = default;

void SearchRun::pauseReading()
{
    if (m_reader)
        m_reader->pause();
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
    // The walk would not enter it: said now, rather than a search that finds nothing.
    const FileDescriptor fd(::open(QFile::encodeName(canonical).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (fd.isValid() && FileSeeker::isPseudoFileSystem(fd.get()))
        return {{}, QStringLiteral("Folder on a kernel file system, never searched: ") + quoted(typed)};
    return {canonical, {}, fd.isValid() && FileSeeker::isShare(fd.get())};
}

void SearchRun::run()
{
    m_leftOut.clear();

    const QString statusBefore = m_host.statusText();
    m_host.enterRunning();
    m_host.setStatus(QStringLiteral("Searching for files..."));
    m_host.setProgress(0);
    m_host.yield();

    // A stop while the folder is looked up ends the run as one during the walk does.
    const Folder folder = resolveAside(m_host.folderText()).value_or(Folder());
    if (!folder.problem.isEmpty()) {
        // Nothing has changed yet: the lists, the proposals, the buckets and the status lines
        // stay as they were.
        m_state.StopRequested = false;
        m_host.setStatus(statusBefore);
        m_host.showMessage(folder.problem);
        m_host.leaveRunning();
        return;
    }

    m_share = folder.share;
    gather(folder.path);

    m_state.DestinedFiles.clear();
    m_state.DestinedPairs.clear();
    m_state.CopySets.clear();
    m_state.RunFirstGroup = m_state.Equal.groupCount();
    m_keptAndProposed.clear();
    m_filesShown = m_state.Files.count();
    m_equalShown = m_state.Equal.lineCount();

    writeBuckets();
    compareAll();
    publish();

    m_host.showDestined();

    if (m_state.StopRequested || m_full) {
        m_state.StopRequested = false;
        m_host.showMessage(finalMessage(QStringLiteral("Canceled!")));
    } else {
        m_host.showMessage(finalMessage(QStringLiteral("DONE!")));
    }
    m_host.leaveRunning();
}

// The folder typed is looked up on a thread of its own: where it lies on a share that sleeps,
// only that thread waits, and X or a close still end the run. Nothing on a stop.
std::optional<SearchRun::Folder> SearchRun::resolveAside(const QString &typed)
{
    struct Answer
    {
        std::mutex mutex;
        std::condition_variable found;
        std::optional<Folder> folder;
    };
    const auto answer = std::make_shared<Answer>();
    const Worker lookUp([answer, typed](const std::atomic<bool> &) {
        Folder folder = resolveFolder(typed);
        const std::lock_guard lock(answer->mutex);
        answer->folder = std::move(folder);
        answer->found.notify_all();
    });
    // A stop gives the lookup a little longer: a folder that is not there is told as such,
    // as when the lookup was quicker than the click.
    QElapsedTimer sinceStop;
    for (;;) {
        {
            std::unique_lock lock(answer->mutex);
            if (answer->found.wait_for(lock, std::chrono::milliseconds(2), [&] { return answer->folder.has_value(); }))
                return std::move(answer->folder);
        }
        if (m_state.StopRequested && !sinceStop.isValid())
            sinceStop.start();
        if (sinceStop.isValid() && sinceStop.elapsed() >= 50)
            return std::nullopt;
        m_host.yield();
    }
}

void SearchRun::gather(const QString &folder)
{
    m_state.PathList.clear();
    m_state.SizeList = {};

    m_state.ImageSeek = std::make_unique<FileSeeker>();
    FileSeeker &seeker = *m_state.ImageSeek;
    seeker.FoundFile = [this](const QString &FileName, const QString &Path) { ImageSeek_FoundFile(FileName, Path); };
    seeker.SkippedEntry = [this](const QString &path, bool isFolder, FileSeeker::Skip why) {
        if (why == FileSeeker::Skip::CannotOpen)
            m_leftOut.add(path, isFolder ? LeftOut::Why::Folder : LeftOut::Why::Unreadable);
        else
            m_leftOut.add(path, isFolder ? LeftOut::Why::FolderByName : LeftOut::Why::FileByName,
                     why == FileSeeker::Skip::NameNotUtf8 ? QStringLiteral("its name is not valid UTF-8")
                                                          : QStringLiteral("its path is longer than the system allows"));
    };
    seeker.Yield = [this] { m_host.yield(); };
    // A stop ends the walk: on a share that sleeps it would never end by itself.
    seeker.Stopped = [this] { return m_state.StopRequested; };
    if (m_host.subFoldersTicked())
        seeker.IncludeSubFolders = true;
    seeker.Folder = folder;
    seeker.Pattern = QStringLiteral("*.*");
    if (!m_state.StopRequested)
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
    // A folder's name is told once, not once for every file below it.
    const auto lineBreak = std::find_if(full.cbegin(), full.cend(), [](QChar c) { return c == u'\n' || c == u'\r'; });
    if (lineBreak != full.cend()) {
        const qsizetype folderEnd = full.indexOf(QLatin1Char('/'), lineBreak - full.cbegin());
        const QString why = QStringLiteral("its name holds a line break");
        if (folderEnd < 0)
            m_leftOut.add(full, LeftOut::Why::FileByName, why);
        else
            m_leftOut.add(full.left(folderEnd + 1), LeftOut::Why::FolderByName, why);
        return;
    }
    // Kept as found; the lower-cased text is made from it wherever it is shown or written.
    const FileSeeker::Found &found = m_state.ImageSeek->found();
    m_state.PathList.append(m_state.Paths.add(QFile::encodeName(full), found.id));
    m_state.SizeList.push_back(found.size);
}

void SearchRun::writeBuckets()
{
    // Each bucket's new lines are written with one open and close, not one per file; the
    // lines and their order are the same.
    QHash<qint64, std::size_t> linesBefore;
    std::vector<qint64> sizes; // in the order first met
    const int count = int(m_state.SizeList.size());
    for (int i = 1; i <= count; ++i) {
        m_status = Status::Reading;
        m_statusPart = i;
        m_statusWhole = m_state.PathList.count();
        yieldPoint();
        // The files not yet sorted in are dropped: the buckets are left as if never found.
        if (m_state.StopRequested)
            break;
        const qint64 size = m_state.SizeList.at(std::size_t(i - 1));
        std::vector<PathStore::Id> &lines = m_state.BucketFiles[size];
        if (!linesBefore.contains(size)) {
            linesBefore.insert(size, lines.size());
            sizes.push_back(size);
        }
        lines.push_back(m_state.PathList.idAt(i));
    }
    m_state.SizeList = {};
    m_state.PathList.clear();
    m_io = std::make_unique<BucketIo>(m_state.WorkFolder);
    if (sizes.empty())
        return;
    readWhileWriting();
    for (const qint64 size : sizes) {
        const std::vector<PathStore::Id> &files = m_state.BucketFiles[size];
        QByteArray lines;
        for (std::size_t i = linesBefore.value(size); i < files.size(); ++i) {
            lines += m_state.Paths.loweredNative(files[i]);
            lines += "\r\n";
            if ((i & 4095) == 4095)
                m_host.breathe(); // one size may have hundreds of thousands of files
        }
        m_io->append(bucketName(size), lines);
        m_appended.push_back({size, linesBefore.value(size)});
        m_host.breathe();
    }
}

// The writes not yet begun are never made, and the window forgets the lines they held.
void SearchRun::stopBucketing()
{
    const std::size_t begun = std::size_t(m_io->stopWriting());
    for (std::size_t i = begun; i < m_appended.size(); ++i) {
        const auto &[size, before] = m_appended[i];
        if (before == 0)
            m_state.BucketFiles.remove(size);
        else
            m_state.BucketFiles[size].resize(before);
    }
    m_appended.clear();
}

// The next answer about the bucket files; the window is served meanwhile.
BucketIo::Answer SearchRun::awaitBuckets()
{
    for (;;) {
        if (m_state.StopRequested && !m_appended.empty())
            stopBucketing();
        if (std::optional<BucketIo::Answer> answer = m_io->next(std::chrono::milliseconds(1))) {
            if (!answer->error.isEmpty())
                throw ToolkitError(answer->error);
            return std::move(*answer);
        }
        publish();
        m_host.breathe();
    }
}

// The groups are known before their bucket files are written: reading starts on the first of
// them now, in the order the workspace will list them, and goes on while the files are written.
void SearchRun::readWhileWriting()
{
    if (m_state.StopRequested)
        return;
    using Group = QHash<qint64, std::vector<PathStore::Id>>::const_iterator;
    std::vector<std::pair<QString, Group>> groups;
    for (auto it = m_state.BucketFiles.cbegin(); it != m_state.BucketFiles.cend(); ++it) {
        if (it->size() > 1)
            groups.emplace_back(bucketName(it.key()), it);
    }
    std::sort(groups.begin(), groups.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    m_reader = std::make_unique<GroupReader>(readingThreads(m_share));
    for (const auto &[name, group] : groups) {
        if (m_prequeued.size() >= AheadGroups || m_reader->queuedFiles() >= AheadFiles)
            break;
        (void)queueForReading(*group, group.key());
        m_prequeued.push_back(group.key());
    }
}

void SearchRun::compareAll()
{
    m_io->list();
    QStringList buckets = awaitBuckets().names;
    m_appended.clear(); // every write asked for came before the listing
    for (QString &name : buckets)
        name = m_state.WorkFolder + QLatin1Char('/') + name;
    // A stop before the comparison: no file is read any more, not even those read ahead.
    if (m_state.StopRequested && m_reader) {
        m_reader->discardAll();
        m_prequeued.clear();
    }
    if (!m_reader)
        m_reader = std::make_unique<GroupReader>(readingThreads(m_share));
    m_ahead.clear();
    m_nextBucket = 0;
    m_nextRead = 0;
    m_readsAsked = 0;
    const int groups = int(buckets.size());
    for (int g = 1; g <= groups; ++g) {
        m_status = Status::Comparing;
        m_statusPart = g;
        m_statusWhole = int(buckets.size());
        yieldPoint();
        m_statusBText = true;
        m_statusBValue.clear();
        yieldPoint();
        readAhead(buckets);
        Bucket bucket = std::move(m_ahead.front());
        m_ahead.pop_front();
        m_groupSize = bucket.size;
        m_state.PathList.assign(std::move(bucket.files));
        if (m_state.PathList.count() > 1) {
            compareGroup(bucket.queued);
            // The group's paths go with it: the last load's status is made while they are here.
            if (!m_loadShown) {
                m_statusBValue = loadStatus();
                m_statusBText = true;
                m_loadShown = true;
            }
        }
        if (m_state.StopRequested || m_full)
            break;
        m_state.PathList.clear();
    }
    // Nothing is read behind the final message, nor after the run.
    m_reader.reset();
    m_prequeued.clear();
    m_io.reset();
    m_ahead.clear();
}

// The current group's bucket is read back now at the latest; while the reader has little
// queued, the groups after it are read back too, and their files queued for reading.
void SearchRun::readAhead(const QStringList &buckets)
{
    askForBuckets(buckets);
    while (m_nextBucket < buckets.size()
           && (m_ahead.empty()
               || (!m_state.StopRequested && m_ahead.size() < AheadGroups && m_reader->queuedFiles() < AheadFiles))) {
        m_ahead.push_back(readBucket(buckets));
        ++m_nextBucket;
        Bucket &bucket = m_ahead.back();
        if (bucket.files.size() > 1 && !m_prequeued.empty()) {
            const qint64 foreseen = m_prequeued.front();
            m_prequeued.pop_front();
            const auto known = m_state.BucketFiles.constFind(foreseen);
            if (bucket.size == foreseen && bucket.files == *known) {
                bucket.queued = true;
                continue;
            }
            // The workspace lists something else than foreseen: the reading starts over, in its order.
            m_reader->discardAll();
            m_prequeued.clear();
            for (Bucket &waiting : m_ahead)
                waiting.queued = !m_state.StopRequested && queueForReading(waiting.files, waiting.size);
            continue;
        }
        bucket.queued = !m_state.StopRequested && queueForReading(bucket.files, bucket.size);
    }
}

bool SearchRun::queueForReading(const std::vector<PathStore::Id> &ids, std::optional<qint64> size)
{
    if (ids.size() < 2)
        return false;
    std::vector<DiskFile> files;
    files.reserve(ids.size());
    for (const PathStore::Id id : ids) {
        files.push_back(m_state.Paths.isKnown(id) ? m_state.Paths.file(id) : DiskFile());
        if ((files.size() & 4095) == 0)
            m_host.breathe(); // a group may have hundreds of thousands of files
    }
    m_reader->queue(std::move(files), size.value_or(-1));
    return true;
}

// Whether a bucket file must be read back: most sizes are met once, and a bucket of one line
// that this window wrote is known without reading it, since nobody else writes into the
// window's private folder.
bool SearchRun::mustRead(const QString &bucketFile) const
{
    const std::optional<qint64> size = sizeOfBucket(bucketFile);
    const auto known = size ? m_state.BucketFiles.constFind(*size) : m_state.BucketFiles.constEnd();
    return known == m_state.BucketFiles.constEnd() || known->size() != 1;
}

std::optional<qint64> SearchRun::sizeOfBucket(const QString &bucketFile)
{
    bool sized = false;
    const QString name = bucketFile.mid(bucketFile.lastIndexOf(QLatin1Char('/')) + 1);
    const qint64 size = name.endsWith(QLatin1String(".tmp")) ? name.chopped(4).toLongLong(&sized) : 0;
    return sized ? std::optional(size) : std::nullopt;
}

// The reads of the bucket files to come are asked for a few ahead, in the order they are taken.
void SearchRun::askForBuckets(const QStringList &buckets)
{
    constexpr int ReadsAhead = 64;
    m_nextRead = std::max(m_nextRead, m_nextBucket);
    for (; m_nextRead < buckets.size() && m_readsAsked < ReadsAhead; ++m_nextRead) {
        const QString &bucket = buckets.at(m_nextRead);
        if (mustRead(bucket)) {
            m_io->read(bucket.mid(bucket.lastIndexOf(QLatin1Char('/')) + 1));
            ++m_readsAsked;
        }
    }
}

SearchRun::Bucket SearchRun::readBucket(const QStringList &buckets)
{
    const QString &bucketFile = buckets.at(m_nextBucket);
    Bucket bucket;
    bucket.size = sizeOfBucket(bucketFile);
    const auto known = bucket.size ? m_state.BucketFiles.constFind(*bucket.size) : m_state.BucketFiles.constEnd();
    if (!mustRead(bucketFile)) {
        bucket.files = *known;
        return bucket;
    }
    askForBuckets(buckets);
    const QByteArray content = awaitBuckets().content;
    --m_readsAsked;

    qsizetype start = 0;
    for (std::size_t line = 0; start < content.size(); ++line) {
        qsizetype end = content.indexOf("\r\n", start);
        const qsizetype next = end < 0 ? content.size() : end + 2;
        if (end < 0)
            end = content.size();
        const QByteArrayView text = QByteArrayView(content).sliced(start, end - start);
        start = next;
        // The file behind the line, where the line is still what this window wrote there;
        // any other line names no file the walk found.
        if (known != m_state.BucketFiles.constEnd() && line < known->size()
            && m_state.Paths.isLoweredNative((*known)[line], text))
            bucket.files.push_back((*known)[line]);
        else
            bucket.files.push_back(m_state.Paths.add(text, FileId()));
        if ((line & 1023) == 1023)
            m_host.breathe();
    }
    return bucket;
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
    case Status::Reading:
        m_host.setProgress(int(std::llround(100.0 * m_statusPart / std::max(m_statusWhole, 1))));
        m_host.setStatus(QStringLiteral("Reading file %1 of %2 (%3)...")
                             .arg(m_statusPart).arg(m_statusWhole).arg(common.PercentText(m_statusPart, m_statusWhole)));
        break;
    case Status::Comparing:
        m_host.setProgress(int(std::llround(100.0 * m_statusPart / std::max(m_statusWhole, 1))));
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
    const int files = m_state.Files.count();
    if (files != m_filesShown) {
        m_host.fileLinesAdded(files - m_filesShown);
        m_filesShown = files;
    }
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

void SearchRun::noteLoad(int index, int No, int Total)
{
    m_loadShown = false;
    m_statusBText = false;
    m_loadIndex = index;
    m_loadNo = No;
    m_loadTotal = Total;
}

bool SearchRun::ReadIntoMemory(int index, int No, int Total)
{
    ++m_state.LoadCount;
    const auto leftOut = [this, index](LeftOut::Why why) {
        m_leftOut.add(m_state.Paths.path(m_state.PathList.idAt(index + 1)), why);
        return false;
    };
    switch (m_content.stateOf(index)) {
    case GroupContent::State::Loaded:
        break;
    case GroupContent::State::Unreadable:
        // One that exists but cannot be read is told at the end of the run; one gone since it
        // was found is no news (the delete button may have taken it).
        return leftOut(LeftOut::Why::Unreadable);
    case GroupContent::State::Gone:
        return false;
    }
    noteLoad(index, No, Total);
    yieldPoint();
    return true;
}

void SearchRun::compareGroup(bool queued)
{
    if (!takeContent(queued))
        return;
    takeClasses();
    const std::vector<PathStore::Id> &ids = m_state.PathList.ids();
    m_keptAndProposed.beginGroup(m_state.Paths, ids, [this] { m_host.breathe(); });
    m_state.Equal.beginGroup(ids, m_classes.classOf);

    const int n = m_state.PathList.count();
    for (int j = 0; j < n; ++j) {
        m_state.Files.append(ids[std::size_t(j)]);
        const bool reference = ReadIntoMemory(j, j + 1, n);
        const int cls = m_classes.classOf[std::size_t(j)];
        bool madeReference = false;
        for (int k = 0; k < n;) {
            if (reference && passInBulk(j, k, madeReference))
                continue;
            if (k != j && reference) {
                if (ReadIntoMemory(k, j + 1, n) && m_classes.classOf[std::size_t(k)] == cls) {
                    if (!m_state.Equal.addLines(1)) {
                        m_full = true;
                        return;
                    }
                    if (!std::exchange(madeReference, true))
                        m_keptAndProposed.keep(j);
                    consider(k, j);
                }
            }
            if (m_state.StopRequested)
                return;
            // An outer file that could not be loaded is compared with nothing.
            if (!reference)
                break;
            ++k;
        }
        // A whole pass has been made over the class: each member now stands as kept or proposed.
        if (madeReference)
            m_classes.settled[std::size_t(cls)] = 1;
    }
}

// The group's content, read ahead or read now. False when a stop came before it was read: the
// group then ends as a stop served during the load of its first file does.
bool SearchRun::takeContent(bool queued)
{
    // A group read ahead is compared as ever, a stop included; one that is not read when a
    // stop comes is not waited for.
    std::optional<GroupContent> content;
    if (queued || !m_state.StopRequested) {
        if (!queued)
            (void)queueForReading(m_state.PathList.ids(), m_groupSize);
        // A screen reader's questions are answered between the slices: shorter ones for it.
        const auto slice = EventPump::readerListens() ? std::chrono::microseconds(500) : std::chrono::milliseconds(2);
        content = m_reader->take([this] {
            if (!m_state.StopRequested)
                serve();
            return !m_state.StopRequested;
        }, slice);
    }
    if (!content) {
        // Nothing more of the group is read.
        m_state.Files.append(m_state.PathList.idAt(1));
        ++m_state.LoadCount;
        noteLoad(0, 1, m_state.PathList.count());
        return false;
    }
    m_content = std::move(*content);
    return true;
}

void SearchRun::takeClasses()
{
    const int n = m_state.PathList.count();
    Classes &c = m_classes;
    c = Classes();
    c.classOf.assign(std::size_t(n), -1);
    for (int p = 0; p < n; ++p) {
        if (m_content.stateOf(p) != GroupContent::State::Loaded) {
            c.allLoaded = false;
            continue;
        }
        const int cls = m_content.classOf(p);
        c.classOf[std::size_t(p)] = cls;
        if (std::size_t(cls) >= c.members.size())
            c.members.resize(std::size_t(cls) + 1);
        c.members[std::size_t(cls)].push_back(p);
    }
    c.settled.assign(c.members.size(), 0);
    c.set.assign(c.members.size(), -1);
}

// A file equal to the kept one at `j`: proposed, unless that would free no space.
void SearchRun::consider(int k, int j)
{
    if (!m_keptAndProposed.propose(k))
        return;
    const PathStore::Id inner = m_state.PathList.idAt(k + 1);
    m_state.DestinedFiles.append(inner);
    m_state.DestinedPairs.push_back({inner, setOf(j)});
}

// The set of equal files kept at `j`, made when its first copy is proposed: the user may
// later keep another of its names instead.
int SearchRun::setOf(int j)
{
    const std::size_t cls = std::size_t(m_classes.classOf[std::size_t(j)]);
    int &set = m_classes.set[cls];
    if (set < 0) {
        CopySet made{{}, m_state.PathList.idAt(j + 1), m_groupSize.value_or(0)};
        for (const int member : m_classes.members[cls])
            made.names.push_back(m_state.PathList.idAt(member + 1));
        set = int(m_state.CopySets.size());
        m_state.CopySets.push_back(std::move(made));
    }
    return set;
}

// The loads from `k` on that come before the event loop could next be due have no effect but
// to be counted, to add lines, and to propose files: they are made in one step, with exactly
// the outcome of making them one by one. False when they must be made one by one: a file of
// the group could not be loaded, a stop is pending, or the equal list is nearly full.
bool SearchRun::passInBulk(int j, int &k, bool &madeReference)
{
    const quint32 points = EventPump::pointsWithoutCheck();
    if (points == 0 || !m_classes.allLoaded || m_state.StopRequested)
        return false;
    const int n = m_state.PathList.count();
    int end = int(std::min<qint64>(n, qint64(k) + points));
    const bool skipsOuter = j >= k && j < end;
    if (skipsOuter && end < n)
        ++end; // the outer position is no load, and passes no point
    const int loads = end - k - (skipsOuter ? 1 : 0);
    if (loads <= 0)
        return false;
    const int cls = m_classes.classOf[std::size_t(j)];
    const std::vector<int> &members = m_classes.members[std::size_t(cls)];
    const auto first = std::lower_bound(members.begin(), members.end(), k);
    const auto last = std::lower_bound(first, members.end(), end);
    const qint64 lines = qint64(last - first) - (skipsOuter ? 1 : 0);
    if (!m_state.Equal.addLines(lines))
        return false;
    if (lines > 0) {
        if (!std::exchange(madeReference, true))
            m_keptAndProposed.keep(j);
        if (!m_classes.settled[std::size_t(cls)]) {
            for (auto it = first; it != last; ++it) {
                if (*it != j)
                    consider(*it, j);
            }
        }
    }
    m_state.LoadCount += quint64(loads);
    noteLoad(end - 1 == j ? end - 2 : end - 1, j + 1, n);
    EventPump::passPoints(quint32(loads));
    k = end;
    return true;
}

QString SearchRun::finalMessage(const QString &outcome) const
{
    QString text = outcome;
    if (m_full)
        text += QStringLiteral("\n\nThe list of equal files is full at %1 lines; the search stopped there.")
                    .arg(EqualLines::Capacity);
    return text + m_leftOut.sections();
}

// One search run: gathering, size buckets, pairwise comparison, and the final report.
#pragma once

#include "BucketIo.h"
#include "GroupContent.h"
#include "KeptAndProposed.h"
#include "LeftOut.h"
#include "PathStore.h"

#include <QSet>
#include <QString>
#include <QStringList>

#include <deque>
#include <memory>
#include <optional>

class GroupReader;
class SearchHost;
struct SearchState;

class SearchRun
{
public:
    SearchRun(SearchState &state, SearchHost &host);
    ~SearchRun();

    // The whole run, from the running state to the idle state after the final message.
    // Throws RunAbandoned when the window is closed meanwhile, ToolkitError when the
    // scratch folder fails.
    void run();

    // The run does not go on behind a modal box: the window calls this before it shows one
    // while the run waits for files to be read. The reading starts again after the box.
    void pauseReading();

    // The folder to search as an absolute path without links, "." or ".." (so the same
    // folder gives the same texts in every run), or the message that says what is wrong.
    struct Folder
    {
        QString path;
        QString problem;
        bool share = false;
    };
    [[nodiscard]] static Folder resolveFolder(const QString &typed);
    [[nodiscard]] std::optional<Folder> resolveAside(const QString &typed);

    // One file reported by the seeker.
    void ImageSeek_FoundFile(const QString &FileName, const QString &Path);

    // The load of the file at `index` (from 0) of the group: counted, and told in the second
    // status line. Its content was read when the group was examined; false when the file is
    // gone or could not be read (the latter is reported at the end).
    bool ReadIntoMemory(int index, int No, int Total);

private:
    // One bucket file read back: the size its name gives, and the file behind each line.
    struct Bucket
    {
        std::optional<qint64> size;
        std::vector<PathStore::Id> files;
        bool queued = false; // handed to the reader
    };

    void gather(const QString &folder);
    void writeBuckets();
    void stopBucketing();
    [[nodiscard]] BucketIo::Answer awaitBuckets();
    void readWhileWriting();
    void compareAll();
    [[nodiscard]] bool mustRead(const QString &bucketFile) const;
    [[nodiscard]] static std::optional<qint64> sizeOfBucket(const QString &bucketFile);
    void askForBuckets(const QStringList &buckets);
    [[nodiscard]] Bucket readBucket(const QStringList &buckets);
    void readAhead(const QStringList &buckets);
    [[nodiscard]] bool queueForReading(const std::vector<PathStore::Id> &ids, std::optional<qint64> size);
    void compareGroup(bool queued);
    [[nodiscard]] bool takeContent(bool queued);
    void takeClasses();
    void consider(int k, int j);
    [[nodiscard]] int setOf(int j);
    [[nodiscard]] bool passInBulk(int j, int &k, bool &madeReference);
    [[nodiscard]] QString finalMessage(const QString &outcome) const;

    // A yield point: the window is served when the event loop is due.
    void yieldPoint();
    void serve();
    // Brings the status lines and the lists up to date with the run.
    void publish();
    void noteLoad(int index, int No, int Total);
    [[nodiscard]] QString loadStatus() const;

    // The current group's classes of equal bytes, by position and by class, so that each of
    // a hundred million pairs costs array look-ups.
    struct Classes
    {
        std::vector<int> classOf;              // -1: not loaded
        std::vector<std::vector<int>> members; // each class's positions, ascending
        std::vector<char> settled;             // each member of the class is kept or proposed
        std::vector<int> set;                  // in the state's CopySets, -1 until a copy is proposed
        bool allLoaded = true;
    };

    SearchState &m_state;
    SearchHost &m_host;
    std::optional<qint64> m_groupSize; // the size every file of the current group had
    GroupContent m_content;
    Classes m_classes;
    KeptAndProposed m_keptAndProposed;
    std::unique_ptr<GroupReader> m_reader; // during the comparison only
    std::unique_ptr<BucketIo> m_io;        // from the writing of the buckets to the end of the comparison
    // The sizes whose new lines are being written, in order, with the count of lines before.
    std::vector<std::pair<qint64, std::size_t>> m_appended;
    qsizetype m_nextRead = 0;              // the next bucket file whose read may be asked for
    int m_readsAsked = 0;
    std::deque<Bucket> m_ahead;            // read back, not yet compared
    std::deque<qint64> m_prequeued;        // sizes queued before the workspace was listed
    qsizetype m_nextBucket = 0;
    LeftOut m_leftOut;
    bool m_full = false; // the equal list can count no more lines
    bool m_share = false; // the folder searched is on a share

    // The status lines' texts are made only when they will be shown.
    enum class Status { Unchanged, Reading, Comparing };
    Status m_status = Status::Unchanged;
    int m_statusPart = 0, m_statusWhole = 0;
    bool m_loadShown = true;
    bool m_statusBText = false;
    QString m_statusBValue;
    int m_loadIndex = 0, m_loadNo = 0, m_loadTotal = 0;
    int m_filesShown = 0, m_equalShown = 0;
};

// One search run: gathering, size buckets, pairwise comparison, and the final report.
#pragma once

#include "GroupContent.h"

#include <QHash>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

class SearchHost;
struct DiskFile;
struct SearchState;

class SearchRun
{
public:
    SearchRun(SearchState &state, SearchHost &host);

    // The whole run, from the running state to the idle state after the final message.
    // Throws RunAbandoned when the window is closed meanwhile, ToolkitError when the
    // scratch folder fails.
    void run();

    // The folder to search as an absolute path without links, "." or ".." (so the same
    // folder gives the same texts in every run), or the message that says what is wrong.
    struct Folder
    {
        QString path;
        QString problem;
    };
    [[nodiscard]] static Folder resolveFolder(const QString &typed);

    // One file reported by the seeker.
    void ImageSeek_FoundFile(const QString &FileName, const QString &Path);

    // The load of the file at `index` (from 0) of the group: counted, and told in the second
    // status line. Its content was read when the group was examined; false when the file is
    // gone or unreadable (the latter is reported at the end).
    bool ReadIntoMemory(int index, int No, int Total);

private:
    using Identity = QPair<quint64, quint64>;

    void gather(const QString &folder);
    void writeBuckets();
    void readGroup(const QString &bucketFile);
    void compareGroup();
    void leaveOut(const QString &path, bool isFolder = false);
    [[nodiscard]] QString finalMessage(const QString &outcome) const;

    // A yield point: the window is served when the event loop is due.
    void yieldPoint();
    void serve();
    // Brings the status lines and the equal list up to date with the run.
    void publish();
    [[nodiscard]] QString loadStatus() const;

    SearchState &m_state;
    SearchHost &m_host;
    std::optional<qint64> m_groupSize; // the size every file of the current group had
    GroupContent m_content;
    QStringList m_leftOut, m_foldersLeftOut;
    QSet<QString> m_leftOutSeen;
    bool m_full = false; // the equal list can count no more lines

    // What the run has made a reference or proposed, by text and by identity: a file that is
    // the same file as a kept copy is that copy, whatever its name.
    QSet<QString> m_referenceTexts;
    QSet<Identity> m_referenceIds, m_destinedIds;

    // The status lines' texts are made only when they will be shown.
    enum class Status { Unchanged, Text, Reading, Comparing };
    Status m_status = Status::Unchanged;
    QString m_statusText;
    int m_statusPart = 0, m_statusWhole = 0;
    bool m_loadShown = true;
    bool m_statusBText = false;
    QString m_statusBValue;
    int m_loadIndex = 0, m_loadNo = 0, m_loadTotal = 0;
    int m_equalShown = 0;
};

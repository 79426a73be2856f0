// One search run: gathering, size buckets, pairwise comparison, and the final report.
#pragma once

#include "FileText.h"

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

    // Loads the file at `position` of the group and tells so in the second status line.
    // Gives nothing when the file is gone or unreadable (the latter is reported at the end).
    std::optional<FileText> ReadIntoMemory(int position, int No, int Total);

private:
    void gather(const QString &folder);
    void writeBuckets();
    void appendToBucket(const QString &path, const DiskFile &real, qint64 size);
    void readGroup(const QString &bucketFile);
    void compareGroup();
    void leaveOut(const QString &path);
    [[nodiscard]] QString finalMessage(const QString &outcome) const;

    SearchState &m_state;
    SearchHost &m_host;
    std::optional<qint64> m_groupSize; // the size every file of the current group had
    QStringList m_leftOut;
    QSet<QString> m_leftOutSeen;
};

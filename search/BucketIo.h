// The bucket files' writes and reads, on a thread of their own, in the order they are asked for.
#pragma once

#include "Worker.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>
#include <optional>

// The window's thread asks and goes on; it takes the answers, in the order asked, when it is
// ready for them. A write is one whole batch of lines, so a bucket file only ever holds whole
// lines, whenever the writing stops. Out of descriptors, the thread waits for one to be free:
// nothing fails for want of them.
class BucketIo
{
public:
    explicit BucketIo(const QString &workFolder);
    ~BucketIo(); // lets go: writes not begun are never made
    BucketIo(const BucketIo &) = delete;
    BucketIo &operator=(const BucketIo &) = delete;

    void append(const QString &bucket, const QByteArray &lines);
    // The names of the workspace's files, once every write asked before is made.
    void list();
    void read(const QString &bucket);

    struct Answer
    {
        QStringList names;  // of a listing
        QByteArray content; // of a read
        QString error;      // what failed, for the user; the scratch folder cannot be trusted
    };
    // The next answer, if it comes within `wait`. Writes answer only when they fail.
    [[nodiscard]] std::optional<Answer> next(std::chrono::microseconds wait);

    // No write is begun from now on; how many of those asked were begun (made, or being made).
    [[nodiscard]] int stopWriting();

    // Waits until no bucket file of `workFolder` is being written or read, and lets nothing
    // begin there again: before the scratch folder is removed. Its files are local.
    static void settle(const QString &workFolder);

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
    std::unique_ptr<Worker> m_worker;
};

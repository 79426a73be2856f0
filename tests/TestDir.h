// Shared test fixtures: a scratch folder tree, answered message boxes, and a main that
// runs the tests as an ordinary user, so that permissions mean what they mean to users.
#pragma once

#include "Messages.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

// Root reads and removes every file whatever its mode, so a test of an unreadable file would
// prove nothing. Before anything else, a root test process becomes "nobody" with a home,
// runtime and data folder of its own.
// Returns the folder made for the test user, to be removed at the end, or the empty text.
inline QByteArray dropRootPrivileges()
{
    if (::geteuid() != 0)
        return {};
    constexpr uid_t nobody = 65534;
    char pattern[] = "/tmp/samelyn-test-XXXXXX";
    const char *home = ::mkdtemp(pattern);
    if (!home || ::chown(home, nobody, nobody) != 0)
        qFatal("cannot prepare a home for the test user");
    const QByteArray base(home);
    for (const char *sub : {"/runtime", "/data", "/tmp"}) {
        const QByteArray path = base + sub;
        if (::mkdir(path.constData(), 0700) != 0 || ::chown(path.constData(), nobody, nobody) != 0)
            qFatal("cannot prepare %s", path.constData());
    }
    ::setenv("HOME", home, 1);
    ::setenv("XDG_RUNTIME_DIR", (base + "/runtime").constData(), 1);
    ::setenv("XDG_DATA_HOME", (base + "/data").constData(), 1);
    ::setenv("TMPDIR", (base + "/tmp").constData(), 1);
    if (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0)
        qFatal("cannot drop root privileges");
    // Changing the user makes the process undumpable, which the leak checker cannot work with.
    ::prctl(PR_SET_DUMPABLE, 1);
    return base;
}

#define SAMELYN_TEST_MAIN(TestClass)                                                               \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        const QByteArray testHome = dropRootPrivileges();                                          \
        QApplication app(argc, argv);                                                              \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                   \
        TestClass test;                                                                            \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        const int failures = QTest::qExec(&test, argc, argv);                                      \
        if (!testHome.isEmpty())                                                                   \
            QDir(QString::fromLocal8Bit(testHome)).removeRecursively();                            \
        return failures;                                                                           \
    }

class TestDir
{
public:
    TestDir() { QVERIFY2(m_dir.isValid(), "no temporary folder"); }

    [[nodiscard]] QString path(const QString &relative = {}) const
    {
        return relative.isEmpty() ? m_dir.path() : m_dir.path() + QLatin1Char('/') + relative;
    }

    // Creates the file and its folders; returns its full path.
    QString createFile(const QString &relative, const QByteArray &bytes = {})
    {
        const QString full = path(relative);
        QDir().mkpath(QFileInfo(full).absolutePath());
        QFile file(full);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(full));
        return full;
    }

    QString createDir(const QString &relative)
    {
        QDir().mkpath(path(relative));
        return path(relative);
    }

    bool removeFile(const QString &relative) { return QFile::remove(path(relative)); }

private:
    QTemporaryDir m_dir;
};

// Creates the file `relative` below `folder`, with its folders, one name at a time from
// descriptors: its path may be longer than the system takes at once, and its names need not
// be valid UTF-8. Qt cannot remove such a tree; SystemTools::DeleteFolder can.
inline void createBelow(const QString &folder, const QByteArray &relative, const QByteArray &bytes = {})
{
    int at = ::open(QFile::encodeName(folder).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    const QList<QByteArray> names = relative.split('/');
    for (qsizetype i = 0; i + 1 < names.size() && at >= 0; ++i) {
        ::mkdirat(at, names[i].constData(), 0700);
        const int next = ::openat(at, names[i].constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        ::close(at);
        at = next;
    }
    const int fd = at < 0 ? -1 : ::openat(at, names.last().constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const bool written = fd >= 0 && ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    if (fd >= 0)
        ::close(fd);
    if (at >= 0)
        ::close(at);
    if (!written)
        qFatal("cannot write %s below %s", relative.constData(), qPrintable(folder));
}

// A path relative to a folder whose own path has `folderLength` bytes: folders of 200-byte
// names, then `tail`, so that the whole path has `length` bytes.
inline QByteArray relativeOfLength(qsizetype folderLength, qsizetype length, const QByteArray &tail)
{
    QByteArray relative;
    for (qsizetype room = length - folderLength - 1 - tail.size(); room > 0;) {
        const qsizetype name = room > 250 ? 200 : room - 1; // each name is followed by "/"
        if (name < 1)
            qFatal("no path of %lld bytes ends in %s", qlonglong(length), tail.constData());
        relative += QByteArray(name, 'd') + '/';
        room -= name + 1;
    }
    return relative + tail;
}

// Answers every message box at once and remembers its text. `onMessage` runs while the box
// would be showing, to look at the window at that moment.
class MessageCatcher
{
public:
    explicit MessageCatcher(std::function<void(const QString &)> onMessage = {})
    {
        Messages::setHandler([this, onMessage](QWidget *, const QString &text) {
            texts.append(text);
            if (onMessage)
                onMessage(text);
        });
    }
    ~MessageCatcher() { Messages::setHandler({}); }
    MessageCatcher(const MessageCatcher &) = delete;
    MessageCatcher &operator=(const MessageCatcher &) = delete;

    QStringList texts;
};

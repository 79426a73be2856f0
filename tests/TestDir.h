// Shared test fixtures: a home of the test's own, a scratch folder tree, answered message
// boxes, and a main that runs the tests as an ordinary user, so that permissions mean what
// they mean to users.
#pragma once

#include "Messages.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

// The folder made by makeTestHome(), with the test process's home, XDG folders and TMPDIR in it.
inline QByteArray &testHomeFolder()
{
    static QByteArray folder;
    return folder;
}

inline QString testHome()
{
    return QFile::decodeName(testHomeFolder());
}

// Before anything else, every test process gets a home, data, settings, cache, runtime and
// temporary folder of its own, so that no test reads or writes the user's own trash, and
// nothing is left behind once the folder is removed. Root reads and removes every file
// whatever its mode, so a test of an unreadable file would prove nothing: a root test
// process becomes "nobody" in that home.
inline void makeTestHome()
{
    const bool root = ::geteuid() == 0;
    constexpr uid_t nobody = 65534;
    // Root's own TMPDIR may be a folder that nobody cannot reach.
    const char *tmp = std::getenv("TMPDIR");
    QByteArray pattern = QByteArray(!root && tmp && *tmp ? tmp : "/tmp") + "/samelyn-test-XXXXXX";
    if (!::mkdtemp(pattern.data()) || (root && ::chown(pattern.constData(), nobody, nobody) != 0))
        qFatal("cannot prepare a home for the tests");
    testHomeFolder() = pattern;
    const struct { const char *sub, *variable; } folders[] = {
        {"/.local", nullptr}, {"/.local/share", "XDG_DATA_HOME"}, {"/.config", "XDG_CONFIG_HOME"},
        {"/.cache", "XDG_CACHE_HOME"}, {"/runtime", "XDG_RUNTIME_DIR"}, {"/tmp", "TMPDIR"},
    };
    for (const auto &[sub, variable] : folders) {
        const QByteArray path = pattern + sub;
        if (::mkdir(path.constData(), 0700) != 0 || (root && ::chown(path.constData(), nobody, nobody) != 0))
            qFatal("cannot prepare %s", path.constData());
        if (variable)
            ::setenv(variable, path.constData(), 1);
    }
    ::setenv("HOME", pattern.constData(), 1);
    if (!root)
        return;
    if (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0)
        qFatal("cannot drop root privileges");
    // Changing the user makes the process undumpable, which the leak checker cannot work with.
    ::prctl(PR_SET_DUMPABLE, 1);
}

#define SAMELYN_TEST_MAIN(TestClass)                                                               \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        makeTestHome();                                                                            \
        int failures = 0;                                                                          \
        {                                                                                          \
            QApplication app(argc, argv);                                                          \
            app.setAttribute(Qt::AA_Use96Dpi, true);                                               \
            TestClass test;                                                                        \
            QTEST_SET_MAIN_SOURCE_PATH                                                             \
            failures = QTest::qExec(&test, argc, argv);                                            \
        }                                                                                          \
        /* A test that leaves a folder it cannot remove has failed too. */                       \
        if (!QDir(testHome()).removeRecursively()) {                                               \
            qWarning("could not remove all of %s", testHomeFolder().constData());                  \
            ++failures;                                                                            \
        }                                                                                          \
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

// Reaching the display the way Qt's platform plugins will: the same choice of plugin, and for
// X11 the same client library, so that the answer is Qt's own.
#include "DisplayCheck.h"

#include "FileDescriptor.h"

#include <QDir>
#include <QFile>
#include <QLibrary>
#include <QLibraryInfo>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace {

bool waylandPluginInstalled()
{
    const QDir platforms(QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms"));
    return !platforms.entryList({QStringLiteral("libqwayland*")}, QDir::Files).isEmpty();
}

QString waylandTrouble()
{
    if (!waylandPluginInstalled())
        return QStringLiteral("Qt's Wayland plugin is not installed");
    // A compositor may hand its connection over ready-made.
    if (qEnvironmentVariableIsSet("WAYLAND_SOCKET"))
        return {};
    QString socketPath = qEnvironmentVariable("WAYLAND_DISPLAY", QStringLiteral("wayland-0"));
    if (!QDir::isAbsolutePath(socketPath)) {
        const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
        if (runtime.isEmpty())
            return QStringLiteral("XDG_RUNTIME_DIR is not set");
        socketPath = runtime + QLatin1Char('/') + socketPath;
    }
    const QByteArray native = QFile::encodeName(socketPath);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (native.size() >= static_cast<qsizetype>(sizeof address.sun_path))
        return QStringLiteral("the Wayland socket's name is too long");
    std::memcpy(address.sun_path, native.constData(), native.size());
    const FileDescriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.isValid())
        return QStringLiteral("no socket for Wayland");
    if (::connect(fd.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
        return QStringLiteral("the Wayland display %1 cannot be reached").arg(socketPath);
    return {};
}

} // namespace

// Asks libxcb, which Qt's X11 plugin uses and which is therefore present wherever that plugin
// can load, so that a server that refuses us (another user's session, say) counts as absent.
QString DisplayCheck::xcbTrouble(const QString &display)
{
    using Connect = xcb_connection_t *(*)(const char *, int *);
    using HasError = int (*)(xcb_connection_t *);
    using Disconnect = void (*)(xcb_connection_t *);

    const QString name = display.isEmpty() ? qEnvironmentVariable("DISPLAY") : display;
    if (name.isEmpty()) {
        return qEnvironmentVariableIsSet("WAYLAND_DISPLAY") ? QStringLiteral("DISPLAY is not set")
                                                             : QStringLiteral("neither DISPLAY nor WAYLAND_DISPLAY is set");
    }
    QLibrary xcb(QStringLiteral("xcb"), 1);
    const auto connect = reinterpret_cast<Connect>(xcb.resolve("xcb_connect"));
    const auto hasError = reinterpret_cast<HasError>(xcb.resolve("xcb_connection_has_error"));
    const auto disconnect = reinterpret_cast<Disconnect>(xcb.resolve("xcb_disconnect"));
    if (!connect || !hasError || !disconnect)
        return QStringLiteral("the X11 library libxcb is missing");
    // libxcb writes a refusing server's reason straight to stderr; ours is the one line said.
    const FileDescriptor savedStderr(::dup(STDERR_FILENO));
    const FileDescriptor quiet(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    if (savedStderr.isValid() && quiet.isValid())
        ::dup2(quiet.get(), STDERR_FILENO);
    xcb_connection_t *connection = connect(name.toLocal8Bit().constData(), nullptr);
    const bool failed = !connection || hasError(connection) != 0;
    if (savedStderr.isValid())
        ::dup2(savedStderr.get(), STDERR_FILENO);
    if (failed) {
        if (connection)
            disconnect(connection);
        return QStringLiteral("the X display %1 cannot be reached or refuses the connection").arg(name);
    }
    m_connection = connection;
    m_disconnect = disconnect;
    return {};
}

DisplayCheck::DisplayCheck(const QString &platform, const QString &display)
{
    // Qt's own order of choice: -platform, else QT_QPA_PLATFORM, else Wayland in a Wayland
    // session and X11 otherwise; it moves on along a list when a plugin cannot start.
    QString wanted = platform.isEmpty() ? qEnvironmentVariable("QT_QPA_PLATFORM") : platform;
    if (wanted.isEmpty()) {
        const bool waylandSession = qEnvironmentVariableIsSet("WAYLAND_DISPLAY")
            || qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland");
        wanted = waylandSession ? QStringLiteral("wayland;xcb") : QStringLiteral("xcb");
    }
    QStringList reasons;
    for (const QString &entry : wanted.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString plugin = entry.section(QLatin1Char(':'), 0, 0);
        QString reason;
        if (plugin == QLatin1String("xcb"))
            reason = xcbTrouble(display);
        else if (plugin.startsWith(QLatin1String("wayland")))
            reason = waylandTrouble();
        else
            return; // offscreen, vnc, a framebuffer...: Qt knows best.
        if (reason.isEmpty())
            return;
        reasons << reason;
    }
    if (!reasons.isEmpty())
        m_whyNot = QStringLiteral("cannot open a window: %1; start it from a desktop session").arg(reasons.join(QStringLiteral("; ")));
}

DisplayCheck::~DisplayCheck()
{
    if (m_connection)
        m_disconnect(m_connection);
}

// Opening through the desktop's own services: its default applications, and the file
// manager's D-Bus interface for showing a file in its folder.
#include "Opener.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace {

Opener::Handler &handler()
{
    static Opener::Handler h;
    return h;
}

// The file selected in its folder, where a file manager offers org.freedesktop.FileManager1;
// otherwise the folder, opened as any other. The answer is awaited without holding up the window.
bool showInFolder(const QString &path)
{
    const QUrl folder = QUrl::fromLocalFile(QFileInfo(path).path());
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return QDesktopServices::openUrl(folder);
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QString::fromLatin1(QUrl::fromLocalFile(path).toEncoded())} << QString();
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [folder](QDBusPendingCallWatcher *answer) {
        answer->deleteLater();
        // A file manager that is only slow to start will still show the file: a second window
        // of the folder would be one too many.
        const QDBusError::ErrorType error = answer->error().type();
        if (answer->isError() && error != QDBusError::NoReply && error != QDBusError::Timeout)
            QDesktopServices::openUrl(folder);
    });
    return true;
}

} // namespace

namespace Opener {

bool open(Target target, const QString &path)
{
    if (handler()) {
        const auto h = handler();
        return h(target, path);
    }
    if (target == Target::ContainingFolder)
        return showInFolder(path);
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void setHandler(Handler h)
{
    handler() = std::move(h);
}

} // namespace Opener

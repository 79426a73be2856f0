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
void showInFolder(const QString &path, const std::function<void()> &failed)
{
    const QUrl folder = QUrl::fromLocalFile(QFileInfo(path).path());
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        if (!QDesktopServices::openUrl(folder))
            failed();
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QString::fromLatin1(QUrl::fromLocalFile(path).toEncoded())} << QString();
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [folder, failed](QDBusPendingCallWatcher *answer) {
        answer->deleteLater();
        // A file manager that is only slow to start will still show the file: a second window
        // of the folder would be one too many.
        const QDBusError::ErrorType error = answer->error().type();
        if (answer->isError() && error != QDBusError::NoReply && error != QDBusError::Timeout
            && !QDesktopServices::openUrl(folder))
            failed();
    });
}

} // namespace

namespace Opener {

void open(Target target, const QString &path, const std::function<void()> &failed)
{
    if (handler()) {
        const auto h = handler();
        if (!h(target, path))
            failed();
        return;
    }
    if (target == Target::ContainingFolder)
        showInFolder(path, failed);
    else if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        failed();
}

void setHandler(Handler h)
{
    handler() = std::move(h);
}

} // namespace Opener

// Holding back Qt's platform messages while QApplication starts.
#include "StartupMessages.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <mutex>
#include <unistd.h>

namespace {

struct HeldMessage
{
    QtMsgType type;
    QByteArray file, function, category;
    int line;
    QString text;
};

std::mutex heldLock;
QList<HeldMessage> held;
QtMessageHandler previous = nullptr;

// What Qt says on its way to giving up on a display: noise when it then finds another.
bool isPlatformCategory(const char *category)
{
    const QByteArrayView name(category ? category : "");
    return name == "qt.qpa.plugin" || name == "qt.qpa.xcb" || name.startsWith("qt.qpa.xcb.");
}

void holdBack(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtFatalMsg) {
        // Qt gives up on every window system it tried, with advice to reinstall that would not
        // help. Its first warning says what went wrong.
        QString reason = text;
        {
            const std::lock_guard lock(heldLock);
            for (const HeldMessage &message : std::as_const(held)) {
                if (message.type == QtWarningMsg || message.type == QtCriticalMsg) {
                    reason = message.text;
                    break;
                }
            }
        }
        const QByteArray line = "samelyn: cannot open a window: " + reason.section(QLatin1Char('\n'), 0, 0).toLocal8Bit() + '\n';
        [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, line.constData(), line.size());
        // Not exit(): nothing of the program exists yet, and Qt is halfway through starting.
        ::_exit(1);
    }
    if (isPlatformCategory(context.category)) {
        const std::lock_guard lock(heldLock);
        held.append({type, context.file, context.function, context.category, context.line, text});
        return;
    }
    previous(type, context, text);
}

} // namespace

StartupMessages::StartupMessages()
{
    previous = qInstallMessageHandler(holdBack);
}

StartupMessages::~StartupMessages()
{
    qInstallMessageHandler(previous);
    QList<HeldMessage> passOn;
    {
        const std::lock_guard lock(heldLock);
        passOn.swap(held);
    }
    for (const HeldMessage &message : std::as_const(passOn)) {
        const QMessageLogContext context(message.file.constData(), message.line, message.function.constData(),
                                         message.category.constData());
        previous(message.type, context, message.text);
    }
}

// The signal handler only writes a byte to a pipe; the event loop reads it and closes the
// window, since nothing of Qt may be called inside a signal handler.
#include "SignalRelay.h"

#include <QApplication>
#include <QDialog>
#include <QSocketNotifier>
#include <QWidget>

#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace {

constexpr std::array<int, 3> relayed{SIGTERM, SIGINT, SIGHUP};
int pipeEnds[2] = {-1, -1};
volatile sig_atomic_t writeEnd = -1;
struct sigaction previous[relayed.size()];

extern "C" void relaySignal(int signal)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    // A full pipe already holds a request to close: losing this one changes nothing.
    [[maybe_unused]] const ssize_t written = ::write(writeEnd, &byte, 1);
    errno = saved;
}

} // namespace

SignalRelay::SignalRelay(QObject *parent)
    : QObject(parent)
{
    if (pipeEnds[0] >= 0)
        throw std::logic_error("only one signal relay at a time");
    if (::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error("no pipe for signals");
    writeEnd = pipeEnds[1];
    m_notifier = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalRelay::drain);

    // A close can be held up: a box is still unwinding its own event loop, a search lets go
    // only at its next yield, or another box opens meanwhile. Keep at it until it is done.
    m_again.setInterval(50);
    connect(&m_again, &QTimer::timeout, this, &SignalRelay::closeWindow);

    struct sigaction action {};
    action.sa_handler = relaySignal;
    sigemptyset(&action.sa_mask);
    // Restarted system calls: the rest of the program need not expect EINTR.
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < relayed.size(); ++i)
        ::sigaction(relayed[i], &action, &previous[i]);
}

SignalRelay::~SignalRelay()
{
    for (std::size_t i = 0; i < relayed.size(); ++i)
        ::sigaction(relayed[i], &previous[i], nullptr);
    writeEnd = -1;
    delete m_notifier;
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    pipeEnds[0] = pipeEnds[1] = -1;
}

void SignalRelay::drain()
{
    unsigned char bytes[64];
    while (::read(pipeEnds[0], bytes, sizeof bytes) > 0) {
    }
    closeWindow();
}

void SignalRelay::closeWindow()
{
    if (!m_window || !m_window->isVisible()) {
        m_again.stop();
        return;
    }
    // Message boxes and the folder chooser each run an event loop above the window's: they
    // are answered as if cancelled, so that the code that opened them can finish.
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *widget : windows) {
        if (auto *dialog = qobject_cast<QDialog *>(widget); dialog && dialog->isVisible())
            dialog->reject();
    }
    m_window->close();
    if (m_window && m_window->isVisible())
        m_again.start();
    else
        m_again.stop();
}

// Ends the program on SIGTERM, SIGINT and SIGHUP the way closing its window does.
#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>

class QSocketNotifier;
class QWidget;

class SignalRelay : public QObject
{
    Q_OBJECT
public:
    // Takes over the three signals until destroyed; one relay at a time. Signals are acted
    // on from the event loop, so one that arrives before it runs waits for it.
    explicit SignalRelay(QObject *parent = nullptr);
    ~SignalRelay() override;

    void setWindow(QWidget *window) { m_window = window; }

    SignalRelay(const SignalRelay &) = delete;
    SignalRelay &operator=(const SignalRelay &) = delete;

private:
    void drain();
    void closeWindow();

    QPointer<QWidget> m_window;
    QSocketNotifier *m_notifier = nullptr;
    QTimer m_again;
};

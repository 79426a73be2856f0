// Yielding to the event loop, at a pace the eye and the hand cannot tell from every time.
#include "EventPump.h"

#include <QAccessible>
#include <QCoreApplication>
#include <QElapsedTimer>

namespace {

// The loop runs when this long has passed since it last ran.
constexpr qint64 IntervalNs = 4'000'000;
// A screen reader asks a dozen questions to present one change, each answered only when the
// loop runs: for it the loop runs more often.
constexpr qint64 ReaderIntervalNs = 1'000'000;
// How often the clock is read adapts to how fast the points come: reading it costs as much
// as a few dozen points.
constexpr quint32 LongestStride = 1u << 14;

bool s_readerAssumed = false; // a test says a screen reader listens

struct State
{
    EventPump::Stats stats;
    QElapsedTimer sinceLast;
    QElapsedTimer sinceCheck;
    quint32 stride = 1;
    std::function<void()> hook;
    std::function<void()> observer;
};

qint64 interval()
{
    return EventPump::readerListens() ? ReaderIntervalNs : IntervalNs;
}

State &state()
{
    static State s;
    return s;
}

void runLoop(State &s)
{
    if (s.sinceLast.isValid())
        s.stats.longestGapNs = std::max(s.stats.longestGapNs, s.sinceLast.nsecsElapsed());
    ++s.stats.yields;
    QCoreApplication::processEvents();
    s.sinceLast.start();
    if (s.observer) {
        // A copy, so that an observer may replace or remove itself.
        const auto observer = s.observer;
        observer();
    }
}

} // namespace

namespace EventPump {

detail::Pace detail::pace;

bool detail::clockSaysDue()
{
    State &s = state();
    if (!s.sinceLast.isValid())
        s.sinceLast.start();
    const qint64 sinceCheck = s.sinceCheck.isValid() ? s.sinceCheck.nsecsElapsed() : 0;
    s.sinceCheck.start();
    const qint64 every = interval();
    if (sinceCheck < every / 16)
        s.stride = std::min(s.stride * 2, LongestStride);
    else if (sinceCheck > every / 4)
        s.stride = std::max(s.stride / 4, 1u);
    pace.countdown = s.stride;
    return s.sinceLast.nsecsElapsed() >= every;
}

void yield()
{
    State &s = state();
    runLoop(s);
    if (s.hook) {
        // A copy, so that a hook may replace or remove itself.
        const auto hook = s.hook;
        hook();
    }
}

bool readerListens()
{
    return s_readerAssumed || QAccessible::isActive();
}

void assumeReaderForTests(bool assumed)
{
    s_readerAssumed = assumed;
}

void breathe()
{
    State &s = state();
    if (!s.sinceLast.isValid())
        s.sinceLast.start();
    else if (s.sinceLast.nsecsElapsed() >= interval())
        runLoop(s);
}

Stats stats()
{
    return state().stats;
}

void resetStats()
{
    State &s = state();
    s.stats = {};
    s.sinceLast.start();
}

void setHook(std::function<void()> hook)
{
    detail::pace.hooked = bool(hook);
    state().hook = std::move(hook);
}

void setObserver(std::function<void()> observer)
{
    state().observer = std::move(observer);
}

} // namespace EventPump

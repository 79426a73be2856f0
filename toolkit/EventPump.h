// The one way the program lets pending window events run while it works on the window's thread.
#pragma once

#include <QtGlobal>

#include <functional>

namespace EventPump {

// Runs every pending window event once, then returns. Every handler of the window may run
// inside this call: callers must expect their state to have changed when it returns.
void yield();

// Whether a point at which the window may be served should run the event loop now. A long
// search has hundreds of millions of such points; the loop runs at most every few
// milliseconds, which nobody can tell from every point, and asking costs about a counter.
[[nodiscard]] bool due();

// How many of the coming points will pass without a look at the clock, so that the work
// between them may be done in one step; the step then tells how many it passed. None while
// a test's hook acts at every point.
[[nodiscard]] quint32 pointsWithoutCheck();
void passPoints(quint32 points);

// Runs the event loop when due, for work between the points where a search yields.
void breathe();

// Whether a screen reader listens: the loop then runs more often, as it asks a dozen
// questions to present one change and each is answered only when the loop runs.
[[nodiscard]] bool readerListens();
// For tests: a screen reader listens, where the platform (offscreen) has none to tell of.
void assumeReaderForTests(bool assumed);

// What a benchmark or a test wants to know about the event loop since the last reset.
struct Stats
{
    quint64 yields = 0;       // times the event loop ran
    qint64 longestGapNs = 0; // the longest time the window went without it
};
[[nodiscard]] Stats stats();
void resetStats();

// Called after every yield and at every yield point: lets a test act at a chosen point of a
// run (click stop at the seventh load, say) without timers. An empty function removes it.
void setHook(std::function<void()> hook);

// Called after every run of the event loop, for a benchmark that watches the run.
void setObserver(std::function<void()> observer);

namespace detail {
struct Pace
{
    quint32 countdown = 1;
    bool hooked = false;
};
extern Pace pace;
[[nodiscard]] bool clockSaysDue();
} // namespace detail

inline quint32 pointsWithoutCheck()
{
    return detail::pace.hooked ? 0 : detail::pace.countdown - 1;
}

inline void passPoints(quint32 points)
{
    detail::pace.countdown -= points;
}

inline bool due()
{
    if (detail::pace.hooked)
        return true;
    if (--detail::pace.countdown != 0)
        return false;
    return detail::clockSaysDue();
}

} // namespace EventPump

// Yielding to the event loop, with the counts the benchmark reads.
#include "EventPump.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace {

struct State
{
    EventPump::Stats stats;
    QElapsedTimer sinceLast;
    std::function<void()> hook;
};

State &state()
{
    static State s;
    return s;
}

} // namespace

namespace EventPump {

void yield()
{
    State &s = state();
    if (s.sinceLast.isValid())
        s.stats.longestGapNs = std::max(s.stats.longestGapNs, s.sinceLast.nsecsElapsed());
    ++s.stats.yields;
    QCoreApplication::processEvents();
    s.sinceLast.start();
    if (s.hook) {
        // A copy, so that a hook may replace or remove itself.
        const auto hook = s.hook;
        hook();
    }
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
    state().hook = std::move(hook);
}

} // namespace EventPump

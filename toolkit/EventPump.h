// The one way the program lets pending window events run while it works on the window's thread.
#pragma once

#include <QtGlobal>

#include <functional>

namespace EventPump {

// Runs every pending window event once, then returns. Every handler of the window may run
// inside this call: callers must expect their state to have changed when it returns.
void yield();

// What a benchmark or a test wants to know about the yields since the last reset.
struct Stats
{
    quint64 yields = 0;
    qint64 longestGapNs = 0; // the longest time the window went without a yield
};
[[nodiscard]] Stats stats();
void resetStats();

// Called after every yield: lets a test act at a chosen point of a run (click stop at the
// seventh load, say) without timers. An empty function removes the hook.
void setHook(std::function<void()> hook);

} // namespace EventPump

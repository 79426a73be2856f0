// Detached threads, counted so that the end of the program and the tests can tell who is left.
#include "Worker.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

std::atomic<int> s_working{0};

struct Alive
{
    std::mutex mutex;
    std::condition_variable ended;
    int count = 0;
};

// Never destroyed: a thread let go of may end after the program's statics are gone.
Alive &threadsAlive()
{
    static Alive *a = new Alive;
    return *a;
}

} // namespace

Worker::Worker(Body body)
    : m_stop(std::make_shared<std::atomic<bool>>(false))
{
    ++s_working;
    Alive &a = threadsAlive();
    {
        const std::lock_guard lock(a.mutex);
        ++a.count;
    }
    std::thread([stop = m_stop, body = std::move(body), &a] {
        body(*stop);
        const std::lock_guard lock(a.mutex);
        --a.count;
        a.ended.notify_all();
    }).detach();
}

Worker::~Worker()
{
    letGo();
}

void Worker::letGo()
{
    if (!m_stop->exchange(true))
        --s_working;
}

void Worker::giveWay()
{
    constexpr int Nice = 10;
    (void)::setpriority(PRIO_PROCESS, ::gettid(), Nice);
}

int Worker::working()
{
    return s_working;
}

int Worker::alive()
{
    Alive &a = threadsAlive();
    const std::lock_guard lock(a.mutex);
    return a.count;
}

bool Worker::waitForAll(int ms)
{
    Alive &a = threadsAlive();
    std::unique_lock lock(a.mutex);
    return a.ended.wait_for(lock, std::chrono::milliseconds(ms), [&a] { return a.count == 0; });
}

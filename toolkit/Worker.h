// Threads for work that may block in the kernel, which whoever starts them never waits for.
#pragma once

#include <atomic>
#include <functional>
#include <memory>

// A share that sleeps or a FIFO can hold a call of the system for ever, and no thread can be
// pulled out of one: a stop, a close or a box must not wait for it. Letting go of a worker
// asks it to stop and returns at once; its thread ends by itself once its call comes back,
// and what it found by then is dropped. The body touches only what it owns or shares through
// a shared_ptr, never the one who started it.
class Worker
{
public:
    using Body = std::function<void(const std::atomic<bool> &stop)>;
    explicit Worker(Body body);
    // Lets go.
    ~Worker();
    Worker(const Worker &) = delete;
    Worker &operator=(const Worker &) = delete;

    void letGo();

    // The calling worker gives way to the window and the rest of the desktop: on a fast drive
    // it keeps a core busy. On Linux each thread has a nice value of its own.
    static void giveWay();

    // Workers not let go of: the only threads whose results anybody will see.
    [[nodiscard]] static int working();
    // Their threads and those of workers let go of that have not ended yet.
    [[nodiscard]] static int alive();
    // Waits up to `ms` for every thread to end; true when none is left. Only for the very end
    // of the program, or a test, where nothing else is to be served.
    static bool waitForAll(int ms);

private:
    std::shared_ptr<std::atomic<bool>> m_stop;
};

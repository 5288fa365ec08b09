#pragma once

#include "panelcore_global.h"

#include <condition_variable>
#include <mutex>

// Back-pressure between the worker and the main thread. A long script makes
// the worker emit completions far faster than the main thread can take them;
// unbounded, they pile up as one huge batch of queued events that freezes the
// user interface. The worker calls sent() for every completion and waits
// while too many are in flight; the main thread calls received() for each
// one it has handled.
class PANELCORE_EXPORT FlowControl
{
public:
    explicit FlowControl(int window);

    // Worker side. Waits while the window is full, but never forever: a main
    // thread that is itself blocked must not deadlock the worker.
    void sent();
    // Worker side: whether the receiver has gone, and a pause that ends as
    // soon as it goes (false then), so that a long script does not hold up
    // the program's exit.
    bool isClosed() const;
    bool pause(unsigned int ms);
    // Main-thread side.
    void received();
    // No more waiting, ever: the receiver is going away.
    void close();

    int inFlight() const;

private:
    const int m_window;
    // Standard primitives rather than Qt's: the sanitizers can see them.
    mutable std::mutex m_mutex;
    std::condition_variable m_drained;
    int m_inFlight = 0;
    bool m_closed = false;
};

#include "i2c/flowcontrol.h"

#include <QtGlobal>

#include <chrono>

FlowControl::FlowControl(int window)
    : m_window(qMax(1, window))
{
}

void FlowControl::sent()
{
    std::unique_lock<std::mutex> locker(m_mutex);
    ++m_inFlight;
    if (m_closed || m_inFlight <= m_window)
        return;
    // Resume when half the window has drained, so the receiver handles its
    // events in small batches with the event loop breathing in between.
    m_drained.wait_for(locker, std::chrono::seconds(1),
                       [this] { return m_closed || m_inFlight <= m_window / 2; });
}

void FlowControl::received()
{
    std::lock_guard<std::mutex> locker(m_mutex);
    if (m_inFlight > 0)
        --m_inFlight;
    if (m_inFlight <= m_window / 2)
        m_drained.notify_all();
}

void FlowControl::close()
{
    std::lock_guard<std::mutex> locker(m_mutex);
    m_closed = true;
    m_drained.notify_all();
}

bool FlowControl::isClosed() const
{
    std::lock_guard<std::mutex> locker(m_mutex);
    return m_closed;
}

bool FlowControl::pause(unsigned int ms)
{
    std::unique_lock<std::mutex> locker(m_mutex);
    return !m_drained.wait_for(locker, std::chrono::milliseconds(ms), [this] { return m_closed; });
}

int FlowControl::inFlight() const
{
    std::lock_guard<std::mutex> locker(m_mutex);
    return m_inFlight;
}

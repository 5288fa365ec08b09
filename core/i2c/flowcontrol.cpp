#include "i2c/flowcontrol.h"

#include <QDeadlineTimer>
#include <QMutexLocker>

FlowControl::FlowControl(int window)
    : m_window(qMax(1, window))
{
}

void FlowControl::sent()
{
    QMutexLocker locker(&m_mutex);
    ++m_inFlight;
    if (m_closed || m_inFlight <= m_window)
        return;
    // Resume when half the window has drained, so the receiver handles its
    // events in small batches with the event loop breathing in between.
    QDeadlineTimer deadline(1000);
    while (!m_closed && m_inFlight > m_window / 2) {
        if (!m_drained.wait(&m_mutex, deadline))
            break;
    }
}

void FlowControl::received()
{
    QMutexLocker locker(&m_mutex);
    if (m_inFlight > 0)
        --m_inFlight;
    if (m_inFlight <= m_window / 2)
        m_drained.wakeAll();
}

void FlowControl::close()
{
    QMutexLocker locker(&m_mutex);
    m_closed = true;
    m_drained.wakeAll();
}

int FlowControl::inFlight() const
{
    QMutexLocker locker(&m_mutex);
    return m_inFlight;
}

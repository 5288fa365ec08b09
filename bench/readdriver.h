#pragma once

// Register reads through a bare I2C worker, one at a time, request signal to
// completion signal: the figure both transport benchmarks print.

#include "i2c/i2cworker.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>

#include <algorithm>
#include <vector>

using Samples = std::vector<qint64>;

// The p-th fraction of the samples (nanoseconds), in microseconds.
inline double percentile(Samples sorted, double p)
{
    std::sort(sorted.begin(), sorted.end());
    const std::size_t index = std::min(sorted.size() - 1, std::size_t(p * double(sorted.size())));
    return double(sorted[index]) / 1000.0;
}

class ReadDriver : public QObject
{
    Q_OBJECT
public:
    explicit ReadDriver(I2cWorker *worker)
    {
        connect(this, &ReadDriver::doReadRegister, worker, &I2cWorker::doReadRegister);
        connect(worker, &I2cWorker::doneReadRegister, this, &ReadDriver::onDone);
    }

    // Reads register 0x41 of dat `operations` times; adds the failed reads to
    // failures and returns each read's time in nanoseconds.
    Samples run(const QString &dat, int operations, int &failures)
    {
        m_dat = dat;
        m_operations = operations;
        m_samples.clear();
        m_samples.reserve(std::size_t(operations));
        m_failures = 0;
        QEventLoop loop;
        connect(this, &ReadDriver::finished, &loop, &QEventLoop::quit);
        m_clock.start();
        next();
        loop.exec();
        failures += m_failures;
        return m_samples;
    }

signals:
    void doReadRegister(const QString &ctx, const QString &dat, const QByteArray &regAddr,
                        signed char size);
    void finished();

private:
    void next()
    {
        m_sent = m_clock.nsecsElapsed();
        emit doReadRegister(QStringLiteral("bench"), m_dat, QByteArray("\x41", 1), 1);
    }

    void onDone(const QString &err)
    {
        m_samples.push_back(m_clock.nsecsElapsed() - m_sent);
        if (!err.isEmpty())
            ++m_failures;
        if (int(m_samples.size()) < m_operations)
            next();
        else
            emit finished();
    }

    QString m_dat;
    int m_operations = 0;
    int m_failures = 0;
    QElapsedTimer m_clock;
    qint64 m_sent = 0;
    Samples m_samples;
};

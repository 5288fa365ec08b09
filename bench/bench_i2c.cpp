// Cost of one register read through the worker thread and the adapter
// registry, from the request signal to the completion signal on the main
// thread, on the dummy adapter (no bus time at all: pure overhead).
//
//   bench_i2c [operations]

#include "dongles/donglemgr.h"
#include "dongles/dummydongle.h"
#include "i2c/i2cworker.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <vector>

class Driver : public QObject
{
    Q_OBJECT
public:
    Driver(I2cWorker *worker, int operations)
        : m_operations(operations)
    {
        m_samples.reserve(std::size_t(operations));
        connect(this, &Driver::doReadRegister, worker, &I2cWorker::doReadRegister);
        connect(worker, &I2cWorker::doneReadRegister, this, &Driver::onDone);
    }

    void start()
    {
        m_clock.start();
        next();
    }

    const std::vector<qint64> &samples() const { return m_samples; }
    int failures() const { return m_failures; }

signals:
    void doReadRegister(const QString &ctx, const QString &dat, const QByteArray &regAddr,
                        signed char size);
    void finished();

private:
    void next()
    {
        m_sent = m_clock.nsecsElapsed();
        emit doReadRegister(QStringLiteral("bench"), QStringLiteral(":0x70:bvr60600"),
                            QByteArray("\x41", 1), 1);
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

    QElapsedTimer m_clock;
    qint64 m_sent = 0;
    int m_operations;
    int m_failures = 0;
    std::vector<qint64> m_samples;
};

static double percentile(std::vector<qint64> sorted, double p)
{
    const std::size_t index = std::min(sorted.size() - 1, std::size_t(p * double(sorted.size())));
    return double(sorted[index]) / 1000.0;
}

int main(int argc, char **argv)
{
    // Never touch the user's settings store.
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path()));
    QCoreApplication app(argc, argv);
    const int operations = argc > 1 ? qMax(1, QByteArray(argv[1]).toInt()) : 20000;

    QThread thread;
    auto *worker = new I2cWorker;
    worker->moveToThread(&thread);
    QObject::connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
    Dongles::DongleMgr::GetInstance()->registerScanFn([](const Dongles::DongleMgr &) {
        return Dongles::DongleList { Dongles::DummyDongle::Create("0xbe4c", "bench") };
    });
    thread.start();
    QMetaObject::invokeMethod(worker, &I2cWorker::doScanForDongles, Qt::BlockingQueuedConnection);

    Driver driver(worker, operations);
    QObject::connect(&driver, &Driver::finished, &app, &QCoreApplication::quit);
    QMetaObject::invokeMethod(&driver, &Driver::start, Qt::QueuedConnection);
    QElapsedTimer wall;
    wall.start();
    app.exec();
    const double seconds = double(wall.nsecsElapsed()) / 1e9;

    thread.quit();
    thread.wait();

    std::vector<qint64> sorted = driver.samples();
    std::sort(sorted.begin(), sorted.end());
    std::printf("register read, request to completion, %d operations (%d failed)\n", operations,
                driver.failures());
    std::printf("  median %.1f us, p90 %.1f us, p99 %.1f us, %.0f operations/s\n",
                percentile(sorted, 0.5), percentile(sorted, 0.9), percentile(sorted, 0.99),
                operations / seconds);
    return driver.failures() == 0 ? 0 : 1;
}

#include "bench_i2c.moc"

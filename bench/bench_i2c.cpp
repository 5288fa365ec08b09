// Costs of the I2C transport, with no bus time at all (pure overhead):
//  1. one register read through a bare worker thread and the adapter
//     registry, on the dummy adapter, request signal to completion signal;
//  2. a 10,000-line read_register script on a simulated slave through the
//     I2C service, as a device runs it, per line, with every per-line
//     completion delivered on the main thread;
//  3. the longest stall of the main event loop during that script (the worst
//     lateness of a 1 ms timer): does a long script freeze the window? Run
//     bare, and again with every completion recorded in the communication
//     log the way a device reports it, which makes the main thread the
//     slower side;
//  4. a bulk write of the largest transfer and a read-back.
//
//   bench_i2c [operations]

#include "dongles/donglemgr.h"
#include "dongles/dummydongle.h"
#include "i2c/i2csvc.h"
#include "i2c/i2cworker.h"
#include "i2c/vslave.h"
#include "readdriver.h"
#include "services/commslog.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

class BenchSlave : public VSlave
{
public:
    using VSlave::VSlave;
    QString myType() const override { return QStringLiteral("benchchip"); }
    void init() override
    {
        registers().bytesToStore(Registers::GroupRegister, QByteArray("\x41", 1),
                                 QByteArray("\x07", 1));
    }
};

// Runs the event loop until done fires, as the application's main thread
// would, and returns the elapsed milliseconds.
template<typename Signal>
static double runUntil(I2cSvc *svc, Signal done, const std::function<void()> &request)
{
    QEventLoop loop;
    QObject::connect(svc, done, &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    clock.start();
    request();
    loop.exec();
    return double(clock.nsecsElapsed()) / 1e6;
}

struct ScriptFigures
{
    double usPerLine = 0;
    double worstStallMs = 0;
    int completions = 0;
};

static ScriptFigures runScript(I2cSvc *svc, const QString &dat, const QStringList &script)
{
    ScriptFigures figures;
    QMetaObject::Connection counting = QObject::connect(
        svc, &I2cSvc::doneReadRegister, svc, [&figures] { ++figures.completions; });

    // A 1 ms probe: how late does the main loop let it fire?
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    QElapsedTimer sinceLast;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const double late = double(sinceLast.nsecsElapsed()) / 1e6 - 1.0;
        figures.worstStallMs = std::max(figures.worstStallMs, late);
        sinceLast.restart();
    });
    sinceLast.start();
    probe.start();

    const double ms = runUntil(svc, &I2cSvc::doneRunScript,
                               [&] { emit svc->doRunScript(QStringLiteral("bench"), dat, script); });
    // Completions still queued behind doneRunScript count too.
    QCoreApplication::processEvents();
    probe.stop();
    QObject::disconnect(counting);
    figures.usPerLine = ms * 1000.0 / double(script.size());
    return figures;
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

    ReadDriver driver(worker);
    int failures = 0;
    QElapsedTimer wall;
    wall.start();
    // The dummy's own id: the default adapter may be a real bus.
    const Samples samples = driver.run(QStringLiteral("0xbe4c:0x70:bvr60600"), operations, failures);
    const double seconds = double(wall.nsecsElapsed()) / 1e9;

    thread.quit();
    thread.wait();

    std::printf("register read on the dummy adapter, bare worker, request to completion, "
                "%d operations (%d failed)\n",
                operations, failures);
    std::printf("  median %.1f us, p90 %.1f us, p99 %.1f us, %.0f operations/s\n",
                percentile(samples, 0.5), percentile(samples, 0.9), percentile(samples, 0.99),
                operations / seconds);

    // Through the service, on a simulated slave.
    I2cSvc *svc = I2cSvc::getInstance();
    svc->setVSlaveFactory([](const QString &dat) -> VSlave * {
        auto *slave = new BenchSlave(dat);
        slave->init();
        return slave;
    });
    const QString dat = QStringLiteral(":0x70:benchchip");
    runUntil(svc, &I2cSvc::doneVirtualSlave,
             [&] { emit svc->doVirtualSlave(QString(), dat, true); });

    const int lines = 10000;
    const QStringList script(lines, QStringLiteral("read_register 41 1"));
    bool complete = true;
    const auto measure = [&](const char *title) {
        std::vector<double> perLine;
        double worstStall = 0;
        for (int run = 0; run < 7; ++run) {
            const ScriptFigures f = runScript(svc, dat, script);
            perLine.push_back(f.usPerLine);
            worstStall = std::max(worstStall, f.worstStallMs);
            complete = complete && f.completions == lines;
        }
        std::sort(perLine.begin(), perLine.end());
        std::printf("%d-line read_register script on a simulated slave through the service, %s, "
                    "7 runs\n",
                    lines, title);
        std::printf("  per line: median %.2f us (best %.2f, worst %.2f); every completion on the "
                    "main thread: %s\n",
                    perLine[perLine.size() / 2], perLine.front(), perLine.back(),
                    complete ? "yes" : "NO");
        std::printf("  longest main-loop stall (1 ms probe timer lateness): %.2f ms\n", worstStall);
    };
    measure("bare");

    CommsLog *commsLog = CommsLog::getInstance();
    const QMetaObject::Connection logging = QObject::connect(
        svc, &I2cSvc::doneReadRegister, commsLog,
        [commsLog](const QString &err, const QString &, const QString &d, const QByteArray &addr,
                   const QByteArray &value) {
            commsLog->doLogEvent(QStringLiteral("device"), d, QStringLiteral("regData rd"), err,
                                 QString::fromLatin1(addr.toHex()),
                                 QString::fromLatin1(value.toHex()));
        });
    measure("each completion in the communication log");
    QObject::disconnect(logging);

    // A main thread slower than the worker (a busy user interface): 100 us
    // of work per completion. Without back-pressure the completions of the
    // whole script would pile up and be handled in one long batch.
    const QMetaObject::Connection slow =
        QObject::connect(svc, &I2cSvc::doneReadRegister, svc, [] {
            QElapsedTimer busy;
            busy.start();
            while (busy.nsecsElapsed() < 100000) {
            }
        });
    measure("main thread busy 100 us per completion");
    QObject::disconnect(slow);

    const QByteArray data(I2cWorker::MaxBulkPackets * I2cWorker::BulkPacketSize, '\x5a');
    std::vector<double> bulk;
    for (int run = 0; run < 7; ++run) {
        const double write = runUntil(svc, &I2cSvc::doneWriteBulk, [&] {
            emit svc->doWriteBulk(QStringLiteral("bench"), dat, QByteArray(), QByteArray("\xc1", 1),
                                  data, 0);
        });
        const double read = runUntil(svc, &I2cSvc::doneReadBulk, [&] {
            emit svc->doReadBulk(QStringLiteral("bench"), dat, QByteArray(), QByteArray("\xc1", 1),
                                 0xFFFF);
        });
        bulk.push_back(write + read);
    }
    std::sort(bulk.begin(), bulk.end());
    std::printf("bulk write of %lld bytes + read-back of 65,535 (the largest single read), "
                "simulated slave: median %.2f ms\n",
                static_cast<long long>(data.size()), bulk[bulk.size() / 2]);

    return failures == 0 && complete ? 0 : 1;
}


// What the kernel-bus adapter costs on top of the kernel call, per register
// read (one byte, one combined transfer: register address written, value
// read), on /dev/i2c-1 emulated by umockdev:
//  1. the bare I2C_RDWR ioctl on the emulated node, as any program would
//     make it: the kernel call's cost here, which is umockdev's round trip
//     to the thread that answers it, not a real bus; once with its buffers
//     on the stack and once on the heap, where the adapter's are and where
//     the emulation is some microseconds slower to reach them;
//  2. the adapter's hwReadRegister on the same node: 1 plus the adapter;
//  3. a register read through a bare worker thread on i2c-1:0x70, request
//     signal to completion signal, and the same on the dummy adapter (the
//     figure bench_i2c prints): 3 minus 2 should be the dummy's figure.
// The blocks run in turns, three rounds, so that drift hits all alike.
//
//   umockdev-wrapper bench_i2cdev [operations]

#include "dongles/donglemgr.h"
#include "dongles/dummydongle.h"
#include "dongles/i2cdevdongle.h"
#include "emulatedi2cbus.h"
#include "i2c/i2cworker.h"
#include "readdriver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// Times fn once per operation, in nanoseconds; false from fn is a failure.
Samples timed(int operations, int &failures, const std::function<bool()> &fn)
{
    Samples samples;
    samples.reserve(std::size_t(operations));
    QElapsedTimer clock;
    for (int i = 0; i < operations; ++i) {
        clock.start();
        if (!fn())
            ++failures;
        samples.push_back(clock.nsecsElapsed());
    }
    return samples;
}

} // namespace

int main(int argc, char **argv)
{
    if (!EmulatedI2cBus::inMockEnvironment()) {
        std::fprintf(stderr, "run it under umockdev-wrapper: umockdev-wrapper %s [operations]\n", argv[0]);
        return 2;
    }
    // Never touch the user's settings store; only the emulated bus.
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path()));
    qputenv("PANEL_FT4222_LIBRARY", "/nonexistent");
    qputenv("PANEL_SUB20_LIBRARY", "/nonexistent");
    qunsetenv("PANEL_KERNEL_I2C");
    QCoreApplication app(argc, argv);
    const int operations = argc > 1 ? qMax(1, QByteArray(argv[1]).toInt()) : 5000;

    EmulatedI2cBus bus;
    bus.addBus(1, "bench bus");

    // 1: the bare ioctl.
    const int fd = ::open("/dev/i2c-1", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        std::perror("open /dev/i2c-1");
        return 1;
    }
    unsigned char reg = 0x41;
    unsigned char value = 0;
    i2c_msg messages[2] = { { 0x70, 0, 1, &reg }, { 0x70, I2C_M_RD, 1, &value } };
    i2c_rdwr_ioctl_data request = { messages, 2 };
    const auto rawRead = [&] { return ::ioctl(fd, I2C_RDWR, &request) == 2 && value == 0x07; };
    // The same ioctl on buffers from the heap, as the adapter's are: the
    // emulation reaches heap memory more slowly than the stack.
    const auto rawHeapRead = [&] {
        QByteArray regAddr("\x41", 1);
        QByteArray buffer(1, '\0');
        i2c_msg heapMessages[2] = { { 0x70, 0, 1, reinterpret_cast<__u8 *>(regAddr.data()) },
                                    { 0x70, I2C_M_RD, 1, reinterpret_cast<__u8 *>(buffer.data()) } };
        i2c_rdwr_ioctl_data heapRequest = { heapMessages, 2 };
        return ::ioctl(fd, I2C_RDWR, &heapRequest) == 2 && buffer.at(0) == 0x07;
    };

    // 2: the adapter, as the scan opens it.
    Dongles::DongleMgr scanner(false);
    const Dongles::DongleList found = Dongles::I2cDevDongle::Scan(scanner);
    if (found.isEmpty()) {
        std::fprintf(stderr, "the scan found no bus\n");
        return 1;
    }
    const Dongles::DonglePtr adapter = found.first();
    const auto adapterRead = [&] {
        QString err;
        QByteArray regValue(1, '\0');
        QByteArray buffer(1, '\0');
        return adapter->hwReadRegister(err, 0x70, QByteArray("\x41", 1), regValue, buffer, 0)
               && buffer.at(0) == 0x07;
    };

    // 3: the worker, with the kernel bus and a dummy adapter.
    QThread thread;
    auto *worker = new I2cWorker;
    worker->dongleMgr().registerScanFn([](const Dongles::DongleMgr &) {
        return Dongles::DongleList{ Dongles::DummyDongle::Create("0xbe4c", "bench") };
    });
    worker->moveToThread(&thread);
    QObject::connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
    thread.start();
    QMetaObject::invokeMethod(worker, &I2cWorker::doScanForDongles, Qt::BlockingQueuedConnection);
    ReadDriver driver(worker);

    int failures = 0;
    Samples raw, rawHeap, direct, workerBus, workerDummy;
    for (int round = 0; round < 3; ++round) {
        const auto append = [](Samples &to, const Samples &from) { to.insert(to.end(), from.begin(), from.end()); };
        // 1 and 2 take turns read by read: the emulation's round trip varies
        // with the load of the machine far more than the adapter costs.
        int turn = 0;
        const Samples turns = timed(3 * operations, failures, [&] {
            switch (turn++ % 3) {
            case 0: return rawRead();
            case 1: return rawHeapRead();
            default: return adapterRead();
            }
        });
        for (std::size_t i = 0; i + 2 < turns.size(); i += 3) {
            raw.push_back(turns[i]);
            rawHeap.push_back(turns[i + 1]);
            direct.push_back(turns[i + 2]);
        }
        append(workerBus, driver.run(QStringLiteral("i2c-1:0x70:bvr60600"), operations, failures));
        append(workerDummy, driver.run(QStringLiteral("0xbe4c:0x70:bvr60600"), operations, failures));
    }
    thread.quit();
    thread.wait();
    ::close(fd);

    const double rawMedian = percentile(rawHeap, 0.5);
    const double directMedian = percentile(direct, 0.5);
    const double busMedian = percentile(workerBus, 0.5);
    const double dummyMedian = percentile(workerDummy, 0.5);
    std::printf("register read (one byte, one combined transfer), %d operations in 3 rounds each, "
                "%d failed\n", 3 * operations, failures);
    std::printf("                                               median      p90      p99  (us)\n");
    const auto row = [](const char *title, const Samples &s) {
        std::printf("  %-44s %6.2f %8.2f %8.2f\n", title, percentile(s, 0.5), percentile(s, 0.9),
                    percentile(s, 0.99));
    };
    row("1 bare I2C_RDWR ioctl, emulated /dev/i2c-1", raw);
    row("  the same, buffers on the heap", rawHeap);
    row("2 I2cDevDongle::hwReadRegister, same bus", direct);
    row("3 worker thread, i2c-1:0x70 (kernel bus)", workerBus);
    row("  worker thread, dummy adapter", workerDummy);
    std::printf("the adapter on top of the kernel call (2 - 1 on the heap): %+.2f us\n", directMedian - rawMedian);
    std::printf("worker path on top of the adapter (3 - 2): %+.2f us; on the dummy adapter: %.2f us\n",
                busMedian - directMedian, dummyMedian);
    return failures == 0 ? 0 : 1;
}


#include "i2c/i2csvc.h"

#include "i2c/flowcontrol.h"
#include "i2c/i2cscript.h"
#include "services/settings.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QLoggingCategory>

#if defined(Q_OS_LINUX)
#include <csignal>
#include <unistd.h>
#endif

using namespace std::chrono_literals;

namespace {

// How many completions may wait in the main thread's queue before the worker
// pauses: enough to keep the worker busy, few enough that one batch of
// queued events never holds up the user interface for a frame (measured with
// bench_i2c: a main thread needing 100 us per completion stalls some 7 ms
// with this window, a second without any).
constexpr int CompletionWindow = 32;

// QThread::wait() returns once the thread has left run(), but Qt 6.4 runs its
// threads detached and the thread is not over then: its thread_local
// destructors, Qt's release of the thread's own data (in a thread-specific
// data destructor) and the C library's per-thread clean-up are still to come.
// A program that ends in that window deletes Qt's key on its way out, and
// that data is never freed. So the teardown also waits until the kernel no
// longer knows the thread, which is what joining it would have waited for.
void waitUntilThreadGone(int tid)
{
#if defined(Q_OS_LINUX)
    if (tid <= 0)
        return;
    const pid_t pid = ::getpid();
    // Only a safety net (a debugger may keep the thread from being reaped):
    // the thread has nothing left to do but end.
    const QDeadlineTimer deadline(10s);
    while (::tgkill(pid, tid, 0) == 0 && !deadline.hasExpired())
        QThread::usleep(200);
#else
    Q_UNUSED(tid);
#endif
}

} // namespace

I2cSvc *I2cSvc::m_instance = nullptr;

I2cSvc *I2cSvc::getInstance()
{
    if (!m_instance) {
        m_instance = new I2cSvc;
        qAddPostRoutine([] { delete m_instance; });
    }
    return m_instance;
}

I2cSvc::I2cSvc()
    : QObject(nullptr)
    , m_flow(std::make_shared<FlowControl>(CompletionWindow))
{
    I2cTypes::registerMetaTypes();
    get7BitLegalAddresses();

    m_worker = new I2cWorker;
    m_worker->setFlowControl(m_flow);
    m_worker->moveToThread(&m_thread);
    m_thread.setObjectName(QStringLiteral("I2cWorker"));
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);

    connect(this, &I2cSvc::doInitialize, m_worker, &I2cWorker::doInitialize);
    connect(this, &I2cSvc::doDisconnect, m_worker, &I2cWorker::doDisconnect);
    connect(this, &I2cSvc::doScanForDongles, m_worker, &I2cWorker::doScanForDongles);
    connect(this, &I2cSvc::doScanForSlaves, m_worker, &I2cWorker::doScanForSlaves);
    connect(this, &I2cSvc::doVirtualSlave, m_worker, &I2cWorker::doVirtualSlave);
    connect(this, &I2cSvc::doReadBulk, m_worker, &I2cWorker::doReadBulk);
    connect(this, &I2cSvc::doWriteBulk, m_worker, &I2cWorker::doWriteBulk);
    connect(this, &I2cSvc::doReadRegister, m_worker, &I2cWorker::doReadRegister);
    connect(this, &I2cSvc::doWriteRegister, m_worker, &I2cWorker::doWriteRegister);
    connect(this, &I2cSvc::doRunScript, m_worker, &I2cWorker::doRunScript);
    connect(this, &I2cSvc::doPmbusCommands, m_worker, &I2cWorker::doPmbusCommands);

    // Each completion frees its place in the flow-control window once it has
    // been delivered here, before it is passed on.
    const auto forward = [this](auto workerSignal, auto svcSignal) {
        connect(m_worker, workerSignal, this, [this] { m_flow->received(); });
        connect(m_worker, workerSignal, this, svcSignal);
    };
    forward(&I2cWorker::doneVirtualSlave, &I2cSvc::doneVirtualSlave);
    forward(&I2cWorker::doneReadBulk, &I2cSvc::doneReadBulk);
    forward(&I2cWorker::doneWriteBulk, &I2cSvc::doneWriteBulk);
    forward(&I2cWorker::doneReadRegister, &I2cSvc::doneReadRegister);
    forward(&I2cWorker::doneWriteRegister, &I2cSvc::doneWriteRegister);
    forward(&I2cWorker::doneRunScript, &I2cSvc::doneRunScript);
    forward(&I2cWorker::donePmbusCommands, &I2cSvc::donePmbusCommands);
    connect(m_worker, &I2cWorker::eventProgress, this, &I2cSvc::eventProgress);
    connect(m_worker, &I2cWorker::eventLogTxRx, this, &I2cSvc::eventLogTxRx);
    connect(m_worker, &I2cWorker::eventDongleAdded, this, &I2cSvc::eventDongleAdded);
    connect(m_worker, &I2cWorker::eventDongleRemoved, this, &I2cSvc::eventDongleRemoved);
    connect(m_worker, &I2cWorker::eventDefaultDongle, this, &I2cSvc::eventDefaultDongle);
    connect(m_worker, &I2cWorker::eventSlaveAdded, this, &I2cSvc::eventSlaveAdded);
    connect(m_worker, &I2cWorker::eventSlaveRemoved, this, &I2cSvc::eventSlaveRemoved);

    connect(m_worker, &I2cWorker::eventLogText, this, [](const QString &text, QtMsgType type) {
        switch (type) {
        case QtWarningMsg:
            qWarning().noquote() << text;
            break;
        case QtCriticalMsg:
            qCritical().noquote() << text;
            break;
        default:
            qDebug().noquote() << text;
            break;
        }
    });

    connect(Settings::getInstance(), &Settings::i2cSpeedChanged, m_worker,
            &I2cWorker::doInitialize);

#if defined(Q_OS_LINUX)
    connect(
        &m_thread, &QThread::started, &m_thread, [this] { m_threadId = int(::gettid()); },
        Qt::DirectConnection);
#endif
    m_thread.start(QThread::InheritPriority);
}

I2cSvc::~I2cSvc()
{
    // The worker must not wait for completions nobody will take any more.
    m_flow->close();
    m_thread.quit();
    m_thread.wait();
    waitUntilThreadGone(m_threadId);
    disconnect();
    if (m_instance == this)
        m_instance = nullptr;
}

QList<unsigned char> I2cSvc::get7BitLegalAddresses()
{
    return i2c_7bit_legal_addresses();
}

QStringList I2cSvc::parseScriptLine(const QString &line)
{
    return I2cScript::parseScriptLine(line);
}

bool I2cSvc::canParseScript(QString &err, const QStringList &lines)
{
    return I2cScript::canParseScript(err, lines);
}

bool I2cSvc::allowsOpenScan(const QString &dongleId) const
{
    QString err;
    const Dongles::DonglePtr dongle = m_worker->dongleMgr().getDongle(dongleId, err);
    return !dongle || dongle->allowsOpenScan();
}

void I2cSvc::setVSlaveFactory(I2cWorker::VSlaveFactory factory)
{
    QMetaObject::invokeMethod(
        m_worker, [worker = m_worker, factory] { worker->setVSlaveFactory(factory); },
        Qt::BlockingQueuedConnection);
}

template<typename Take, typename... Args>
void I2cSvc::waitFor(void (I2cSvc::*done)(const QString &, const QString &, Args...),
                     const QString &own, Take take, const std::function<void()> &send)
{
    QEventLoop loop;
    // The loop is the context object: the connection ends with the loop.
    connect(this, done, &loop, [&](const QString &err, const QString &ctx, Args... rest) {
        if (ctx != own)
            return;
        take(err, rest...);
        loop.quit();
    });
    send();
    loop.exec();
}

void I2cSvc::waitReadRegister(const QString &dat, const QByteArray &regAddr, signed char size,
                              QByteArray &regValue, QString &err)
{
    const QString own = QStringLiteral("waitReadRegister");
    waitFor(
        &I2cSvc::doneReadRegister, own,
        [&](const QString &answerErr, const QString &, const QByteArray &, const QByteArray &value) {
            err = answerErr;
            regValue = value;
        },
        [&] { emit doReadRegister(own, dat, regAddr, size); });
}

void I2cSvc::waitWriteRegister(const QString &dat, const QByteArray &regAddr,
                               const QByteArray &regValue, QString &err)
{
    const QString own = QStringLiteral("waitWriteRegister");
    waitFor(
        &I2cSvc::doneWriteRegister, own,
        [&](const QString &answerErr, const QString &, const QByteArray &, const QByteArray &) {
            err = answerErr;
        },
        [&] { emit doWriteRegister(own, dat, regAddr, regValue); });
}

void I2cSvc::waitPmbusCommands(const QString &dat, QList<PmbusCommand> &commands, QString &err)
{
    const QString own = QStringLiteral("waitPmbusCommands");
    waitFor(
        &I2cSvc::donePmbusCommands, own,
        [&](const QString &answerErr, const QString &, const QList<PmbusCommand> &answered) {
            err = answerErr;
            commands = answered;
        },
        [&] { emit doPmbusCommands(own, dat, commands); });
}

void I2cSvc::waitRunScript(const QString &dat, const QStringList &lines, QString &err)
{
    const QString own = QStringLiteral("waitRunScript");
    waitFor(
        &I2cSvc::doneRunScript, own, [&](const QString &answerErr, const QString &) { err = answerErr; },
        [&] { emit doRunScript(own, dat, lines); });
}

QVariant I2cSvc::waitPmbusCommand(const QString &dat, const bool &isRead,
                                  const bool &isBlockProtocol, const QString &command,
                                  const QString &data)
{
    // Byte arguments as a script writes them: "0x3C" is one byte, "0001"
    // two. Text that is no such number would reach the chip as some other
    // byte, so it is refused.
    QByteArray code = I2cScript::bytesFromToken(command);
    while (code.size() > 1 && code.at(0) == '\0')
        code.remove(0, 1);
    if (!I2cScript::isHexToken(command) || code.size() != 1)
        return QStringLiteral("Invalid command (%1)").arg(command);
    if (!data.isEmpty() && !I2cScript::isHexToken(data))
        return QStringLiteral("Invalid value (%1)").arg(data);
    PmbusCommand pmbus;
    pmbus.isRead = isRead;
    pmbus.isBlockProtocol = isBlockProtocol ? 1 : 0;
    pmbus.command = code;
    pmbus.data = I2cScript::bytesFromToken(data);

    QList<PmbusCommand> commands { pmbus };
    QString err;
    waitPmbusCommands(dat, commands, err);
    if (!err.isEmpty() || !isRead)
        return err;
    QList<unsigned char> bytes;
    for (char byte : commands.value(0).data)
        bytes << static_cast<unsigned char>(byte);
    return QVariant::fromValue(bytes);
}

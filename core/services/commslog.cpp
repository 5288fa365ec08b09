#include "commslog.h"

#include "logger.h"
#include "settings.h"

#include "i2c/i2csvc.h"

#include <QCoreApplication>
#include <QDebug>

CommsLog *CommsLog::m_instance = nullptr;

namespace {
QString s_dumpFilePath;
}

CommsLog *CommsLog::getInstance()
{
    if (!m_instance) {
        m_instance = new CommsLog;
        qAddPostRoutine([] { delete m_instance; });
    }
    return m_instance;
}

CommsLog::CommsLog()
{
    connect(this, &CommsLog::dumpLogChanged, this, &CommsLog::switchDump);
    // Opens and empties the dump file at every start.
    emit dumpLogChanged(m_dumpLog);

    connect(I2cSvc::getInstance(), &I2cSvc::eventLogTxRx, this, &CommsLog::logTxRx);
    // The device manager connects its eventDevice* and eventModelState*
    // signals to the log* slots of the same name when it is created: this log
    // must exist first and be torn down after it, because its devices detach
    // from the log as they are destroyed.
}

CommsLog::~CommsLog()
{
    closeDump();
    disconnect();
    m_instance = nullptr;
}

void CommsLog::setDumpLog(bool dumpLog)
{
    if (m_dumpLog == dumpLog)
        return;
    m_dumpLog = dumpLog;
    emit dumpLogChanged(m_dumpLog);
}

void CommsLog::setFilter(const QString &filter)
{
    if (m_filter == filter)
        return;
    m_filter = filter;
    emit filterChanged(m_filter);
}

void CommsLog::logAttach(const QObject *obj)
{
    // A Device connects its six data signals here, each to the log* slot of
    // the same name (eventBulkDataRead -> logBulkDataRead, ...); other objects
    // are ignored. By signature, because the devices sit above this log: it
    // knows them by these names only.
    if (!obj || !obj->inherits("Device"))
        return;
    connect(obj, SIGNAL(eventBulkDataRead(QString, QString, QString, QByteArray)),
            this, SLOT(logBulkDataRead(QString, QString, QString, QByteArray)));
    connect(obj, SIGNAL(eventBulkDataWrite(QString, QString, QString, QByteArray)),
            this, SLOT(logBulkDataWrite(QString, QString, QString, QByteArray)));
    connect(obj, SIGNAL(eventRegDataRead(QString, QString, QString, QByteArray)),
            this, SLOT(logRegDataRead(QString, QString, QString, QByteArray)));
    connect(obj, SIGNAL(eventRegDataWrite(QString, QString, QString, QByteArray)),
            this, SLOT(logRegDataWrite(QString, QString, QString, QByteArray)));
    connect(obj, SIGNAL(eventPmbusDataRead(QString, QString, QString, QByteArray)),
            this, SLOT(logPmbusDataRead(QString, QString, QString, QByteArray)));
    connect(obj, SIGNAL(eventPmbusDataWrite(QString, QString, QString, QByteArray)),
            this, SLOT(logPmbusDataWrite(QString, QString, QString, QByteArray)));
}

void CommsLog::logDetach(const QObject *obj)
{
    if (obj)
        disconnect(obj, nullptr, this, nullptr);
}

void CommsLog::setDumpFilePath(const QString &path)
{
    if (s_dumpFilePath == path)
        return;
    s_dumpFilePath = path;
    if (m_instance && m_instance->m_dumpLog)
        m_instance->switchDump(true);
}

QString CommsLog::dumpFilePath()
{
    return s_dumpFilePath.isEmpty() ? Logger::getInstance()->logFilepath() + QLatin1Char('/') + fileName()
                                    : s_dumpFilePath;
}

void CommsLog::switchDump(bool on)
{
    closeDump();
    m_dumpError.clear();
    if (!on)
        return;

    if (s_dumpFilePath.isEmpty())
        Logger::ensureLogFolder();
    const QString path = dumpFilePath();
    m_dumpFile = new QFile(path, this);
    if (!m_dumpFile->open(QIODevice::WriteOnly | QIODevice::Text | QIODevice::Truncate)) {
        // The records are still kept and shown; only the file goes without.
        m_dumpError = QStringLiteral("Communication log file %1 cannot be opened: %2").arg(path, m_dumpFile->errorString());
        qWarning().noquote() << m_dumpError;
        closeDump();
        return;
    }
    writeDump("Source;DAT;Text;Err;Param1;Param2;\n");
}

void CommsLog::writeDump(const QByteArray &record)
{
    if (m_dumpFile->write(record) == record.size() && m_dumpFile->flush())
        return;
    // Said once: a full disk would otherwise repeat it for every transfer.
    if (m_dumpError.isEmpty()) {
        m_dumpError = QStringLiteral("Communication log file %1 cannot be written: %2")
                          .arg(m_dumpFile->fileName(), m_dumpFile->errorString());
        qWarning().noquote() << m_dumpError;
    }
}

void CommsLog::closeDump()
{
    if (!m_dumpFile)
        return;
    m_dumpFile->close();
    delete m_dumpFile;
}

void CommsLog::appendHistory(const QString &line)
{
    m_history.append(line);
    while (m_history.size() > maxHistoryLines)
        m_history.removeFirst();
}

void CommsLog::doLogEvent(const QString &src, const QString &dat, const QString &text,
                          const QString &err, const QString &param1, const QString &param2)
{
    const QString line = QStringLiteral("[%1] %2 %3 %4 %5 %6")
                             .arg(src, dat, text, QString(), param1, param2);
    if (m_filter.isEmpty() || line.contains(m_filter)) {
        appendHistory(line);
        emit eventLog(line, false);
        if (!err.isEmpty()) {
            appendHistory(err);
            emit eventLog(err, true);
        }
    }

    if (m_dumpLog && m_dumpFile && m_dumpFile->isOpen()) {
        // Characters outside Latin-1 become "?".
        writeDump(QStringLiteral("%1;%2;%3;%4;%5;%6;\n").arg(src, dat, text, err, param1, param2).toLatin1());
    }
}

void CommsLog::logTxRx(const QString &dat, const QString &txrx, const QString &err)
{
    doLogEvent(QStringLiteral("i2cSvc"), dat, txrx, err);
}

void CommsLog::logDeviceManagerEvent(const QString &dat, const QString &text)
{
    doLogEvent(QStringLiteral("devMgr"), dat, text);
}

void CommsLog::logDeviceAdded(const QString &dat) { logDeviceManagerEvent(dat, QStringLiteral("Added device")); }
void CommsLog::logDeviceRemoved(const QString &dat) { logDeviceManagerEvent(dat, QStringLiteral("Removed device")); }
void CommsLog::logDeviceConnected(const QString &dat) { logDeviceManagerEvent(dat, QStringLiteral("Connected device")); }
void CommsLog::logDeviceDisconnected(const QString &dat) { logDeviceManagerEvent(dat, QStringLiteral("Disconnected device")); }

// In immediate mode the model state is saved and restored on every edit;
// logging each one would drown the bus traffic.
void CommsLog::logModelStateSaved(const QString &dat)
{
    if (!Settings::getInstance()->immediateMode())
        logDeviceManagerEvent(dat, QStringLiteral("Model state saved"));
}

void CommsLog::logModelStateRestored(const QString &dat)
{
    if (!Settings::getInstance()->immediateMode())
        logDeviceManagerEvent(dat, QStringLiteral("Model state restored"));
}

void CommsLog::logDeviceData(const QString &text, const QString &err, const QString &dat,
                             const QString &name, const QByteArray &value)
{
    doLogEvent(QStringLiteral("device"), dat, text, err, name, QString::fromLatin1(value.toHex()));
}

void CommsLog::logBulkDataRead(const QString &err, const QString &dat, const QString &name, const QByteArray &value)
{
    logDeviceData(QStringLiteral("bulkData rd, size %1").arg(value.size()), err, dat, name, value);
}

void CommsLog::logBulkDataWrite(const QString &err, const QString &dat, const QString &name, const QByteArray &value)
{
    logDeviceData(QStringLiteral("bulkData wr, size %1").arg(value.size()), err, dat, name, value);
}

void CommsLog::logRegDataRead(const QString &err, const QString &dat, const QString &name, const QByteArray &value)
{
    logDeviceData(QStringLiteral("regData rd"), err, dat, name, value);
}

void CommsLog::logRegDataWrite(const QString &err, const QString &dat, const QString &name, const QByteArray &value)
{
    logDeviceData(QStringLiteral("regData wr"), err, dat, name, value);
}

void CommsLog::logPmbusDataRead(const QString &err, const QString &dat, const QString &name, const QByteArray &value)
{
    logDeviceData(QStringLiteral("pmbusData rd"), err, dat, name, value);
}

void CommsLog::logPmbusDataWrite(const QString &err, const QString &dat, const QString &name, const QByteArray &value)
{
    logDeviceData(QStringLiteral("pmbusData wr"), err, dat, name, value);
}

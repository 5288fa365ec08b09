#include "devices/device.h"

#include "i2c/i2csvc.h"
#include "i2c/i2cscript.h"
#include "services/commslog.h"
#include "services/logger.h"
#include "services/settings.h"
#include "utils/utils.h"

#include <QDebug>

namespace {

// The columns of one monitor event: key order, a list spreading into one
// column per element.
void csvLines(const QVariantMap &vmap, QString &header, QString &data)
{
    const QLatin1Char comma(',');
    for (auto it = vmap.cbegin(); it != vmap.cend(); ++it) {
        if (it.value().typeId() == QMetaType::QVariantList) {
            const QVariantList list = it.value().toList();
            for (qsizetype i = 0; i < list.size(); ++i) {
                header += (list.size() == 1 ? it.key()
                                            : QStringLiteral("%1_#%2").arg(it.key()).arg(i))
                    + comma;
                data += list.at(i).toString() + comma;
            }
        } else {
            header += it.key() + comma;
            data += it.value().toString() + comma;
        }
    }
    header += QLatin1Char('\n');
    data += QLatin1Char('\n');
}

} // namespace

Device::Device(const QString &dat)
    : QObject(nullptr)
    , m_dat(dat)
    , m_registers(std::make_unique<Registers>())
{
    DeviceTypes::registerMetaTypes();
    CommsLog::getInstance()->logAttach(this);

    I2cSvc *svc = I2cSvc::getInstance();
    connect(svc, &I2cSvc::doneReadBulk, this, &Device::doneReadBulk);
    connect(svc, &I2cSvc::doneWriteBulk, this, &Device::doneWriteBulk);
    connect(svc, &I2cSvc::doneReadRegister, this, &Device::doneReadRegister);
    connect(svc, &I2cSvc::doneWriteRegister, this, &Device::doneWriteRegister);
    connect(svc, &I2cSvc::donePmbusCommands, this, &Device::donePmbusCommands);
    // DeviceMgr connects its exportEnabledChanged(bool) to onExportEnabledChanged.
}

Device::~Device()
{
    CommsLog::getInstance()->logDetach(this);
}

void Device::setDat(const QString &dat)
{
    m_dat = dat;
}

bool Device::verboseMode() const
{
    return !Settings::getInstance()->immediateMode();
}

void Device::setRegisters(std::unique_ptr<Registers> registers)
{
    if (registers)
        m_registers = std::move(registers);
}

void Device::logNotImplemented(const QString &signature) const
{
    qDebug().noquote() << QStringLiteral("No implementation of %1 for type %2").arg(signature, myType());
}

bool Device::replaceScriptPlaceholders(const QString &ctx, QStringList &script)
{
    // Joining and splitting would turn no lines into one empty line.
    if (script.isEmpty())
        return false;
    const QMap<QString, QString> replacements = getScriptReplacements();

    QString text = script.join(QLatin1Char('\n'));
    text.replace(QStringLiteral("$CTX$"), ctx, Qt::CaseInsensitive);
    text.replace(QStringLiteral("$DAT$"), m_dat, Qt::CaseInsensitive);
    QStringList lines = text.split(QLatin1Char('\n'), Qt::KeepEmptyParts);

    for (QString &line : lines) {
        QStringList tokens = I2cSvc::parseScriptLine(line);
        if (!tokens.isEmpty() && !tokens.first().startsWith(I2cScript::i2c_comment)) {
            // Only the line's own tokens: the documenting comments appended
            // below are never candidates.
            const qsizetype count = tokens.size();
            for (qsizetype i = 0; i < count; ++i) {
                for (auto it = replacements.cbegin(); it != replacements.cend(); ++it) {
                    if (tokens.at(i).compare(it.key(), Qt::CaseInsensitive) == 0) {
                        tokens[i] = it.value();
                        tokens.append(QStringLiteral(" #%1=%2; ").arg(it.key(), it.value()));
                    }
                }
            }
        }
        line = tokens.join(QLatin1Char(' '));
    }
    script = lines;
    return !script.isEmpty();
}

void Device::exportMonitorEvent(const QString &speed, const QVariantMap &vmap)
{
    Q_UNUSED(speed);
    QString header;
    QString data;
    csvLines(vmap, header, data);

    if (!m_exportFile || !m_exportFile->isOpen()) {
        // The folder may not exist yet on a fresh machine; a file that still
        // cannot be opened is tried again with the next event.
        const QString path = Logger::ensureLogFolder()
            + QStringLiteral("/export_monitor_%1.csv").arg(Utils::datToKey(m_dat));
        if (!m_exportFile)
            m_exportFile = std::make_unique<QFile>(path);
        else
            m_exportFile->setFileName(path);
        if (m_exportFile->open(QIODevice::WriteOnly | QIODevice::Text | QIODevice::Truncate))
            m_exportFile->write(header.toLatin1());
    }
    if (m_exportFile->isOpen()) {
        m_exportFile->write(data.toLatin1());
        m_exportFile->flush();
    }
}

void Device::onExportEnabledChanged(bool enabled)
{
    if (!enabled && m_exportFile && m_exportFile->isOpen())
        m_exportFile.reset();
}

QVariantMap Device::getMonitorEvent(const QString &speed)
{
    Q_UNUSED(speed);
    return {};
}

QVariantMap Device::getFunctionEvent(const QString &name)
{
    Q_UNUSED(name);
    return {};
}

QStringList Device::getMonitorScript(const QString &speed)
{
    Q_UNUSED(speed);
    return {};
}

QStringList Device::getReadConfigurationScript()
{
    logNotImplemented(QStringLiteral("virtual QStringList Device::getReadConfigurationScript()"));
    return {};
}

QStringList Device::getWriteConfigurationScript()
{
    logNotImplemented(QStringLiteral("virtual QStringList Device::getWriteConfigurationScript()"));
    return {};
}

QStringList Device::getFunctionScript(const QString &name, const QVariantMap &params)
{
    Q_UNUSED(params);
    logNotImplemented(QStringLiteral("virtual QStringList Device::getFunctionScript(const QString&, "
                                     "const QVariantMap&):")
                      + name);
    return {};
}

QVariantMap Device::task(const QString &name, const QVariantMap &params)
{
    Q_UNUSED(params);
    logNotImplemented(QStringLiteral("virtual QVariantMap Device::task(const QString&, const QVariantMap&):")
                      + name);
    return {};
}

QMap<QString, QString> Device::getScriptReplacements()
{
    return {};
}

void Device::setState(const DeviceState &state)
{
    Q_UNUSED(state);
    logNotImplemented(QStringLiteral("virtual void Device::setState(const DeviceState&)"));
}

DeviceState Device::getState()
{
    logNotImplemented(QStringLiteral("virtual DeviceState Device::getState()"));
    return {};
}

QByteArray Device::internalOf(const QByteArray &regAddr) const
{
    return m_registers->addrToInternal(regAddr, QByteArray());
}

QString Device::nameOfInternal(const QByteArray &internal) const
{
    return m_registers->nameFromInternal(internal);
}

bool Device::keepCompletion(const QString &err, const QString &dat, Registers::Group group,
                            const QByteArray &key, const QByteArray &value)
{
    if (dat != m_dat)
        return false;
    // A failed transfer says nothing about the chip.
    if (err.isEmpty())
        m_registers->bytesToStore(group, key, value);
    return true;
}

void Device::registerCompletion(DataEvent event, const QString &err, const QString &dat,
                                const QByteArray &regAddr, const QByteArray &regValue)
{
    const QByteArray internal = internalOf(regAddr);
    if (keepCompletion(err, dat, Registers::GroupRegister, internal, regValue))
        emit (this->*event)(err, dat, nameOfInternal(internal), regValue);
}

void Device::bulkCompletion(DataEvent event, const QString &err, const QString &dat,
                            const QByteArray &regAddr, const QByteArray &command, const QByteArray &data)
{
    // Bulk data is kept by its command bytes, and named by register and command.
    if (keepCompletion(err, dat, Registers::GroupBulk, command, data))
        emit (this->*event)(err, dat,
                            nameOfInternal(internalOf(regAddr)) + QLatin1Char(':') + Utils::formatHexBA(command),
                            data);
}

void Device::doneReadRegister(const QString &err, const QString &ctx, const QString &dat,
                              const QByteArray &regAddr, const QByteArray &regValue)
{
    Q_UNUSED(ctx);
    registerCompletion(&Device::eventRegDataRead, err, dat, regAddr, regValue);
}

void Device::doneWriteRegister(const QString &err, const QString &ctx, const QString &dat,
                               const QByteArray &regAddr, const QByteArray &regValue)
{
    Q_UNUSED(ctx);
    registerCompletion(&Device::eventRegDataWrite, err, dat, regAddr, regValue);
}

void Device::doneReadBulk(const QString &err, const QString &ctx, const QString &dat,
                          const QByteArray &regAddr, const QByteArray &command, const QByteArray &data)
{
    Q_UNUSED(ctx);
    bulkCompletion(&Device::eventBulkDataRead, err, dat, regAddr, command, data);
}

void Device::doneWriteBulk(const QString &err, const QString &ctx, const QString &dat,
                           const QByteArray &regAddr, const QByteArray &command, const QByteArray &data)
{
    Q_UNUSED(ctx);
    bulkCompletion(&Device::eventBulkDataWrite, err, dat, regAddr, command, data);
}

void Device::donePmbusCommands(const QString &err, const QString &ctx, const QString &dat,
                               const QList<PmbusCommand> &commands)
{
    Q_UNUSED(ctx);
    if (dat != m_dat)
        return;
    for (const PmbusCommand &command : commands) {
        const QByteArray internal = internalOf(command.command);
        keepCompletion(err, dat, Registers::GroupPmbus, internal, command.data);
        const QString name = nameOfInternal(internal);
        if (command.isRead)
            emit eventPmbusDataRead(err, dat, name, command.data);
        else
            emit eventPmbusDataWrite(err, dat, name, command.data);
    }
}

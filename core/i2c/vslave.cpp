#include "i2c/vslave.h"

#include "utils/utils.h"

VSlave::VSlave(const QString &dat)
    : QObject(nullptr)
    , m_dat(dat)
    , m_registers(std::make_unique<Registers>())
{
    m_elapsed.start();
    connect(&m_periodic, &QTimer::timeout, this, &VSlave::periodic);
    m_periodic.start(500);
}

VSlave::~VSlave() = default;

void VSlave::init() {}

void VSlave::periodic() {}

void VSlave::setRegisters(std::unique_ptr<Registers> registers)
{
    if (registers)
        m_registers = std::move(registers);
}

bool VSlave::hwWriteRegister(QString &err, const QString &dat, const QByteArray &regAddr,
                             const QByteArray &regValue, unsigned char flags)
{
    Q_UNUSED(err);
    Q_UNUSED(dat);
    Q_UNUSED(flags);
    const QByteArray key = m_registers->addrToInternal(regAddr, QByteArray());
    m_registers->bytesToStore(Registers::GroupRegister, key, regValue);
    return true;
}

bool VSlave::hwReadRegister(QString &err, const QString &dat, const QByteArray &regAddr,
                            QByteArray &regValue, unsigned char flags)
{
    Q_UNUSED(flags);
    const QByteArray key = m_registers->addrToInternal(regAddr, QByteArray());
    regValue.clear();
    if (m_registers->isStored(Registers::GroupRegister, key))
        regValue = m_registers->bytesFromStore(Registers::GroupRegister, key);
    else
        err += QStringLiteral("VSlave read failed: %1 has no data for register address: 0x%2")
                   .arg(dat, Utils::formatHexBA(regAddr));
    return !regValue.isEmpty();
}

bool VSlave::hwWritePacket(QString &err, const QString &dat, const QByteArray &regAddr,
                           const QByteArray &command, const QByteArray &data)
{
    Q_UNUSED(err);
    Q_UNUSED(dat);
    Q_UNUSED(regAddr);
    const int index = data.isEmpty() ? 0 : quint8(data.at(0));
    QByteArray stored = m_registers->bytesFromStore(Registers::GroupBulk, command);
    if (index != 0)
        stored += data;
    else
        stored = data;
    m_registers->bytesToStore(Registers::GroupBulk, command, stored);
    return true;
}

bool VSlave::hwReadPacket(QString &err, const QString &dat, const QByteArray &regAddr,
                          QByteArray &data)
{
    Q_UNUSED(regAddr);
    // The request is command byte, packet index, CRC.
    const QByteArray key = data.left(1);
    const qsizetype index = data.size() > 1 ? quint8(data.at(1)) : 0;
    data.clear();
    if (m_registers->isStored(Registers::GroupBulk, key))
        data = m_registers->bytesFromStore(Registers::GroupBulk, key).mid(index * 512, 512);
    else
        err += QStringLiteral("VSlave read failed: %1 has no data for bulk command: 0x%2")
                   .arg(dat, Utils::formatHexBA(key));
    return !data.isEmpty();
}

#include "services/spimastersvc.h"

#include <QCoreApplication>

SpiMasterSvc *SpiMasterSvc::m_instance = nullptr;

SpiMasterSvc *SpiMasterSvc::getInstance()
{
    if (!m_instance) {
        m_instance = new SpiMasterSvc;
        qAddPostRoutine([] { delete m_instance; });
    }
    return m_instance;
}

SpiMasterSvc::SpiMasterSvc()
{
    m_library.setFileName(QStringLiteral("cheetah.dll"));
}

SpiMasterSvc::~SpiMasterSvc()
{
    if (m_instance == this)
        m_instance = nullptr;
}

void SpiMasterSvc::setup(int, bool) {}

void SpiMasterSvc::close() {}

int SpiMasterSvc::crc(const QByteArray &data)
{
    int reg = 0;
    for (const char byte : data) {
        for (int bit = 7; bit >= 1; --bit) {
            const bool feedback = ((reg >> 2) & 1) != ((quint8(byte) >> bit) & 1);
            reg = (reg << 1) & 0x7;
            if (feedback)
                reg ^= 0x3;
        }
    }
    return reg;
}

QVariantMap SpiMasterSvc::waitAvsSend(const int &cmdType, const int &group, const int &dataType,
                                      const int &select, const int &data)
{
    Q_UNUSED(cmdType);
    Q_UNUSED(group);
    Q_UNUSED(dataType);
    Q_UNUSED(select);
    Q_UNUSED(data);
    QVariantMap reply;
    reply.insert(QStringLiteral("err"),
                 QStringLiteral("Could not perform operation. Cheetah dongle not loaded."));
    if (!reply.contains(QStringLiteral("ack")))
        reply.insert(QStringLiteral("ack"), 4);
    return reply;
}

QVariantMap SpiMasterSvc::waitAvsRead(const int &group, const int &dataType, const int &select,
                                      const int &data)
{
    return waitAvsSend(AvsRead, group, dataType, select, data);
}

QVariantMap SpiMasterSvc::waitAvsWrite(const int &group, const int &dataType, const int &select,
                                       const int &data)
{
    return waitAvsSend(AvsWriteCommit, group, dataType, select, data);
}

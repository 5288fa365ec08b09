// I2cWorker simulated slaves and the scan that finds slaves on an adapter.
#include "i2c/i2cworker.h"

#include "i2c/vslave.h"
#include "services/settings.h"
#include "utils/utils.h"

using Dongles::DonglePtr;

namespace {

// The first byte of a value, or -1 for an empty one.
int firstByte(const QByteArray &value)
{
    return value.isEmpty() ? -1 : quint8(value.at(0));
}

// Identification read of one device type during a slave scan.
struct Probe
{
    const char *type;
    char reg;
    QByteArray initial;
    unsigned char flags;
    bool (*found)(const QByteArray &value);
};

const QList<Probe> &probes()
{
    static const QList<Probe> table = {
        { "bvr60100", '\xB2', QByteArray("\x3D", 1), 0,
          [](const QByteArray &v) { return firstByte(v) == 'p' || firstByte(v) == 'P'; } },
        { "bvr60200", '\x01', QByteArray("\x3D\x3D", 2), 0,
          [](const QByteArray &v) { return firstByte(v) == 0x00 || firstByte(v) == 'C'; } },
        { "bvr60400", '\xAD', QByteArray("\xFF\xFF\xFF\xFF", 4), 1,
          [](const QByteArray &v) { return Utils::uintFromHexBA(v) == 0x51FD00; } },
        { "pmbus", '\x98', QByteArray("\x00", 1), 0, [](const QByteArray &) { return true; } },
        { "bvr60500", '\x00', QByteArray("\x3D\x3D", 2), 0,
          [](const QByteArray &v) { return firstByte(v) == 0x9F; } },
        { "bvr60600", '\x41', QByteArray("\xFF", 1), 0,
          [](const QByteArray &v) { return v == QByteArray("\x07", 1); } },
        { "bvr60700", '\x00', QByteArray("\xFF", 1), 0,
          [](const QByteArray &v) { return firstByte(v) == 0x01; } },
    };
    return table;
}

} // namespace

void I2cWorker::doVirtualSlave(const QString &ctx, const QString &dat, bool enable)
{
    QString err;
    if (!Utils::goodDat(dat)) {
        err = QStringLiteral("I2cWorker_doVirtualSlave, badly formed DAT (%1)").arg(dat);
    } else {
        // Simulated slaves live on the default adapter: the adapter id is
        // dropped from the key when the registry files it under "".
        const QString key = (m_dongleMgr.defaultUnderEmptyId()
                                 ? dat.mid(dat.indexOf(Utils::datSeperator))
                                 : dat)
                                .toLower();
        const auto it = m_vslaves.find(key);
        if (enable && (it == m_vslaves.end() || !it.value())) {
            VSlave *slave = m_vslaveFactory ? m_vslaveFactory(key) : nullptr;
            if (slave) {
                m_vslaves.insert(key, slave);
                emit eventSlaveAdded(key);
            } else {
                err = QStringLiteral("I2cWorker_doVirtualSlave, no simulated slave for type %1")
                          .arg(Utils::datType(key));
            }
        } else if (!enable && it != m_vslaves.end()) {
            VSlave *slave = it.value().data();
            m_vslaves.erase(it);
            delete slave;
            emit eventSlaveRemoved(key);
        }
    }
    logText(QStringLiteral("I2cWorker_doVirtualSlave[%1]: executed %2").arg(ctx, errState(err)),
            err, QtDebugMsg);
    beforeCompletion();
    emit doneVirtualSlave(err, ctx, dat, enable);
}

QStringList I2cWorker::vslaveDongles() const
{
    QStringList ids;
    for (auto it = m_vslaves.cbegin(); it != m_vslaves.cend(); ++it) {
        const QStringList fields = Utils::exDat(it.key());
        if (fields.size() == 3 && !ids.contains(fields.at(0)))
            ids << fields.at(0);
    }
    return ids;
}

bool I2cWorker::probe(const QString &dat, const QString &type)
{
    for (const Probe &p : probes()) {
        if (type != QLatin1String(p.type))
            continue;
        QString err;
        QByteArray value = p.initial;
        // The worker's own real-adapter path: simulated slaves announce
        // themselves, they are never probed.
        return hwReadRegister(err, dat, QByteArray(1, p.reg), value, p.flags) && p.found(value);
    }
    return false;
}

void I2cWorker::doScanForSlaves(const QString &dongleId, const ScanInstruction &requested)
{
    // A bus that may carry the computer's own chips is probed at every
    // address only with the user's consent; without it the types asked for
    // at every address are left out.
    ScanInstruction scanInstruction = requested;
    QString unused;
    const DonglePtr dongle = m_dongleMgr.getDongle(dongleId, unused);
    if (dongle && !dongle->allowsOpenScan()) {
        bool refused = false;
        for (auto it = scanInstruction.begin(); it != scanInstruction.end();) {
            refused = refused || it.value().isEmpty();
            it = it.value().isEmpty() ? scanInstruction.erase(it) : std::next(it);
        }
        if (refused)
            logTxRx(QStringLiteral("Open scan of %1 not allowed: add %1 to the setting "
                                   "i2cOpenScanBuses to probe every address of this bus")
                        .arg(dongle->idText()),
                    QString(), QString());
        if (scanInstruction.isEmpty() && !vslaveDongles().contains(dongleId))
            return;
    }

    m_scanning = true;
    const bool closed = !scanInstruction.isEmpty() && !scanInstruction.first().isEmpty();
    logTxRx(QStringLiteral("Scanning for slaves... (%1 scan)")
                .arg(closed ? QStringLiteral("closed") : QStringLiteral("open")),
            QString(), QString());

    if (vslaveDongles().contains(dongleId)) {
        for (auto it = m_vslaves.cbegin(); it != m_vslaves.cend(); ++it) {
            if (Utils::exDat(it.key()).value(0) == dongleId)
                emit eventSlaveAdded(it.key());
        }
    }

    QList<unsigned char> found;
    for (auto it = scanInstruction.cbegin(); it != scanInstruction.cend(); ++it) {
        const QList<unsigned char> addresses =
            it.value().isEmpty() ? i2c_7bit_legal_addresses() : it.value();
        for (unsigned char address : addresses) {
            if (found.contains(address))
                continue;
            const QString dat = Utils::mkDat(dongleId, Utils::toHexAddress(address, 2), it.key());
            if (Settings::getInstance()->commsDebugMode() || probe(dat, it.key())) {
                found << address;
                emit eventSlaveAdded(dat);
            }
        }
    }
    m_scanning = false;
}

#include "devices/deviceroster.h"

#include "devices/device.h"
#include "i2c/i2csvc.h"
#include "services/settings.h"
#include "utils/utils.h"

#include <utility>

DeviceRoster::~DeviceRoster()
{
    deleteAll();
}

QStringList DeviceRoster::listedDats() const
{
    QStringList dats;
    for (auto it = m_devices.cbegin(); it != m_devices.cend(); ++it) {
        if (Utils::goodDat(it.key()))
            dats << it.key();
    }
    return dats;
}

void DeviceRoster::insert(const QString &dat, Device *device)
{
    m_devices.insert(dat, device);
}

QPointer<Device> DeviceRoster::take(const QString &dat)
{
    return m_devices.take(dat);
}

void DeviceRoster::deleteAll()
{
    const QMap<QString, QPointer<Device>> devices = std::exchange(m_devices, {});
    for (const QPointer<Device> &device : devices)
        delete device.data();
}

void DeviceRoster::mergeState(const QString &dat, const QVariantMap &over)
{
    DeviceState &target = m_states[dat];
    for (auto it = over.cbegin(); it != over.cend(); ++it)
        target.insert(it.key(), it.value());
}

bool DeviceRoster::addressOf(const QString &dat, unsigned char &address)
{
    const QString text = Utils::datAddress(dat);
    if (!text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        return false;
    bool ok = false;
    const unsigned value = text.mid(2).toUInt(&ok, 16);
    if (!ok || value > 0xFF || Utils::toHexAddress(value, 2).compare(text, Qt::CaseInsensitive) != 0)
        return false;
    address = static_cast<unsigned char>(value);
    return true;
}

QString DeviceRoster::datAt(const QString &dat) const
{
    unsigned char address = 0;
    if (!addressOf(dat, address))
        return {};
    for (auto it = m_devices.cbegin(); it != m_devices.cend(); ++it) {
        unsigned char other = 0;
        if (it.key() != dat && addressOf(it.key(), other) && other == address)
            return it.key();
    }
    return {};
}

QList<unsigned char> DeviceRoster::addresses7Bit(const QString &exceptDat) const
{
    QList<unsigned char> addresses;
    for (auto it = m_devices.cbegin(); it != m_devices.cend(); ++it) {
        if (it.key() != exceptDat)
            addresses << static_cast<unsigned char>(Utils::fromHexAddress(Utils::datAddress(it.key())));
    }
    return addresses;
}

QString DeviceRoster::checkAddress(const QString &dat, const QString &exceptDat) const
{
    unsigned char address = 0;
    if (!addressOf(dat, address) || !I2cSvc::get7BitLegalAddresses().contains(address))
        return QStringLiteral("Address %1 is not a legal 7-bit address").arg(Utils::datAddress(dat));
    if (addresses7Bit(exceptDat).contains(address))
        return QStringLiteral("Address %1 is already in use").arg(Utils::datAddress(dat));
    return {};
}

QMap<QString, QString> DeviceRoster::metadata(const QString &dat, bool connected) const
{
    QMap<QString, QString> meta;
    if (!Utils::goodDat(dat))
        return meta;
    const QString alias = m_states.value(dat).value(QStringLiteral("alias")).toString();
    unsigned value = Utils::fromHexAddress(Utils::datAddress(dat));
    if (Settings::getInstance()->i2c8BitAddress())
        value *= 2;
    const QString address = Utils::toHexAddress(value, 2);
    const QString type = Utils::datType(dat);
    meta.insert(QStringLiteral("alias"), alias);
    meta.insert(QStringLiteral("address"), address);
    meta.insert(QStringLiteral("type"), type);
    meta.insert(QStringLiteral("name"),
                QStringLiteral("%1 %2").arg(alias.isEmpty() ? type.toUpper() : alias, address));
    meta.insert(QStringLiteral("connected"), connected ? QStringLiteral("y") : QStringLiteral("n"));
    return meta;
}

bool DeviceRoster::checkIntegrity(QString &err) const
{
    err.clear();
    if (m_devices.size() != m_states.size()) {
        err = QStringLiteral("device and deviceStates count differ");
    } else if (m_currentDevice && m_currentDevice->dat() != m_currentDat) {
        err = QStringLiteral("currentDevice and currentDat do not match");
    } else if (m_currentDevice && !m_devices.values().contains(m_currentDevice)) {
        err = QStringLiteral("currentDevice not contained in devices");
    } else if (!m_currentDat.isEmpty() && !m_devices.contains(m_currentDat)) {
        err = QStringLiteral("currentDat not contained in devices");
    } else {
        for (auto it = m_devices.cbegin(); it != m_devices.cend() && err.isEmpty(); ++it) {
            if (!m_states.contains(it.key()))
                err = QStringLiteral("device %1 does not have a deviceState").arg(it.key());
        }
        for (auto it = m_states.cbegin(); it != m_states.cend() && err.isEmpty(); ++it) {
            if (!m_devices.contains(it.key()))
                err = QStringLiteral("deviceState %1 does not have a device").arg(it.key());
        }
    }
    return err.isEmpty();
}

#include "sub20dongle.h"

#include "services/settings.h"
#include "utils/utils.h"
#include "vendorlibrary.h"

#include <QDebug>

#include <algorithm>

namespace Dongles {

namespace {

using SubDevice = void *;
using SubHandle = void *;

constexpr int ProductQuerySize = 100;

// The library's error codes that matter here (its libsub.h, "Error Codes").
constexpr int I2cError = 11; // the bus answered; sub_i2c_status says how
constexpr int WrongParameters = 14;

// The I2C status of a failed transfer (SUB-20 User Manual, "I2C Status").
QString i2cReason(int status)
{
    switch (status) {
    case 0x20: // SLA+W transmitted; NAK received
    case 0x48: // SLA+R transmitted; NAK received
        return QStringLiteral("address NACK");
    case 0x30:
        return QStringLiteral("data NACK");
    case 0x38:
    case 0xE0: case 0xE1: case 0xE2: case 0xE3: case 0xE4: case 0xE5:
        return QStringLiteral("arbitration lost");
    default:
        return QStringLiteral("I2C error");
    }
}

// Codes that say the device or the USB transfer to it failed: the adapter
// is gone. Every other failure leaves a working adapter behind.
QString goneReason(int result)
{
    switch (result) {
    case 1: return QStringLiteral("device not found");
    case 5: case 6: case 7: case 8: case 9: case 17:
        return QStringLiteral("USB transfer failed");
    case 19: return QStringLiteral("bad handle");
    default: return QString();
    }
}

// Every call returns 0 for success; the text queries may also answer with
// the length of the text, so only a negative answer counts as failure there.
struct Api
{
    SubDevice (*findDevices)(SubDevice previous) = nullptr;
    SubHandle (*open)(SubDevice device) = nullptr;
    int (*close)(SubHandle handle) = nullptr;
    int (*getProductId)(SubHandle handle, char *text, int size) = nullptr;
    int (*getSerialNumber)(SubHandle handle, char *text, int size) = nullptr;
    int (*i2cFreq)(SubHandle handle, int *hz) = nullptr;
    int (*i2cRead)(SubHandle handle, int address, int memoryAddress, int memoryAddressSize,
                   char *buffer, int size) = nullptr;
    int (*i2cWrite)(SubHandle handle, int address, int memoryAddress, int memoryAddressSize,
                    char *buffer, int size) = nullptr;
    // Optional: older libraries only have the variable sub_i2c_status.
    int (*getI2cStatus)() = nullptr;
};

QList<VendorLibrary::Part> libraryFiles()
{
#if defined(Q_OS_WIN)
    const QStringList files = { QStringLiteral("sub20.dll") };
#elif defined(Q_OS_MACOS)
    const QStringList files = { QStringLiteral("libsub.dylib") };
#else
    const QStringList files = { QStringLiteral("libsub.so") };
#endif
    return { { "PANEL_SUB20_LIBRARY", files } };
}

// Null when the library is missing; loaded on the first scan, once.
const Api *api()
{
    return VendorLibrary::loadOnce<Api>("SUB-20", &libraryFiles, [](VendorLibrary &library, Api &calls) {
        library.bind(calls.findDevices, "sub_find_devices");
        library.bind(calls.open, "sub_open");
        library.bind(calls.close, "sub_close");
        library.bind(calls.getProductId, "sub_get_product_id");
        library.bind(calls.getSerialNumber, "sub_get_serial_number");
        library.bind(calls.i2cFreq, "sub_i2c_freq");
        library.bind(calls.i2cRead, "sub_i2c_read");
        library.bind(calls.i2cWrite, "sub_i2c_write");
        library.bindOptional(calls.getI2cStatus, "sub_get_i2c_status");
    });
}

// Fills a fixed text field from one of the library's text queries; the
// field stays empty when the query fails.
void queryText(int (*query)(SubHandle, char *, int), SubHandle handle, char *field, int width)
{
    std::fill(field, field + width, '\0');
    if (query(handle, field, width - 1) < 0)
        std::fill(field, field + width, '\0');
    field[width - 1] = '\0';
}

} // namespace

Sub20Dongle::Sub20Dongle(const SDongle &identity)
    : DongleBase(identity)
{
}

Sub20Dongle::~Sub20Dongle()
{
    Sub20Dongle::close();
}

bool Sub20Dongle::IsDongleDescription(const QString &text)
{
    return text.contains(QLatin1String("SUB-20"));
}

DongleList Sub20Dongle::Scan(const DongleMgr &mgr)
{
    Q_UNUSED(mgr);
    DongleList found;
    const Api *sub = api();
    if (!sub)
        return found;

    for (SubDevice device = sub->findDevices(nullptr); device; device = sub->findDevices(device)) {
        const SubHandle opened = sub->open(device);
        if (!opened)
            continue;
        SDongle record;
        record.handle = opened;
        queryText(sub->getProductId, opened, record.description, int(sizeof(record.description)));
        queryText(sub->getSerialNumber, opened, record.serial, int(sizeof(record.serial)));
        const QByteArray id = "0x" + QByteArray(record.serial);
        // The id is kept as short as the serial field.
        copyText(record.id, sizeof(record.serial), id.constData());
        const auto dongle = std::make_shared<Sub20Dongle>(record);
        dongle->applyClock();
        found.append(dongle);
    }
    return found;
}

void Sub20Dongle::applyClock()
{
    const Api *sub = api();
    if (!sub || !handle)
        return;
    const int speed = Settings::getInstance()->i2cSpeed();
    const int asked = int(qBound(qint64(1), qint64(speed) * 1000, qint64(MaxClockHz)));
    // The library answers with the clock the adapter can make of it.
    int hz = asked;
    if (sub->i2cFreq(handle, &hz) != 0) {
        qWarning().noquote() << QStringLiteral("SUB-20 %1: I2C clock of %2 Hz refused")
                                    .arg(idText())
                                    .arg(asked);
        return;
    }
    m_clockSpeed = speed;
    qDebug().noquote() << QStringLiteral("SUB-20 %1: I2C clock %2 Hz (asked for %3 Hz)")
                              .arg(idText())
                              .arg(hz)
                              .arg(asked);
}

QString Sub20Dongle::productText() const
{
    const Api *sub = api();
    if (!sub || !handle)
        return QString();
    char text[ProductQuerySize] = {};
    queryText(sub->getProductId, handle, text, ProductQuerySize);
    return QString::fromLatin1(text);
}

bool Sub20Dongle::isResponsive() const
{
    return IsDongleDescription(productText());
}

bool Sub20Dongle::canReuse()
{
    if (!IsDongleDescription(descriptionText()) || !isResponsive())
        return false;
    if (m_clockSpeed != Settings::getInstance()->i2cSpeed())
        applyClock();
    return true;
}

bool Sub20Dongle::check(int result)
{
    m_failure.clear();
    m_gone = false;
    if (result == 0)
        return true;
    const Api *sub = api();
    const QString gone = goneReason(result);
    if (!gone.isEmpty()) {
        m_gone = true;
        m_failure = QStringLiteral("%1 [sub=%2]").arg(gone).arg(result);
    } else if (result == I2cError && sub && sub->getI2cStatus) {
        const int status = sub->getI2cStatus();
        m_failure = QStringLiteral("%1 [i2c=0x%2]").arg(i2cReason(status)).arg(status, 0, 16);
    } else if (result == I2cError) {
        m_failure = QStringLiteral("I2C error, NACK or arbitration lost [sub=%1]").arg(result);
    } else if (result == WrongParameters) {
        m_failure = QStringLiteral("refused by the library [sub=%1]").arg(result);
    } else {
        m_failure = QStringLiteral("SUB-20 error [sub=%1]").arg(result);
    }
    return false;
}

bool Sub20Dongle::isDisconnected(QString &err, bool ok) const
{
    if (ok)
        return false;
    if (!api() || !handle) {
        err = QStringLiteral("adapter closed");
        return true;
    }
    if (!m_failure.isEmpty())
        err = m_failure;
    return m_gone;
}

bool Sub20Dongle::read(unsigned short address, const QByteArray &memoryAddress, QByteArray &bytes)
{
    const Api *sub = api();
    if (!sub || !handle)
        return false;
    return check(sub->i2cRead(handle, address, int(Utils::uintFromHexBA(memoryAddress)),
                              int(memoryAddress.size()), bytes.data(), int(bytes.size())));
}

bool Sub20Dongle::write(unsigned short address, const QByteArray &memoryAddress,
                        const QByteArray &bytes)
{
    const Api *sub = api();
    if (!sub || !handle)
        return false;
    // The library refuses a write without data: a lone command byte (a
    // PMBus send byte) goes out as the data, with no memory address.
    if (bytes.isEmpty() && !memoryAddress.isEmpty())
        return write(address, QByteArray(), memoryAddress);
    QByteArray copy = bytes;
    return check(sub->i2cWrite(handle, address, int(Utils::uintFromHexBA(memoryAddress)),
                               int(memoryAddress.size()), copy.data(), int(copy.size())));
}

bool Sub20Dongle::hwReadRegister(QString &err, unsigned short address, const QByteArray &regAddr,
                                 QByteArray &regValue, QByteArray &buffer, unsigned char flags)
{
    Q_UNUSED(err);
    Q_UNUSED(regValue);
    Q_UNUSED(flags);
    return read(address, regAddr, buffer);
}

bool Sub20Dongle::hwWriteRegister(QString &err, unsigned short address, const QByteArray &regAddr,
                                  const QByteArray &regValue, const QByteArray &buffer,
                                  unsigned char flags)
{
    Q_UNUSED(err);
    Q_UNUSED(regValue);
    Q_UNUSED(flags);
    return write(address, regAddr, buffer);
}

bool Sub20Dongle::hwReadPacket(QString &err, unsigned short address, const QByteArray &regAddr,
                               QByteArray &data)
{
    Q_UNUSED(err);
    const QByteArray request = regAddr + Utils::uintToHexBA(unsigned(data.size()), 4) + data;
    if (!write(address, QByteArray(), request))
        return false;
    data.resize(512);
    return read(address, QByteArray(), data);
}

bool Sub20Dongle::hwWritePacket(QString &err, unsigned short address, const QByteArray &regAddr,
                                const QByteArray &command, const QByteArray &data)
{
    Q_UNUSED(err);
    // This adapter does not send the command bytes.
    Q_UNUSED(command);
    return write(address, QByteArray(),
                 regAddr + Utils::uintToHexBA(unsigned(data.size()), 4) + data);
}

void Sub20Dongle::close()
{
    const Api *sub = api();
    if (sub && handle)
        sub->close(handle);
    handle = nullptr;
}

} // namespace Dongles

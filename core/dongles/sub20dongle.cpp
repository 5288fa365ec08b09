#include "sub20dongle.h"

#include "services/settings.h"
#include "utils/utils.h"
#include "vendorlibrary.h"

#include <algorithm>

namespace Dongles {

namespace {

using SubDevice = void *;
using SubHandle = void *;

constexpr int ProductQuerySize = 100;

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
        found.append(std::make_shared<Sub20Dongle>(record));
    }
    return found;
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
    const qint64 wanted = qint64(Settings::getInstance()->i2cSpeed()) * 1000;
    int hz = int(qMin<qint64>(wanted, MaxClockHz));
    api()->i2cFreq(handle, &hz);
    return true;
}

bool Sub20Dongle::read(unsigned short address, const QByteArray &memoryAddress, QByteArray &bytes)
{
    const Api *sub = api();
    if (!sub || !handle)
        return false;
    return sub->i2cRead(handle, address, int(Utils::uintFromHexBA(memoryAddress)),
                        int(memoryAddress.size()), bytes.data(), int(bytes.size()))
        == 0;
}

bool Sub20Dongle::write(unsigned short address, const QByteArray &memoryAddress,
                        const QByteArray &bytes)
{
    const Api *sub = api();
    if (!sub || !handle)
        return false;
    QByteArray copy = bytes;
    return sub->i2cWrite(handle, address, int(Utils::uintFromHexBA(memoryAddress)),
                         int(memoryAddress.size()), copy.data(), int(copy.size()))
        == 0;
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

#include "picpoddongle.h"

#include <libusb.h>

#include <QDebug>
#include <QStringList>

#include <algorithm>
#include <memory>

namespace Dongles {

namespace {

constexpr int FrameSize = 64;
constexpr unsigned int TimeoutMs = 100;
constexpr unsigned char OutEndpoint = 0x01;
constexpr unsigned char InEndpoint = 0x81;
constexpr int Interface = 0;
constexpr int Configuration = 1;
constexpr unsigned char ReadCode = 0x81;
constexpr unsigned char WriteCode = 0x80;
// A transfer that libusb reports done but that moved less than a frame.
constexpr int ShortTransfer = 1;
// A stalled endpoint whose halt could not be cleared: every further transfer
// on it would stall too.
constexpr int StuckHalt = 2;
// Replies left over from unanswered requests, taken before the next one.
constexpr int MaxStaleFrames = 8;

const char *const Description = "orvane Pic18 Usb Pod";

libusb_device_handle *usbHandle(const SDongle &record)
{
    return static_cast<libusb_device_handle *>(record.handle);
}

bool isPod(libusb_device *device)
{
    libusb_device_descriptor descriptor{};
    return libusb_get_device_descriptor(device, &descriptor) == 0
        && descriptor.idVendor == PicPodDongle::VendorId
        && descriptor.idProduct == PicPodDongle::ProductId;
}

// Where the device is plugged in, as the bus and the chain of hub ports
// leading to it (at most seven deep): unlike its address, this survives a
// replug into the same port.
QString locationId(libusb_device *device)
{
    uint8_t ports[7];
    const int depth = libusb_get_port_numbers(device, ports, int(sizeof(ports)));
    QStringList path;
    for (int i = 0; i < depth; ++i)
        path << QString::number(ports[i]);
    // Backends that cannot tell the port leave the address, which at least
    // tells two pods apart.
    if (path.isEmpty())
        path << QStringLiteral("a%1").arg(libusb_get_device_address(device));
    return QStringLiteral("pod-%1-%2")
        .arg(libusb_get_bus_number(device))
        .arg(path.join(QLatin1Char('.')));
}

// A stalled endpoint stays stalled until cleared: once cleared, the stall
// failed one transfer of a working pod. A clear that finds no device means
// the stall was the device going away.
int clearHalt(libusb_device_handle *device, unsigned char endpoint)
{
    const int cleared = libusb_clear_halt(device, endpoint);
    if (cleared == 0)
        return LIBUSB_ERROR_PIPE;
    return cleared == LIBUSB_ERROR_NO_DEVICE ? cleared : StuckHalt;
}

// The results that mean the pod is lost to us, whatever it still does.
bool isLoss(int result)
{
    return result == LIBUSB_ERROR_NO_DEVICE || result == LIBUSB_ERROR_IO || result == StuckHalt;
}

QString failureText(int result)
{
    switch (result) {
    case ShortTransfer:
        return QStringLiteral("pic pod moved less than a frame");
    case LIBUSB_ERROR_TIMEOUT:
        return QStringLiteral("pic pod did not answer within %1 ms").arg(TimeoutMs);
    case LIBUSB_ERROR_PIPE:
        return QStringLiteral("pic pod endpoint stalled");
    case StuckHalt:
        return QStringLiteral("pic pod endpoint stalled and the stall could not be cleared");
    case LIBUSB_ERROR_NO_DEVICE:
    case LIBUSB_ERROR_IO:
        return QStringLiteral("pic pod is gone (%1)").arg(QString::fromUtf8(libusb_strerror(result)));
    default:
        return QStringLiteral("pic pod transfer failed: %1")
            .arg(QString::fromUtf8(libusb_strerror(result)));
    }
}

// Every pod made by a scan, for the next scan to find again: a scan runs
// under the registry's lock and cannot ask the registry itself.
QList<std::weak_ptr<PicPodDongle>> &pods()
{
    static QList<std::weak_ptr<PicPodDongle>> list;
    return list;
}

QList<std::shared_ptr<PicPodDongle>> livePods()
{
    QList<std::shared_ptr<PicPodDongle>> live;
    QList<std::weak_ptr<PicPodDongle>> &all = pods();
    for (auto it = all.begin(); it != all.end();) {
        if (auto pod = it->lock()) {
            live.append(pod);
            ++it;
        } else {
            it = all.erase(it);
        }
    }
    return live;
}

// The request frame: a fixed header, the 8-bit slave address, the register
// address and, for a write, the data byte.
void fillRequest(unsigned char *frame, unsigned char code, unsigned short address,
                 const QByteArray &regAddr)
{
    std::fill(frame, frame + FrameSize, 0);
    frame[0] = 0x01;
    frame[1] = 0x01;
    frame[2] = 0x1E;
    frame[3] = code;
    frame[4] = static_cast<unsigned char>(address << 1);
    frame[5] = static_cast<unsigned char>(regAddr.at(0));
}

// Anything but one address byte and one data byte would read or write past
// what was given, or pass a zero-filled word off as read.
bool isSingleByteTransfer(QString &err, const QByteArray &regAddr, const QByteArray &regValue,
                          unsigned char flags)
{
    if (flags & 0x01) {
        err = QStringLiteral("pic pod does not support block transfers");
        return false;
    }
    if (regAddr.size() != 1 || regValue.size() != 1) {
        err = QStringLiteral("pic pod moves exactly one register address byte and one data byte "
                             "(asked for %1 address and %2 data bytes)")
                  .arg(regAddr.size())
                  .arg(regValue.size());
        return false;
    }
    return true;
}

} // namespace

libusb_context *PicPodDongle::LibUsbCtxt = nullptr;

int PicPodDongle::CreateContext()
{
    if (LibUsbCtxt)
        return 0;
    const int result = libusb_init(&LibUsbCtxt);
    if (result != 0) {
        LibUsbCtxt = nullptr;
        return result;
    }
    libusb_set_option(LibUsbCtxt, LIBUSB_OPTION_LOG_LEVEL, LIBUSB_LOG_LEVEL_WARNING);
    return result;
}

void PicPodDongle::FreeContext()
{
    // Handles do not outlive their context.
    for (const auto &pod : livePods())
        pod->close();
    if (LibUsbCtxt)
        libusb_exit(LibUsbCtxt);
    LibUsbCtxt = nullptr;
}

bool PicPodDongle::IsDongleDescription(const QString &text)
{
    return text.contains(QLatin1String(Description));
}

PicPodDongle::PicPodDongle(const SDongle &identity, const DongleMgr *owner)
    : DongleBase(identity)
    , m_owner(owner)
{
}

PicPodDongle::~PicPodDongle()
{
    PicPodDongle::close();
}

bool PicPodDongle::isDisconnected(QString &err, bool ok) const
{
    if (ok || m_loss.isEmpty())
        return false;
    err = m_loss;
    return true;
}

bool PicPodDongle::attach(libusb_device *device)
{
    libusb_device_handle *opened = nullptr;
    if (libusb_open(device, &opened) != 0) {
        qDebug() << "Failed to open device (libusb)";
        return false;
    }
    // A firmware that reports a standard class gets a kernel driver bound
    // to it, and a claim would then be refused. Not every platform knows
    // kernel drivers: there the call says so and nothing is lost.
    libusb_set_auto_detach_kernel_driver(opened, 1);

    // Selecting the active configuration again is a device reset, and is
    // refused while any interface is claimed (by us or by a kernel driver):
    // select it only when it is not already active, and before claiming.
    int active = 0;
    if (libusb_get_configuration(opened, &active) != 0
        || (active != Configuration && libusb_set_configuration(opened, Configuration) != 0)) {
        qDebug() << "Failed to configure (libusb)";
        libusb_close(opened);
        return false;
    }
    if (libusb_claim_interface(opened, Interface) != 0) {
        qDebug() << "Failed to claim device (libusb)";
        libusb_close(opened);
        return false;
    }
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(device, &descriptor) != 0) {
        qDebug() << "Failed to get device descriptor (libusb)";
        libusb_release_interface(opened, Interface);
        libusb_close(opened);
        return false;
    }
    handle = opened;
    m_bus = libusb_get_bus_number(device);
    m_address = libusb_get_device_address(device);
    m_drainPending = false;
    copyText(id, sizeof(id), locationId(device).toLatin1().constData());
    copyText(description, sizeof(description), Description);
    extra1 = reinterpret_cast<void *>(quintptr(descriptor.idProduct));
    return true;
}

bool PicPodDongle::isAt(libusb_device *device) const
{
    return libusb_get_bus_number(device) == m_bus
        && libusb_get_device_address(device) == m_address;
}

DongleList PicPodDongle::Scan(const DongleMgr &mgr)
{
    DongleList found;
    if (CreateContext() != 0)
        return found;

    // A pod closed by a shutdown or a failed reset no longer counts: it must
    // be opened afresh.
    QList<std::shared_ptr<PicPodDongle>> existing;
    for (const auto &pod : livePods()) {
        if (pod->m_owner == &mgr && pod->handle)
            existing.append(pod);
    }

    libusb_device **list = nullptr;
    const ssize_t count = libusb_get_device_list(LibUsbCtxt, &list);
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device *device = list[i];
        if (!isPod(device))
            continue;
        // The pods we hold are only looked for in the list: a second open
        // of a device held open is refused on some platforms.
        const auto held = std::find_if(existing.cbegin(), existing.cend(),
                                       [device](const auto &pod) { return pod->isAt(device); });
        if (held != existing.cend()) {
            found.append(*held);
            existing.removeAt(int(held - existing.cbegin()));
            continue;
        }
        auto pod = std::make_shared<PicPodDongle>(SDongle(), &mgr);
        if (!pod->attach(device))
            continue;
        pods().append(pod);
        found.append(pod);
    }
    if (count >= 0)
        libusb_free_device_list(list, 1);

    // Those no longer listed have been unplugged. A list that could not be
    // made says nothing about them.
    if (count >= 0) {
        for (const auto &pod : existing)
            pod->close();
    } else {
        for (const auto &pod : existing)
            found.append(pod);
    }
    return found;
}

bool PicPodDongle::request(QString &err, unsigned char *frame, unsigned char *reply)
{
    // Closed by a shutdown, or by a context reset another pod made.
    if (!handle) {
        m_loss = QStringLiteral("pic pod is closed");
        return false;
    }

    int result = m_drainPending ? drain() : 0;
    if (result == 0)
        result = exchange(frame, reply);
    if (isLoss(result)) {
        m_loss = failureText(result);
        if (result != StuckHalt)
            tryResetLibUsbContext();
        return false;
    }
    if (result != 0) {
        // Timed out, stalled or cut short: the pod may still answer, and that
        // answer must not be taken for the next request's.
        m_drainPending = true;
        err = failureText(result);
        return false;
    }
    if (reply[0] != frame[3]) {
        // The answer to another request, late: the one to this request may follow.
        m_drainPending = true;
        err = QStringLiteral("pic pod answered 0x%1 to request 0x%2")
                  .arg(reply[0], 2, 16, QLatin1Char('0'))
                  .arg(frame[3], 2, 16, QLatin1Char('0'));
        return false;
    }
    if (reply[1] != 0) {
        err = QStringLiteral("NACK from slave 0x%1 (pic pod status 0x%2)")
                  .arg(frame[4] >> 1, 2, 16, QLatin1Char('0'))
                  .arg(reply[1], 2, 16, QLatin1Char('0'));
        return false;
    }
    return true;
}

int PicPodDongle::exchange(unsigned char *frame, unsigned char *reply)
{
    libusb_device_handle *device = usbHandle(*this);
    int moved = 0;
    int result = libusb_bulk_transfer(device, OutEndpoint, frame, FrameSize, &moved, TimeoutMs);
    if (result == LIBUSB_ERROR_PIPE)
        result = clearHalt(device, OutEndpoint);
    if (result == 0 && moved != FrameSize)
        result = ShortTransfer;
    if (result != 0)
        return result;
    moved = 0;
    result = libusb_bulk_transfer(device, InEndpoint, reply, FrameSize, &moved, TimeoutMs);
    if (result == LIBUSB_ERROR_PIPE)
        result = clearHalt(device, InEndpoint);
    if (result == 0 && moved != FrameSize)
        result = ShortTransfer;
    return result;
}

int PicPodDongle::drain()
{
    libusb_device_handle *device = usbHandle(*this);
    unsigned char stale[FrameSize];
    // A pod that never stops sending is not waited for without end: the
    // next request drains again.
    for (int frames = 0; frames < MaxStaleFrames; ++frames) {
        int moved = 0;
        int result =
            libusb_bulk_transfer(device, InEndpoint, stale, FrameSize, &moved, TimeoutMs);
        if (result == LIBUSB_ERROR_PIPE)
            result = clearHalt(device, InEndpoint);
        if (result == LIBUSB_ERROR_TIMEOUT) {
            m_drainPending = false;
            return 0;
        }
        if (result != 0)
            return result;
    }
    return 0;
}

bool PicPodDongle::hwReadRegister(QString &err, unsigned short address, const QByteArray &regAddr,
                                  QByteArray &regValue, QByteArray &buffer, unsigned char flags)
{
    Q_UNUSED(buffer);
    m_loss.clear();
    if (!isSingleByteTransfer(err, regAddr, regValue, flags))
        return false;

    unsigned char frame[FrameSize];
    unsigned char reply[FrameSize] = {};
    fillRequest(frame, ReadCode, address, regAddr);
    if (!request(err, frame, reply))
        return false;
    regValue[0] = char(reply[2]);
    return true;
}

bool PicPodDongle::hwWriteRegister(QString &err, unsigned short address,
                                   const QByteArray &regAddr, const QByteArray &regValue,
                                   const QByteArray &buffer, unsigned char flags)
{
    Q_UNUSED(buffer);
    m_loss.clear();
    if (!isSingleByteTransfer(err, regAddr, regValue, flags))
        return false;

    unsigned char frame[FrameSize];
    unsigned char reply[FrameSize] = {};
    fillRequest(frame, WriteCode, address, regAddr);
    frame[6] = static_cast<unsigned char>(regValue.at(0));
    return request(err, frame, reply);
}

bool PicPodDongle::hwReadPacket(QString &err, unsigned short address, const QByteArray &regAddr,
                                QByteArray &data)
{
    Q_UNUSED(address);
    Q_UNUSED(regAddr);
    Q_UNUSED(data);
    m_loss.clear();
    err = QStringLiteral("pic pod does not support packet transfers");
    return false;
}

bool PicPodDongle::hwWritePacket(QString &err, unsigned short address, const QByteArray &regAddr,
                                 const QByteArray &command, const QByteArray &data)
{
    Q_UNUSED(address);
    Q_UNUSED(regAddr);
    Q_UNUSED(command);
    Q_UNUSED(data);
    m_loss.clear();
    err = QStringLiteral("pic pod does not support packet transfers");
    return false;
}

void PicPodDongle::tryResetLibUsbContext()
{
    if (!LibUsbCtxt || !handle)
        return;
    close();
    // Ending the context ends every handle in it: no other pod may keep one.
    // The registry drops a lost pod at once, and the next scan makes a new
    // context and opens whatever pod is then in the port.
    FreeContext();
}

void PicPodDongle::close()
{
    // Released before closing, a kernel driver detached at the claim gets the
    // interface back.
    if (handle) {
        libusb_release_interface(usbHandle(*this), Interface);
        libusb_close(usbHandle(*this));
    }
    handle = nullptr;
}

} // namespace Dongles

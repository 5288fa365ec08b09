#include "picpoddongle.h"

#include <libusb.h>

#include <QDebug>

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

const char *const Description = "orvane Pic18 Usb Pod";

libusb_device_handle *usbHandle(const SDongle &record)
{
    return static_cast<libusb_device_handle *>(record.handle);
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

bool PicPodDongle::TryCreateDongle(SDongle &record)
{
    libusb_device_handle *device = usbHandle(record);
    if (libusb_claim_interface(device, Interface) != 0) {
        qDebug() << "Failed to claim device (libusb)";
        return false;
    }
    if (libusb_set_configuration(device, Configuration) != 0) {
        qDebug() << "Failed to configure (libusb)";
        return false;
    }
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(libusb_get_device(device), &descriptor) != 0) {
        qDebug() << "Failed to get device descriptor (libusb)";
        return false;
    }
    copyText(record.description, sizeof(record.description), Description);
    record.extra1 = reinterpret_cast<void *>(quintptr(descriptor.idProduct));
    return true;
}

DongleList PicPodDongle::Scan(const DongleMgr &mgr)
{
    DongleList found;
    if (CreateContext() != 0)
        return found;

    // A pod closed by a shutdown no longer counts: it must be opened afresh.
    QList<std::shared_ptr<PicPodDongle>> existing;
    for (const auto &pod : livePods()) {
        if (pod->m_owner == &mgr && pod->handle)
            existing.append(pod);
    }

    libusb_device_handle *opened = libusb_open_device_with_vid_pid(LibUsbCtxt, VendorId, ProductId);
    if (!existing.isEmpty()) {
        // Only a presence test: the pods we have keep their own handles.
        if (opened) {
            libusb_close(opened);
            for (const auto &pod : existing)
                found.append(pod);
        } else {
            for (const auto &pod : existing)
                pod->close();
        }
        return found;
    }
    if (!opened)
        return found;

    SDongle record;
    record.handle = opened;
    if (!TryCreateDongle(record)) {
        // Scans run every second: a pod we cannot claim must not cost a
        // handle each time.
        libusb_close(opened);
        return found;
    }
    const auto pod = std::make_shared<PicPodDongle>(record, &mgr);
    pods().append(pod);
    found.append(pod);
    return found;
}

int PicPodDongle::exchange(unsigned char *request, unsigned char *reply)
{
    libusb_device_handle *device = usbHandle(*this);
    int moved = 0;
    int result = libusb_bulk_transfer(device, OutEndpoint, request, FrameSize, &moved, TimeoutMs);
    if (result == 0 && moved != FrameSize)
        result = ShortTransfer;
    if (result != 0)
        return result;
    moved = 0;
    result = libusb_bulk_transfer(device, InEndpoint, reply, FrameSize, &moved, TimeoutMs);
    if (result == 0 && moved != FrameSize)
        result = ShortTransfer;
    return result;
}

bool PicPodDongle::hwReadRegister(QString &err, unsigned short address, const QByteArray &regAddr,
                                  QByteArray &regValue, QByteArray &buffer, unsigned char flags)
{
    Q_UNUSED(buffer);
    if (!isSingleByteTransfer(err, regAddr, regValue, flags) || !handle)
        return false;

    unsigned char request[FrameSize];
    unsigned char reply[FrameSize] = {};
    fillRequest(request, ReadCode, address, regAddr);
    const int result = exchange(request, reply);
    if (result == LIBUSB_ERROR_IO)
        tryResetLibUsbContext();
    if (result != 0 || reply[1] != 0 || reply[0] != ReadCode)
        return false;
    regValue[0] = char(reply[2]);
    return true;
}

bool PicPodDongle::hwWriteRegister(QString &err, unsigned short address,
                                   const QByteArray &regAddr, const QByteArray &regValue,
                                   const QByteArray &buffer, unsigned char flags)
{
    Q_UNUSED(buffer);
    if (!isSingleByteTransfer(err, regAddr, regValue, flags) || !handle)
        return false;

    unsigned char request[FrameSize];
    unsigned char reply[FrameSize] = {};
    fillRequest(request, WriteCode, address, regAddr);
    request[6] = static_cast<unsigned char>(regValue.at(0));
    const int result = exchange(request, reply);
    if (result != 0) {
        tryResetLibUsbContext();
        return false;
    }
    return reply[1] == 0 && reply[0] == WriteCode;
}

bool PicPodDongle::hwReadPacket(QString &err, unsigned short address, const QByteArray &regAddr,
                                QByteArray &data)
{
    Q_UNUSED(err);
    Q_UNUSED(address);
    Q_UNUSED(regAddr);
    Q_UNUSED(data);
    qWarning() << "hwReadPacket not implemented for pic pod.";
    return false;
}

bool PicPodDongle::hwWritePacket(QString &err, unsigned short address, const QByteArray &regAddr,
                                 const QByteArray &command, const QByteArray &data)
{
    Q_UNUSED(err);
    Q_UNUSED(address);
    Q_UNUSED(regAddr);
    Q_UNUSED(command);
    Q_UNUSED(data);
    qWarning() << "hwWritePacket not implemented for pic pod.";
    return false;
}

void PicPodDongle::tryResetLibUsbContext()
{
    if (!LibUsbCtxt || !handle)
        return;
    const QString previousId = idText();
    libusb_release_interface(usbHandle(*this), Interface);
    close();
    // Ending the context ends every handle in it: no other pod may keep one.
    FreeContext();

    if (CreateContext() == 0) {
        handle = libusb_open_device_with_vid_pid(LibUsbCtxt, VendorId, ProductId);
        if (handle && TryCreateDongle(*this)) {
            if (DongleMgr *mgr = DongleMgr::GetInstance())
                mgr->changeDongleId(previousId, idText());
            return;
        }
        close();
    }
    qWarning() << "Unable to recreate device when resetting libusb context";
}

void PicPodDongle::close()
{
    if (handle)
        libusb_close(usbHandle(*this));
    handle = nullptr;
}

} // namespace Dongles

// Before any Qt header: GLib uses "signals" as a name, Qt as a keyword.
#include <umockdev.h>

#include "emulatedpod.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace {

constexpr int FrameSize = 64;
constexpr unsigned char OutEndpoint = 0x01;
constexpr unsigned char InEndpoint = 0x81;

// The pod's descriptors as sysfs hands them to libusb: device, then its one
// configuration with interface 0 and the two bulk endpoints.
QByteArray descriptors(bool hidClass)
{
    return QByteArray::fromHex("120100020000004079072904000101020301" // device
                               "09022000010100803209040000"           // configuration 1, interface 0
                               + QByteArray(hidClass ? "0203" : "02ff")  // two endpoints; class
                               + "000000"
                                 "07050102400000"                     // bulk OUT 0x01
                                 "07058102400000");                   // bulk IN 0x81
}

} // namespace

struct EmulatedPod::Plug
{
    EmulatedPod *pod = nullptr;
    int generation = 0;
    UMockdevIoctlBase *handler = nullptr;
};

EmulatedPod::EmulatedPod()
{
    m_testbed = umockdev_testbed_new();
    m_bus.reset();
}

EmulatedPod::~EmulatedPod()
{
    {
        std::lock_guard<std::mutex> locker(m_bus.mutex);
        for (const Urb &urb : m_pending)
            g_object_unref(urb.urb);
        for (const Urb &urb : m_completed)
            g_object_unref(urb.urb);
        for (UMockdevIoctlClient *client : m_clients)
            g_object_unref(client);
    }
    g_object_unref(m_testbed);
    for (const auto &plug : m_plugs)
        g_object_unref(plug->handler);
}

bool EmulatedPod::available()
{
    // umockdev_in_mock_environment() answers no even under the wrapper here.
    return qEnvironmentVariable("LD_PRELOAD").contains(QLatin1String("libumockdev-preload"));
}

void EmulatedPod::plug(int configuration, const QByteArray &kernelDriver)
{
    unplug();
    const int address = ++m_address;
    const QString sysfsPath = QStringLiteral("/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2");
    const QString node = QStringLiteral("/dev/bus/usb/001/%1").arg(address, 3, 10, QLatin1Char('0'));
    // Attributes end in a newline as the kernel writes them, but an
    // unconfigured device's configuration is empty (usb_actconfig_show()).
    const QString description =
        QStringLiteral("P: %1\n"
                       "N: %2\n"
                       "E: SUBSYSTEM=usb\n"
                       "E: DEVTYPE=usb_device\n"
                       "E: DEVNAME=%3\n"
                       "E: BUSNUM=001\n"
                       "E: DEVNUM=%4\n"
                       "E: PRODUCT=779/429/100\n"
                       "E: MAJOR=189\n"
                       "E: MINOR=%5\n"
                       "A: busnum=1\\n\n"
                       "A: devnum=%6\\n\n"
                       "A: idVendor=0779\\n\n"
                       "A: idProduct=0429\\n\n"
                       "A: bConfigurationValue=%7\n"
                       "A: bNumConfigurations=1\\n\n"
                       "A: speed=12\\n\n"
                       "A: dev=189:%5\\n\n"
                       "H: descriptors=%8\n")
            .arg(sysfsPath.mid(4), node.mid(5), node, node.right(3))
            .arg(address - 1)
            .arg(address)
            .arg(configuration ? QStringLiteral("%1\\n").arg(configuration) : QString())
            .arg(QString::fromLatin1(descriptors(!kernelDriver.isEmpty()).toHex()));

    m_plugs.push_back(std::make_unique<Plug>());
    Plug *plug = m_plugs.back().get();
    plug->pod = this;
    plug->handler = umockdev_ioctl_base_new();
    g_signal_connect(plug->handler, "handle-ioctl", G_CALLBACK(&EmulatedPod::handleIoctl), plug);
    g_signal_connect(plug->handler, "client-connected", G_CALLBACK(&EmulatedPod::clientConnected),
                     plug);
    {
        std::lock_guard<std::mutex> locker(m_bus.mutex);
        plug->generation = ++m_generation;
        m_present = true;
        // A new pod, and a chip in its power-up state behind it.
        m_bus.reset();
        m_configuration = configuration;
        m_kernelDriver = kernelDriver;
        m_boundDriver = configuration ? kernelDriver : QByteArray();
        m_claimedBy = nullptr;
        m_halted[0] = m_halted[1] = false;
        m_haltStuck = false;
        m_opens = 0;
        m_fault = Fault::None;
        m_replies.clear();
        m_lateReply.clear();
        m_sysfsPath = sysfsPath;
    }

    GError *error = nullptr;
    if (!umockdev_testbed_add_from_string(m_testbed, description.toUtf8().constData(), &error)
        || !umockdev_testbed_attach_ioctl(m_testbed, node.toUtf8().constData(), plug->handler, &error))
        qFatal("cannot emulate the pod: %s", error->message);
    umockdev_testbed_uevent(m_testbed, sysfsPath.toUtf8().constData(), "add");
}

void EmulatedPod::unplug()
{
    QString sysfsPath;
    {
        std::lock_guard<std::mutex> locker(m_bus.mutex);
        disconnect();
        sysfsPath.swap(m_sysfsPath);
    }
    if (sysfsPath.isEmpty())
        return;
    // libusb learns of it as from the kernel: by the remove event.
    umockdev_testbed_uevent(m_testbed, sysfsPath.toUtf8().constData(), "remove");
    umockdev_testbed_remove_device(m_testbed, sysfsPath.toUtf8().constData());
}

void EmulatedPod::unplugAfter(int transfers)
{
    std::lock_guard<std::mutex> locker(m_bus.mutex);
    m_bus.unplugAfter = transfers;
}

void EmulatedPod::script(Fault fault)
{
    std::lock_guard<std::mutex> locker(m_bus.mutex);
    m_fault = fault;
}

int EmulatedPod::opens()
{
    std::lock_guard<std::mutex> locker(m_bus.mutex);
    return m_opens;
}

int EmulatedPod::openFiles()
{
    std::lock_guard<std::mutex> locker(m_bus.mutex);
    forgetClosedFiles();
    return int(m_clients.size());
}

int EmulatedPod::transfers()
{
    std::lock_guard<std::mutex> locker(m_bus.mutex);
    return m_bus.transfers;
}

QByteArray EmulatedPod::lastRequest()
{
    std::lock_guard<std::mutex> locker(m_bus.mutex);
    return m_lastRequest;
}

bool EmulatedPod::kernelDriverBound()
{
    std::lock_guard<std::mutex> locker(m_bus.mutex);
    return !m_boundDriver.isEmpty();
}

int EmulatedPod::chipRegister(int reg)
{
    std::lock_guard<std::mutex> locker(m_bus.mutex);
    const auto it = m_bus.registers.find(uint8_t(reg));
    return it == m_bus.registers.end() ? -1 : it->second;
}

// Called in the testbed's thread for every ioctl on the pod's usbfs node.
int EmulatedPod::handleIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, Plug *plug)
{
    EmulatedPod *pod = plug->pod;
    long result = 0;
    {
        std::lock_guard<std::mutex> locker(pod->m_bus.mutex);
        pod->forgetClosedFiles();
        const unsigned long request = umockdev_ioctl_client_get_request(client);
        UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
        // A file opened on a pod since pulled out: devio.c's usbdev_do_ioctl
        // answers -ENODEV to everything but reaping what already completed.
        if (plug->generation != pod->m_generation || !pod->m_present)
            result = request == USBDEVFS_REAPURBNDELAY ? pod->reap(client, arg, false) : -ENODEV;
        else
            result = pod->ioctl(client, request, arg);
    }
    umockdev_ioctl_client_complete(client, result < 0 ? -1 : result, result < 0 ? int(-result) : 0);
    return TRUE;
}

void EmulatedPod::clientConnected(UMockdevIoctlBase *, UMockdevIoctlClient *client, Plug *plug)
{
    EmulatedPod *pod = plug->pod;
    std::lock_guard<std::mutex> locker(pod->m_bus.mutex);
    if (plug->generation == pod->m_generation)
        ++pod->m_opens;
    g_object_ref(client);
    pod->m_clients.push_back(client);
}

// This umockdev never emits "client-vanished": a closed file shows only in
// its client's "connected" property.
void EmulatedPod::forgetClosedFiles()
{
    for (auto client = m_clients.begin(); client != m_clients.end();) {
        if (umockdev_ioctl_client_get_connected(*client)) {
            ++client;
            continue;
        }
        // Closing the file releases its claims and its URBs (devio.c,
        // usbdev_release()).
        if (m_claimedBy == *client)
            m_claimedBy = nullptr;
        for (auto *list : { &m_pending, &m_completed }) {
            for (auto urb = list->begin(); urb != list->end();) {
                if (urb->client == *client) {
                    g_object_unref(urb->urb);
                    urb = list->erase(urb);
                } else {
                    ++urb;
                }
            }
        }
        g_object_unref(*client);
        client = m_clients.erase(client);
    }
}

long EmulatedPod::ioctl(UMockdevIoctlClient *client, unsigned long request, UMockdevIoctlData *arg)
{
    GError *error = nullptr;
    const auto value = [&]() -> unsigned int {
        UMockdevIoctlData *data = umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned int), &error);
        return data ? *reinterpret_cast<unsigned int *>(data->data) : ~0u;
    };

    switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData *data = umockdev_ioctl_data_resolve(arg, 0, sizeof(__u32), &error);
        __u32 caps = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION
            | USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
        umockdev_ioctl_data_update(data, 0, reinterpret_cast<guint8 *>(&caps), sizeof(caps));
        return 0;
    }
    case USBDEVFS_SETCONFIGURATION:
        return setConfiguration(value());
    case USBDEVFS_CLAIMINTERFACE:
        return claim(client, value());
    case USBDEVFS_RELEASEINTERFACE: {
        // devio.c, releaseintf(): only what this file claimed.
        const unsigned int interface = value();
        if (m_configuration == 0 || interface != 0)
            return -ENOENT;
        if (m_claimedBy != client)
            return -EINVAL;
        m_claimedBy = nullptr;
        return 0;
    }
    case USBDEVFS_DISCONNECT_CLAIM: {
        // devio.c, proc_disconnect_claim(): unbind the interface's driver
        // unless the flags protect it, then claim as CLAIMINTERFACE does.
        UMockdevIoctlData *data =
            umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_disconnect_claim), &error);
        const auto *dc = reinterpret_cast<const usbdevfs_disconnect_claim *>(data->data);
        if (m_configuration == 0 || dc->interface != 0)
            return -EINVAL;
        const QByteArray holder = m_claimedBy ? QByteArray("usbfs") : m_boundDriver;
        if (!holder.isEmpty()) {
            const bool named = holder == QByteArray(dc->driver);
            if (((dc->flags & USBDEVFS_DISCONNECT_CLAIM_IF_DRIVER) && !named)
                || ((dc->flags & USBDEVFS_DISCONNECT_CLAIM_EXCEPT_DRIVER) && named))
                return -EBUSY;
            if (m_claimedBy == client)
                return 0;
            if (m_claimedBy)
                return -EBUSY;
            m_boundDriver.clear();
        }
        return claim(client, dc->interface);
    }
    case USBDEVFS_IOCTL: {
        // devio.c, proc_ioctl(): CONNECT binds a driver to a free interface
        // again, answering 1 when one took it; DISCONNECT unbinds it.
        UMockdevIoctlData *data = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_ioctl), &error);
        const auto *command = reinterpret_cast<const usbdevfs_ioctl *>(data->data);
        if (m_configuration == 0 || command->ifno != 0)
            return -EINVAL;
        if (command->ioctl_code == int(USBDEVFS_CONNECT)) {
            if (m_claimedBy || !m_boundDriver.isEmpty())
                return -EBUSY;
            m_boundDriver = m_kernelDriver;
            return m_boundDriver.isEmpty() ? 0 : 1;
        }
        if (command->ioctl_code == int(USBDEVFS_DISCONNECT)) {
            if (m_boundDriver.isEmpty())
                return -ENODATA;
            m_boundDriver.clear();
            return 0;
        }
        return -ENOTTY;
    }
    case USBDEVFS_CLEAR_HALT: {
        const unsigned int endpoint = value();
        if (endpoint != OutEndpoint && endpoint != InEndpoint)
            return -ENOENT;
        // A device that stalls the clearing request itself fails that control
        // transfer: -EPIPE, endpoint stalled (usb/error-codes.rst).
        if (m_haltStuck)
            return -EPIPE;
        m_halted[endpoint == InEndpoint] = false;
        return 0;
    }
    case USBDEVFS_SUBMITURB:
        return submit(client, arg);
    case USBDEVFS_REAPURBNDELAY:
        return reap(client, arg, true);
    case USBDEVFS_DISCARDURB:
        return discard(client, arg);
    default:
        // Nothing the pod's adapter needs: libusb must not depend on it.
        return -ENOTTY;
    }
}

long EmulatedPod::setConfiguration(unsigned int configuration)
{
    // devio.c, proc_setconfig(): refused while any interface of the active
    // configuration is claimed, by usbfs or by a kernel driver; selecting
    // the active one again is a reset. libusb passes the refusal on
    // (libusb API, libusb_set_configuration(): "LIBUSB_ERROR_BUSY if
    // interfaces are currently claimed").
    if (m_configuration != 0 && (m_claimedBy || !m_boundDriver.isEmpty()))
        return -EBUSY;
    if (configuration != 0 && configuration != 1)
        return -EINVAL;
    m_configuration = int(configuration);
    m_halted[0] = m_halted[1] = false;
    // The kernel probes drivers for the interfaces of a new configuration.
    m_boundDriver = m_configuration ? m_kernelDriver : QByteArray();
    umockdev_testbed_set_attribute(m_testbed, m_sysfsPath.toUtf8().constData(), "bConfigurationValue",
                                   m_configuration ? "1\n" : "");
    return 0;
}

long EmulatedPod::claim(UMockdevIoctlClient *client, unsigned int interface)
{
    // devio.c, claimintf(): an interface the active configuration lacks is
    // -ENOENT; one held by another driver (another usbfs file too) -EBUSY.
    if (m_configuration == 0 || interface != 0)
        return -ENOENT;
    if (m_claimedBy == client)
        return 0;
    if (m_claimedBy || !m_boundDriver.isEmpty())
        return -EBUSY;
    m_claimedBy = client;
    return 0;
}

long EmulatedPod::submit(UMockdevIoctlClient *client, UMockdevIoctlData *arg)
{
    GError *error = nullptr;
    UMockdevIoctlData *data = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), &error);
    if (!data)
        return -EFAULT;
    const auto *urb = reinterpret_cast<const usbdevfs_urb *>(data->data);
    // devio.c, proc_do_submiturb(): an endpoint the configuration lacks is
    // -ENOENT; the interface it belongs to is claimed on first use.
    if (m_configuration == 0 || (urb->endpoint != OutEndpoint && urb->endpoint != InEndpoint))
        return -ENOENT;
    if (urb->type != USBDEVFS_URB_TYPE_BULK || urb->buffer_length < 0)
        return -EINVAL;
    if (const long claimed = claim(client, 0))
        return claimed;
    if (!m_bus.begin()) {
        disconnect();
        return -ENODEV;
    }

    Urb taken;
    taken.client = client;
    taken.urb = data;
    taken.endpoint = urb->endpoint;
    taken.length = urb->buffer_length;
    taken.buffer = umockdev_ioctl_data_resolve(data, offsetof(usbdevfs_urb, buffer),
                                               size_t(urb->buffer_length), &error);
    g_object_ref(data);

    // A halted endpoint fails every transfer until the halt is cleared
    // (Documentation/driver-api/usb/error-codes.rst, -EPIPE).
    if (m_halted[taken.endpoint == InEndpoint]) {
        complete(taken, -EPIPE, 0);
        return 0;
    }
    if (taken.endpoint == InEndpoint) {
        m_pending.push_back(taken);
        answerPending();
        return 0;
    }

    const Fault fault = m_fault;
    m_fault = Fault::None;
    switch (fault) {
    case Fault::RefusesRequest:
        m_pending.push_back(taken);
        return 0;
    case Fault::Stall:
    case Fault::StuckStall:
        m_halted[0] = true;
        m_haltStuck = fault == Fault::StuckStall;
        complete(taken, -EPIPE, 0);
        return 0;
    case Fault::IoError:
        // error-codes.rst: -EPROTO, no response packet within the bus
        // turn-around time.
        complete(taken, -EPROTO, 0);
        return 0;
    default:
        break;
    }
    const auto *bytes = reinterpret_cast<const unsigned char *>(taken.buffer->data);
    m_lastRequest = QByteArray(reinterpret_cast<const char *>(bytes), taken.length);
    const int moved = m_bus.moved(taken.length);
    complete(taken, 0, moved);
    if (moved == FrameSize && fault != Fault::Silent) {
        take(bytes);
        if (fault == Fault::LateReply) {
            m_lateReply.assign(m_replies.back().begin(), m_replies.back().end());
            m_replies.pop_back();
        }
    }
    answerPending();
    return 0;
}

// The pod runs one request frame and queues its reply: the code echoed, status
// 0 when the chip acknowledged, the byte read.
void EmulatedPod::take(const unsigned char *request)
{
    std::vector<unsigned char> reply(FrameSize, 0);
    const uint8_t code = request[3];
    const uint16_t address = request[4] >> 1;
    const uint8_t reg = request[5];
    bool acked = false;
    if (code == 0x81) {
        acked = m_bus.write(address, &reg, 1) == FakeBus::Acked
            && m_bus.read(address, &reply[2], 1) == FakeBus::Acked;
    } else if (code == 0x80) {
        const uint8_t bytes[2] = { reg, request[6] };
        acked = m_bus.write(address, bytes, 2) == FakeBus::Acked;
    }
    reply[0] = code;
    reply[1] = acked ? 0 : 0x01;
    m_replies.push_back(reply);
}

void EmulatedPod::answerPending()
{
    for (auto it = m_pending.begin(); it != m_pending.end() && !m_replies.empty();) {
        if (it->endpoint != InEndpoint) {
            ++it;
            continue;
        }
        const Urb urb = *it;
        it = m_pending.erase(it);
        std::vector<unsigned char> reply = m_replies.front();
        m_replies.pop_front();
        const int moved = std::min(urb.length, int(reply.size()));
        umockdev_ioctl_data_update(urb.buffer, 0, reply.data(), moved);
        complete(urb, 0, m_bus.moved(moved));
    }
}

void EmulatedPod::complete(Urb urb, int status, int actual)
{
    usbdevfs_urb fields;
    std::memcpy(&fields, urb.urb->data, sizeof(fields));
    fields.status = status;
    fields.actual_length = actual;
    umockdev_ioctl_data_update(urb.urb, 0, reinterpret_cast<guint8 *>(&fields), sizeof(fields));
    m_completed.push_back(urb);
}

long EmulatedPod::reap(UMockdevIoctlClient *client, UMockdevIoctlData *arg, bool connected)
{
    // devio.c, proc_reapurbnonblock(): the oldest completed URB of this file,
    // else -EAGAIN, or -ENODEV once the device is gone.
    for (auto it = m_completed.begin(); it != m_completed.end(); ++it) {
        if (it->client != client)
            continue;
        GError *error = nullptr;
        UMockdevIoctlData *data = umockdev_ioctl_data_resolve(arg, 0, sizeof(void *), &error);
        if (!data || !umockdev_ioctl_data_set_ptr(data, 0, it->urb))
            return -EFAULT;
        g_object_unref(it->urb);
        m_completed.erase(it);
        return 0;
    }
    return connected ? -EAGAIN : -ENODEV;
}

long EmulatedPod::discard(UMockdevIoctlClient *client, UMockdevIoctlData *arg)
{
    // devio.c, proc_unlinkurb(): a URB still in flight is killed and
    // completes with -ENOENT; one already completed is -EINVAL.
    const gulong address = *reinterpret_cast<const gulong *>(arg->data);
    for (auto it = m_pending.begin(); it != m_pending.end(); ++it) {
        if (it->client != client || it->urb->client_addr != address)
            continue;
        const Urb urb = *it;
        m_pending.erase(it);
        complete(urb, -ENOENT, 0);
        // The reply the host gave up on comes now, and waits for whoever
        // reads the IN endpoint next.
        if (urb.endpoint == InEndpoint && !m_lateReply.empty()) {
            m_replies.push_back(m_lateReply);
            m_lateReply.clear();
        }
        return 0;
    }
    return -EINVAL;
}

void EmulatedPod::disconnect()
{
    // On a disconnect the kernel kills every URB in flight with -ESHUTDOWN
    // (error-codes.rst); they stay reapable.
    m_present = false;
    m_bus.connected = false;
    for (const Urb &urb : m_pending)
        complete(urb, -ESHUTDOWN, 0);
    m_pending.clear();
    m_claimedBy = nullptr;
}

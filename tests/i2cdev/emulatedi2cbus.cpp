#include "emulatedi2cbus.h"

#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <link.h>
#include <linux/capability.h>
#include <linux/i2c-dev.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

std::string nodeOf(int number)
{
    return "/dev/i2c-" + std::to_string(number);
}

[[noreturn]] void fail(const char *what, GError *error)
{
    std::fprintf(stderr, "EmulatedI2cBus: %s: %s\n", what, error ? error->message : "failed");
    std::abort();
}

// Follows the pointer at offset in data to length bytes of the caller's
// memory; null when the caller handed a bad pointer.
UMockdevIoctlData *follow(UMockdevIoctlData *data, size_t offset, size_t length)
{
    GError *error = nullptr;
    UMockdevIoctlData *target = umockdev_ioctl_data_resolve(data, offset, length, &error);
    if (error)
        g_error_free(error);
    return target;
}

} // namespace

EmulatedI2cBus::EmulatedI2cBus()
    : m_testbed(umockdev_testbed_new())
{
}

EmulatedI2cBus::~EmulatedI2cBus()
{
    for (auto &[number, handler] : m_handlers) {
        umockdev_testbed_detach_ioctl(m_testbed, nodeOf(number).c_str(), nullptr);
        g_object_unref(handler);
    }
    g_object_unref(m_testbed);
}

bool EmulatedI2cBus::inMockEnvironment()
{
    // umockdev_in_mock_environment() answers no even then, in this version.
    const auto loaded = [](dl_phdr_info *info, size_t, void *) -> int {
        return info->dlpi_name && std::strstr(info->dlpi_name, "libumockdev-preload") ? 1 : 0;
    };
    return ::dl_iterate_phdr(loaded, nullptr) != 0;
}

void EmulatedI2cBus::dropFileAccessOverride()
{
    if (::geteuid() != 0)
        return;
    __user_cap_header_struct header = { _LINUX_CAPABILITY_VERSION_3, 0 };
    __user_cap_data_struct data[2] = {};
    if (::syscall(SYS_capget, &header, data) != 0)
        return;
    data[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
    ::syscall(SYS_capset, &header, data);
}

std::string EmulatedI2cBus::rootDir() const
{
    gchar *root = umockdev_testbed_get_root_dir(m_testbed);
    const std::string path = root;
    g_free(root);
    return path;
}

void EmulatedI2cBus::addBus(int number, const std::string &name, unsigned long functionality)
{
    const std::string id = "i2c-" + std::to_string(number);
    auto bus = std::make_unique<Bus>();
    bus->functionality = functionality;
    // The i2c-dev class device sits below its adapter; its "name" attribute
    // is the adapter's name and "dev" its node's numbers (i2c-dev.c,
    // i2cdev_attach_adapter and name_show; dev-interface.rst: major 89,
    // minor = bus number).
    bus->sysPath = "/sys/devices/platform/emulated-i2c." + std::to_string(number) + "/" + id
                   + "/i2c-dev/" + id;
    const std::string description = "P: " + bus->sysPath.substr(4) + "\n"
                                    + "N: " + id + "\n"
                                    + "E: DEVNAME=" + nodeOf(number) + "\n"
                                    + "E: MAJOR=89\nE: MINOR=" + std::to_string(number) + "\n"
                                    + "E: SUBSYSTEM=i2c-dev\n"
                                    + "A: dev=89:" + std::to_string(number) + "\n"
                                    + "A: name=" + name + "\n";
    GError *error = nullptr;
    if (!umockdev_testbed_add_from_string(m_testbed, description.c_str(), &error))
        fail("add_from_string", error);

    UMockdevIoctlBase *handler = umockdev_ioctl_base_new();
    g_signal_connect(handler, "handle-ioctl", G_CALLBACK(&EmulatedI2cBus::onIoctl), this);
    {
        std::lock_guard<std::mutex> locker(m_lock);
        m_buses[number] = std::move(bus);
        m_handlers[number] = handler;
    }
    if (!umockdev_testbed_attach_ioctl(m_testbed, nodeOf(number).c_str(), handler, &error))
        fail("attach_ioctl", error);

    // umockdev backs the node with a pseudo-terminal; its name is how an
    // open descriptor on the node is recognised.
    char target[256] = {};
    const std::string link = rootDir() + nodeOf(number);
    const ssize_t size = ::readlink(link.c_str(), target, sizeof(target) - 1);
    if (size > 0)
        m_ptys[number] = std::string(target, size_t(size));
}

void EmulatedI2cBus::removeBus(int number)
{
    Bus &bus = busAt(number);
    {
        std::lock_guard<std::mutex> locker(bus.chip.mutex);
        if (!bus.listed)
            return;
        bus.listed = false;
        // An unplugged adapter answers every transfer on a descriptor still
        // open with an error; see transfer().
        bus.chip.connected = false;
    }
    umockdev_testbed_remove_device(m_testbed, bus.sysPath.c_str());
}

void EmulatedI2cBus::denyAccess(int number)
{
    // The node itself is a link to the pseudo-terminal: its mode is what
    // open() checks.
    ::chmod(m_ptys.at(number).c_str(), 0);
}

int EmulatedI2cBus::openDescriptors(int number) const
{
    int count = 0;
    DIR *dir = ::opendir("/proc/self/fd");
    if (!dir)
        return -1;
    const std::string pty = m_ptys.at(number);
    while (const dirent *entry = ::readdir(dir)) {
        char target[256] = {};
        const std::string path = std::string("/proc/self/fd/") + entry->d_name;
        const ssize_t size = ::readlink(path.c_str(), target, sizeof(target) - 1);
        if (size > 0 && std::string(target, size_t(size)) == pty)
            ++count;
    }
    ::closedir(dir);
    return count;
}

EmulatedI2cBus::Bus &EmulatedI2cBus::busAt(int number)
{
    std::lock_guard<std::mutex> locker(m_lock);
    return *m_buses.at(number);
}

int EmulatedI2cBus::onIoctl(_UMockdevIoctlBase *, _UMockdevIoctlClient *client, void *self)
{
    const std::string node = umockdev_ioctl_client_get_devnode(client);
    static_cast<EmulatedI2cBus *>(self)->answer(std::stoi(node.substr(node.rfind('-') + 1)), client);
    return TRUE;
}

void EmulatedI2cBus::answer(int number, _UMockdevIoctlClient *client)
{
    Bus &bus = busAt(number);
    UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
    switch (umockdev_ioctl_client_get_request(client)) {
    case I2C_FUNCS: {
        // dev-interface.rst, "ioctl(file, I2C_FUNCS, unsigned long *funcs)":
        // the adapter functionality is put in *funcs.
        UMockdevIoctlData *funcs = follow(arg, 0, sizeof(unsigned long));
        if (!funcs) {
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return;
        }
        unsigned long value = 0;
        {
            std::lock_guard<std::mutex> locker(bus.chip.mutex);
            value = bus.functionality;
        }
        umockdev_ioctl_data_update(funcs, 0, reinterpret_cast<guint8 *>(&value), sizeof(value));
        umockdev_ioctl_client_complete(client, 0, 0);
        return;
    }
    case I2C_SLAVE:
    case I2C_SLAVE_FORCE: {
        // dev-interface.rst, "ioctl(file, I2C_SLAVE, long addr)": the address
        // in the 7 lower bits; i2c-dev.c refuses a wider one with EINVAL.
        unsigned long address = 0;
        std::memcpy(&address, arg->data, std::min(sizeof(address), size_t(arg->data_len)));
        umockdev_ioctl_client_complete(client, address > 0x7F ? -1 : 0, address > 0x7F ? EINVAL : 0);
        return;
    }
    case I2C_RDWR:
        transfer(bus, client);
        return;
    default:
        // i2c-dev.c, i2cdev_ioctl: any other request is ENOTTY.
        umockdev_ioctl_client_complete(client, -1, ENOTTY);
        return;
    }
}

void EmulatedI2cBus::transfer(Bus &bus, _UMockdevIoctlClient *client)
{
    UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
    UMockdevIoctlData *request = follow(arg, 0, sizeof(i2c_rdwr_ioctl_data));
    if (!request) {
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return;
    }
    i2c_rdwr_ioctl_data header;
    std::memcpy(&header, request->data, sizeof(header));
    // dev-interface.rst, I2C_RDWR / i2c-dev.c, i2cdev_ioctl: no messages, or
    // more than I2C_RDWR_IOCTL_MAX_MSGS, is EINVAL.
    if (header.nmsgs == 0 || header.nmsgs > I2C_RDWR_IOCTL_MAX_MSGS) {
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return;
    }
    UMockdevIoctlData *table = follow(request, offsetof(i2c_rdwr_ioctl_data, msgs),
                                      header.nmsgs * sizeof(i2c_msg));
    if (!table) {
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return;
    }
    std::vector<i2c_msg> messages(header.nmsgs);
    std::memcpy(messages.data(), table->data, messages.size() * sizeof(i2c_msg));
    std::vector<UMockdevIoctlData *> buffers(header.nmsgs, nullptr);
    for (size_t i = 0; i < messages.size(); ++i) {
        // i2c-dev.c, i2cdev_ioctl_rdwr: "Limit the size of the message to a
        // sane amount": longer than 8192 bytes is EINVAL.
        if (messages[i].len > 8192) {
            umockdev_ioctl_client_complete(client, -1, EINVAL);
            return;
        }
        if (messages[i].len > 0) {
            buffers[i] = follow(table, i * sizeof(i2c_msg) + offsetof(i2c_msg, buf), messages[i].len);
            if (!buffers[i]) {
                umockdev_ioctl_client_complete(client, -1, EFAULT);
                return;
            }
        }
    }

    std::lock_guard<std::mutex> locker(bus.chip.mutex);
    // i2c.h: I2C_FUNC_I2C is what says the adapter does plain I2C messages;
    // i2c-core-base.c, __i2c_transfer: an adapter without them answers
    // EOPNOTSUPP ("I2C level transfers not supported").
    if (!(bus.functionality & I2C_FUNC_I2C)) {
        umockdev_ioctl_client_complete(client, -1, EOPNOTSUPP);
        return;
    }
    // usb/error-codes.rst: a USB bridge that was unplugged fails its
    // transfers with ENODEV ("device or bus doesn't exist"), unless its
    // driver maps every failed USB transfer to one code of its own
    // (i2c-tiny-usb.c, usb_xfer: EREMOTEIO); the kernel removes the bus's
    // i2c-dev class entry at the same time (i2c-dev.c, i2cdev_detach_adapter).
    const bool wasListed = bus.listed;
    if (!bus.chip.begin()) {
        bus.listed = false;
        if (wasListed)
            umockdev_testbed_remove_device(m_testbed, bus.sysPath.c_str());
        umockdev_ioctl_client_complete(client, -1, bus.unplugErrno);
        return;
    }
    ++bus.transfers;
    bus.last.clear();
    for (size_t i = 0; i < messages.size(); ++i) {
        const i2c_msg &message = messages[i];
        Message seen;
        seen.address = message.addr;
        seen.read = message.flags & I2C_M_RD;
        bus.addressed.insert(message.addr);
        FakeBus::Ack ack = FakeBus::Acked;
        if (seen.read) {
            seen.bytes.assign(message.len, 0);
            ack = bus.chip.read(message.addr, seen.bytes.data(), message.len);
            if (ack == FakeBus::Acked && buffers[i])
                umockdev_ioctl_data_update(buffers[i], 0, seen.bytes.data(), message.len);
        } else {
            if (buffers[i])
                seen.bytes.assign(buffers[i]->data, buffers[i]->data + message.len);
            ack = bus.chip.write(message.addr, seen.bytes.data(), message.len);
        }
        bus.last.push_back(seen);
        // fault-codes.rst, ENXIO: the address phase got no ACK.
        if (ack == FakeBus::AddressNack) {
            umockdev_ioctl_client_complete(client, -1, ENXIO);
            return;
        }
        // i2c-bcm2835.c, bcm2835_i2c_xfer: a NACK of a data byte is EREMOTEIO.
        if (ack == FakeBus::DataNack) {
            umockdev_ioctl_client_complete(client, -1, EREMOTEIO);
            return;
        }
    }
    // i2c-core-base.c, i2c_transfer: on success, the number of messages.
    umockdev_ioctl_client_complete(client, long(messages.size()), 0);
}

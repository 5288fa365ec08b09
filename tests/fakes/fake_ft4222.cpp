// Stands in for the FT4222 bridge library and the driver library it comes
// with: the same C calls, two FT4222H bridges (interface A at 0x1234 and at
// 0x5678, each with its interface B beside it and a bus of its own; the
// second is unplugged until a test plugs it) and an unrelated FTDI part.
// The bus controls act on the selected bridge, the first unless chosen.

#include "fakebus.h"

namespace {

enum : uint32_t {
    Ok = 0,
    InvalidHandle = 1,
    DeviceNotFound = 2,
    DeviceNotOpened = 3,
    IoError = 4,
    InvalidParameter = 6,
};

// Controller status bits (LibFT4222.h, "I2C Master Controller Status").
enum : uint8_t {
    Busy = 0x01,
    Error = 0x02,
    AddressNack = 0x04,
    DataNack = 0x08,
    Idle = 0x20,
    BusBusy = 0x40,
};

std::mutex lock;

struct Bridge
{
    explicit Bridge(bool plugged) { bus.connected = plugged; }

    FakeBus bus { lock };
    uint32_t generation = 0; // a new one each time the bridge is plugged in
    uint8_t status = Idle;
    int busyPolls = 0;
};

// As after a reset: a test that loads the library without resetting it must
// not find the second bridge.
Bridge bridges[2] = { Bridge(true), Bridge(false) };

struct Device
{
    const char *description;
    uint32_t locId;
    Bridge *bridge; // null: not part of a bridge, always present
};

const Device devices[] = { { "FT4222 A", 0x1234, &bridges[0] }, { "FT4222 B", 0x1235, &bridges[0] },
                           { "FT232R USB UART", 0x2000, nullptr },
                           { "FT4222 A", 0x5678, &bridges[1] }, { "FT4222 B", 0x5679, &bridges[1] } };

struct Handle
{
    const Device *device;
    uint32_t generation;
    uint32_t readTimeoutMs = 0;
    uint32_t writeTimeoutMs = 0;
};

// Handles stay allocated until FT_Close, also when their device is gone.
std::map<uintptr_t, Handle> handles;
uintptr_t nextHandle = 0x4222000;
FakeBus *selected = &bridges[0].bus;
int scriptedStatus = 0;
int scriptedPolls = 0; // polls still answered with scriptedStatus; -1 for ever
int statusPolls = 0;
int resets = 0;
uint32_t initKbps = 0;
bool failInit = false;

void reset()
{
    for (Bridge &bridge : bridges) {
        bridge.bus.reset();
        bridge.status = Idle;
        bridge.busyPolls = 0;
        ++bridge.generation;
    }
    bridges[1].bus.connected = false;
    handles.clear();
    selected = &bridges[0].bus;
    scriptedPolls = 0;
    statusPolls = 0;
    resets = 0;
    initKbps = 0;
    failInit = false;
}

bool present(const Device &device)
{
    return !device.bridge || device.bridge->bus.connected;
}

// An unplugged bridge comes back as a new device: the handles on the old
// one are dead.
void sync()
{
    for (Bridge &bridge : bridges) {
        if (!bridge.bus.connected)
            bridge.generation |= 0x80000000u;
        else if (bridge.generation & 0x80000000u)
            bridge.generation = (bridge.generation & 0x7FFFFFFFu) + 1;
    }
}

Handle *live(void *handle)
{
    sync();
    const auto it = handles.find(reinterpret_cast<uintptr_t>(handle));
    if (it == handles.end())
        return nullptr;
    const Device &device = *it->second.device;
    if (!present(device) || (device.bridge && device.bridge->generation != it->second.generation))
        return nullptr;
    return &it->second;
}

bool isOpen(const Device &device)
{
    for (auto &entry : handles) {
        if (entry.second.device == &device && live(reinterpret_cast<void *>(entry.first)))
            return true;
    }
    return false;
}

std::vector<const Device *> listed()
{
    sync();
    std::vector<const Device *> list;
    for (const Device &device : devices) {
        if (present(device))
            list.push_back(&device);
    }
    return list;
}

// The bridge behind a handle of an interface A, for a transfer: counts the
// transfer and lets a scripted unplug happen.
Bridge *transferOn(void *handle)
{
    Handle *h = live(handle);
    if (!h || !h->device->bridge || std::strcmp(h->device->description, "FT4222 A") != 0)
        return nullptr;
    Bridge *bridge = h->device->bridge;
    if (!bridge->bus.begin()) {
        sync();
        return nullptr;
    }
    return bridge;
}

// A NACK sets the error bit together with its own (LibFT4222.h: the NACK
// macros test 0x06 and 0x0A).
uint8_t statusAfter(FakeBus::Ack ack, bool stopped)
{
    switch (ack) {
    case FakeBus::Acked:
        // Without a stop the master keeps the bus.
        return stopped ? Idle : Idle | BusBusy;
    case FakeBus::AddressNack:
        return Idle | Error | AddressNack;
    case FakeBus::DataNack:
        return Idle | Error | DataNack;
    }
    return Idle;
}

uint32_t writeTransfer(void *handle, uint16_t address, uint8_t *buffer, uint16_t size,
                       uint16_t *sent, bool stopped)
{
    *sent = 0;
    Bridge *bridge = transferOn(handle);
    if (!bridge)
        return IoError;
    const FakeBus::Ack ack = bridge->bus.write(address, buffer, size);
    bridge->status = statusAfter(ack, stopped);
    // The write call returns before the bytes are on the wire; only the
    // status says when the transfer ended (AN_329, FT4222_I2CMaster_GetStatus).
    bridge->busyPolls = 1;
    *sent = uint16_t(bridge->bus.moved(size));
    return Ok;
}

} // namespace

FAKE_EXPORT uint32_t FT_CreateDeviceInfoList(uint32_t *count)
{
    std::lock_guard<std::mutex> locker(lock);
    *count = uint32_t(listed().size());
    return Ok;
}

FAKE_EXPORT uint32_t FT_GetDeviceInfoDetail(uint32_t index, uint32_t *flags, uint32_t *type,
                                            uint32_t *id, uint32_t *locId, void *serial,
                                            void *description, void **handle)
{
    std::lock_guard<std::mutex> locker(lock);
    const std::vector<const Device *> list = listed();
    if (index >= list.size())
        return DeviceNotFound;
    const Device &device = *list[index];
    const bool open = isOpen(device);
    *flags = open ? 1 : 0;
    *type = 10;
    *id = 0x0403601c;
    // Location id information is not returned for devices that are open
    // (D2XX Programmer's Guide, FT_GetDeviceInfoDetail); nor is a handle
    // anyone could use.
    *locId = open ? 0 : device.locId;
    *handle = nullptr;
    std::strncpy(static_cast<char *>(serial), "FT4222SN", 16);
    std::strncpy(static_cast<char *>(description), device.description, 64);
    return Ok;
}

FAKE_EXPORT uint32_t FT_OpenEx(void *arg, uint32_t openBy, void **handle)
{
    std::lock_guard<std::mutex> locker(lock);
    *handle = nullptr;
    if (openBy != 4)
        return InvalidParameter;
    for (const Device *device : listed()) {
        if (device->locId != uint32_t(reinterpret_cast<uintptr_t>(arg)))
            continue;
        // One handle per device (D2XX Programmer's Guide, FT_OpenEx).
        if (isOpen(*device))
            return DeviceNotOpened;
        const uintptr_t h = ++nextHandle;
        handles[h] = { device, device->bridge ? device->bridge->generation : 0 };
        *handle = reinterpret_cast<void *>(h);
        return Ok;
    }
    return DeviceNotFound;
}

FAKE_EXPORT uint32_t FT_Close(void *handle)
{
    std::lock_guard<std::mutex> locker(lock);
    // Closing frees the handle even when its device has gone.
    return handles.erase(reinterpret_cast<uintptr_t>(handle)) ? Ok : InvalidHandle;
}

// Read and write timeouts in milliseconds, kept per handle; an invalid handle
// is refused (D2XX Programmer's Guide, FT_SetTimeouts).
FAKE_EXPORT uint32_t FT_SetTimeouts(void *handle, uint32_t readMs, uint32_t writeMs)
{
    std::lock_guard<std::mutex> locker(lock);
    Handle *h = live(handle);
    if (!h)
        return InvalidHandle;
    h->readTimeoutMs = readMs;
    h->writeTimeoutMs = writeMs;
    return Ok;
}

FAKE_EXPORT uint32_t FT4222_I2CMaster_Init(void *handle, uint32_t kbps)
{
    std::lock_guard<std::mutex> locker(lock);
    if (!live(handle))
        return InvalidHandle;
    if (failInit)
        return IoError;
    initKbps = kbps;
    return Ok;
}

FAKE_EXPORT uint32_t FT4222_UnInitialize(void *handle)
{
    std::lock_guard<std::mutex> locker(lock);
    return live(handle) ? Ok : InvalidHandle;
}

FAKE_EXPORT uint32_t FT4222_I2CMaster_Write(void *handle, uint16_t address, uint8_t *buffer,
                                            uint16_t size, uint16_t *sent)
{
    std::lock_guard<std::mutex> locker(lock);
    return writeTransfer(handle, address, buffer, size, sent, true);
}

// Only the conditions the bridge is used with: a register address written
// without a stop, then read back after a repeated start, with a stop.
FAKE_EXPORT uint32_t FT4222_I2CMaster_WriteEx(void *handle, uint16_t address, uint8_t flag,
                                              uint8_t *buffer, uint16_t size, uint16_t *sent)
{
    std::lock_guard<std::mutex> locker(lock);
    if (flag != 0x02) {
        *sent = 0;
        return InvalidParameter;
    }
    return writeTransfer(handle, address, buffer, size, sent, false);
}

FAKE_EXPORT uint32_t FT4222_I2CMaster_ReadEx(void *handle, uint16_t address, uint8_t flag,
                                             uint8_t *buffer, uint16_t size, uint16_t *received)
{
    std::lock_guard<std::mutex> locker(lock);
    *received = 0;
    if (flag != 0x07)
        return InvalidParameter;
    Bridge *bridge = transferOn(handle);
    if (!bridge)
        return IoError;
    const FakeBus::Ack ack = bridge->bus.read(address, buffer, size);
    bridge->status = statusAfter(ack, true);
    bridge->busyPolls = 0;
    // A read nobody acknowledges still comes back complete, as the idle
    // bus reads: all ones. Only the status tells (FTDI Community forum,
    // "FT4222_I2CMaster_ReadEx() to send a STOP without reading data?").
    if (ack != FakeBus::Acked)
        std::memset(buffer, 0xFF, size);
    *received = uint16_t(bridge->bus.moved(size));
    return Ok;
}

FAKE_EXPORT uint32_t FT4222_I2CMaster_GetStatus(void *handle, uint8_t *status)
{
    std::lock_guard<std::mutex> locker(lock);
    ++statusPolls;
    Handle *h = live(handle);
    if (!h || !h->device->bridge)
        return IoError;
    if (scriptedPolls != 0) {
        if (scriptedPolls > 0)
            --scriptedPolls;
        if (scriptedStatus < 0)
            return IoError;
        *status = uint8_t(scriptedStatus);
        return Ok;
    }
    Bridge &bridge = *h->device->bridge;
    if (bridge.busyPolls > 0) {
        --bridge.busyPolls;
        *status = Busy;
        return Ok;
    }
    *status = bridge.status;
    return Ok;
}

// Brings the controller back to idle after an error (AN_329,
// FT4222_I2CMaster_Reset).
FAKE_EXPORT uint32_t FT4222_I2CMaster_Reset(void *handle)
{
    std::lock_guard<std::mutex> locker(lock);
    Handle *h = live(handle);
    if (!h || !h->device->bridge)
        return InvalidHandle;
    h->device->bridge->status = Idle;
    h->device->bridge->busyPolls = 0;
    ++resets;
    return Ok;
}

FAKE_BUS_CONTROLS(fake_ft4222, (*selected), reset)

// The bridge the bus controls act on: 0 or 1.
FAKE_EXPORT void fake_ft4222_select(int bridge)
{
    std::lock_guard<std::mutex> locker(lock);
    selected = &bridges[bridge ? 1 : 0].bus;
}

// The next polls status queries answer status (polls -1: until reset); a
// status of -1 makes them fail.
FAKE_EXPORT void fake_ft4222_script_status(int status, int polls)
{
    std::lock_guard<std::mutex> locker(lock);
    scriptedStatus = status;
    scriptedPolls = polls;
}

// Status queries since the last call.
FAKE_EXPORT int fake_ft4222_take_status_polls()
{
    std::lock_guard<std::mutex> locker(lock);
    const int polls = statusPolls;
    statusPolls = 0;
    return polls;
}

// Controller resets since the last call.
FAKE_EXPORT int fake_ft4222_take_resets()
{
    std::lock_guard<std::mutex> locker(lock);
    const int count = resets;
    resets = 0;
    return count;
}

FAKE_EXPORT int fake_ft4222_init_kbps()
{
    std::lock_guard<std::mutex> locker(lock);
    return int(initKbps);
}

FAKE_EXPORT void fake_ft4222_fail_init(int fail)
{
    std::lock_guard<std::mutex> locker(lock);
    failInit = fail != 0;
}

// Handles not yet closed, whether their device is still there or not.
FAKE_EXPORT int fake_ft4222_open_handles()
{
    std::lock_guard<std::mutex> locker(lock);
    return int(handles.size());
}

// The read and write timeouts of the first bridge's open handle, in ms.
FAKE_EXPORT int fake_ft4222_timeouts(int *writeMs)
{
    std::lock_guard<std::mutex> locker(lock);
    for (auto &entry : handles) {
        if (entry.second.device == &devices[0] && live(reinterpret_cast<void *>(entry.first))) {
            *writeMs = int(entry.second.writeTimeoutMs);
            return int(entry.second.readTimeoutMs);
        }
    }
    *writeMs = -1;
    return -1;
}

// Stands in for the FT4222 bridge library and the driver library it comes
// with: the same C calls, one FT4222H (interface A at location 0x1234, with
// its interface B beside it) and an unrelated FTDI part.

#include "fakebus.h"

namespace {

enum : uint32_t { Ok = 0, InvalidHandle = 1, DeviceNotFound = 2, IoError = 4, InvalidParameter = 6 };

struct Device
{
    const char *description;
    uint32_t locId;
    bool unplugs; // the bridge's interfaces vanish with it, the other part stays
    bool open = false;
    void *handle = nullptr;
};

FakeBus bus;
Device devices[] = { { "FT4222 A", 0x1234, true }, { "FT4222 B", 0x1235, true },
                     { "FT232R USB UART", 0x2000, false } };
Device &bridge = devices[0];
uintptr_t generation = 0;
uint8_t busStatus = 0x20; // bus idle
int scriptedStatus = 0;
int scriptedPolls = 0;    // polls still answered with scriptedStatus; -1 for ever
int statusPolls = 0;
uint32_t initKbps = 0;
bool failInit = false;

void reset()
{
    for (Device &device : devices) {
        device.open = false;
        device.handle = nullptr;
    }
    busStatus = 0x20;
    scriptedPolls = 0;
    statusPolls = 0;
    initKbps = 0;
    failInit = false;
}

// An unplugged bridge forgets that it was open; its handles are dead.
void sync()
{
    if (bus.connected)
        return;
    for (Device &device : devices) {
        if (device.unplugs) {
            device.open = false;
            device.handle = nullptr;
        }
    }
}

std::vector<Device *> listed()
{
    sync();
    std::vector<Device *> list;
    for (Device &device : devices) {
        if (bus.connected || !device.unplugs)
            list.push_back(&device);
    }
    return list;
}

bool isBridge(void *handle)
{
    sync();
    return handle && bridge.open && handle == bridge.handle;
}

// A transfer on handle: counts it, lets a scripted unplug happen.
bool transferOn(void *handle)
{
    const bool up = bus.begin();
    sync();
    return up && isBridge(handle);
}

uint8_t statusAfter(FakeBus::Ack ack)
{
    switch (ack) {
    case FakeBus::Acked:
        return 0x20;
    case FakeBus::AddressNack:
        return 0x20 | 0x02 | 0x04;
    case FakeBus::DataNack:
        return 0x20 | 0x02 | 0x08;
    }
    return 0x20;
}

uint32_t writeTransfer(void *handle, uint16_t address, uint8_t *buffer, uint16_t size,
                       uint16_t *sent)
{
    *sent = 0;
    if (!transferOn(handle))
        return IoError;
    const FakeBus::Ack ack = bus.write(address, buffer, size);
    busStatus = statusAfter(ack);
    if (ack == FakeBus::Acked)
        *sent = uint16_t(bus.moved(size));
    return Ok;
}

} // namespace

FAKE_EXPORT uint32_t FT_CreateDeviceInfoList(uint32_t *count)
{
    std::lock_guard<std::mutex> locker(bus.mutex);
    *count = uint32_t(listed().size());
    return Ok;
}

FAKE_EXPORT uint32_t FT_GetDeviceInfoDetail(uint32_t index, uint32_t *flags, uint32_t *type,
                                            uint32_t *id, uint32_t *locId, void *serial,
                                            void *description, void **handle)
{
    std::lock_guard<std::mutex> locker(bus.mutex);
    const std::vector<Device *> list = listed();
    if (index >= list.size())
        return DeviceNotFound;
    const Device &device = *list[index];
    *flags = device.open ? 1 : 0;
    *type = 10;
    *id = 0x0403601c;
    *locId = device.locId;
    std::strncpy(static_cast<char *>(serial), "FT4222SN", 16);
    std::strncpy(static_cast<char *>(description), device.description, 64);
    *handle = device.handle;
    return Ok;
}

FAKE_EXPORT uint32_t FT_OpenEx(void *arg, uint32_t openBy, void **handle)
{
    std::lock_guard<std::mutex> locker(bus.mutex);
    *handle = nullptr;
    if (openBy != 4)
        return InvalidParameter;
    for (Device *device : listed()) {
        if (device->locId != uint32_t(reinterpret_cast<uintptr_t>(arg)))
            continue;
        if (device->open)
            return IoError;
        device->open = true;
        device->handle = reinterpret_cast<void *>(uintptr_t(0x4222000) + ++generation);
        *handle = device->handle;
        return Ok;
    }
    return DeviceNotFound;
}

FAKE_EXPORT uint32_t FT_Close(void *handle)
{
    std::lock_guard<std::mutex> locker(bus.mutex);
    if (!isBridge(handle))
        return InvalidHandle;
    bridge.open = false;
    bridge.handle = nullptr;
    return Ok;
}

FAKE_EXPORT uint32_t FT4222_I2CMaster_Init(void *handle, uint32_t kbps)
{
    std::lock_guard<std::mutex> locker(bus.mutex);
    if (!isBridge(handle))
        return InvalidHandle;
    if (failInit)
        return IoError;
    initKbps = kbps;
    return Ok;
}

FAKE_EXPORT uint32_t FT4222_UnInitialize(void *handle)
{
    std::lock_guard<std::mutex> locker(bus.mutex);
    return isBridge(handle) ? Ok : InvalidHandle;
}

FAKE_EXPORT uint32_t FT4222_I2CMaster_Write(void *handle, uint16_t address, uint8_t *buffer,
                                            uint16_t size, uint16_t *sent)
{
    std::lock_guard<std::mutex> locker(bus.mutex);
    return writeTransfer(handle, address, buffer, size, sent);
}

// Only the conditions the bridge is used with: a register address written
// without a stop, then read back after a repeated start, with a stop.
FAKE_EXPORT uint32_t FT4222_I2CMaster_WriteEx(void *handle, uint16_t address, uint8_t flag,
                                              uint8_t *buffer, uint16_t size, uint16_t *sent)
{
    std::lock_guard<std::mutex> locker(bus.mutex);
    if (flag != 0x02) {
        *sent = 0;
        return InvalidParameter;
    }
    return writeTransfer(handle, address, buffer, size, sent);
}

FAKE_EXPORT uint32_t FT4222_I2CMaster_ReadEx(void *handle, uint16_t address, uint8_t flag,
                                             uint8_t *buffer, uint16_t size, uint16_t *received)
{
    std::lock_guard<std::mutex> locker(bus.mutex);
    *received = 0;
    if (flag != 0x07)
        return InvalidParameter;
    if (!transferOn(handle))
        return IoError;
    const FakeBus::Ack ack = bus.read(address, buffer, size);
    busStatus = statusAfter(ack);
    if (ack == FakeBus::Acked)
        *received = uint16_t(bus.moved(size));
    return Ok;
}

FAKE_EXPORT uint32_t FT4222_I2CMaster_GetStatus(void *handle, uint8_t *status)
{
    std::lock_guard<std::mutex> locker(bus.mutex);
    ++statusPolls;
    if (!isBridge(handle))
        return IoError;
    if (scriptedPolls != 0) {
        *status = uint8_t(scriptedStatus);
        if (scriptedPolls > 0)
            --scriptedPolls;
        return Ok;
    }
    *status = busStatus;
    return Ok;
}

FAKE_BUS_CONTROLS(fake_ft4222, bus, reset)

// The next polls status queries answer status (polls -1: until reset).
FAKE_EXPORT void fake_ft4222_script_status(int status, int polls)
{
    std::lock_guard<std::mutex> locker(bus.mutex);
    scriptedStatus = status;
    scriptedPolls = polls;
}

// Status queries since the last call.
FAKE_EXPORT int fake_ft4222_take_status_polls()
{
    std::lock_guard<std::mutex> locker(bus.mutex);
    const int polls = statusPolls;
    statusPolls = 0;
    return polls;
}

FAKE_EXPORT int fake_ft4222_init_kbps()
{
    std::lock_guard<std::mutex> locker(bus.mutex);
    return int(initKbps);
}

FAKE_EXPORT void fake_ft4222_fail_init(int fail)
{
    std::lock_guard<std::mutex> locker(bus.mutex);
    failInit = fail != 0;
}

FAKE_EXPORT int fake_ft4222_is_open()
{
    std::lock_guard<std::mutex> locker(bus.mutex);
    sync();
    return bridge.open ? 1 : 0;
}

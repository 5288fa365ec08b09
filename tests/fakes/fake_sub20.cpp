// Stands in for the SUB-20 library: the same C calls and two SUB-20s, with
// serials 3A5F and 3A60, each with a bus of its own; the second is
// unplugged until a test plugs it. The bus controls act on the selected
// one, the first unless chosen.

#include "fakebus.h"

namespace {

// The library's error codes (libsub.h, "Error Codes").
enum : int { Ok = 0, BulkWriteFailed = 7, I2cError = 11, WrongParameters = 14 };

// The clock the library can set: Fscl = F_CPU / (16 + 2 * TWBR * 4^TWPS),
// TWBR at least 10 (libsub.c, sub_i2c_freq).
constexpr int CpuHz = 16000000;
constexpr int MaxClockHz = CpuHz / (16 + 2 * 10);

std::mutex lock;

struct Sub20
{
    const char *serial;
    FakeBus bus { lock };
    bool open = false;
    void *handle = nullptr;
    int clockHz = 0;
};

Sub20 devices[2] = { { "3A5F" }, { "3A60" } };
FakeBus *selected = &devices[0].bus;
uintptr_t generation = 0;
int closes = 0;
int i2cStatus = 0;
int lastMemoryAddress = -1;
int lastMemoryAddressSize = -1;

void reset()
{
    for (Sub20 &device : devices) {
        device.bus.reset();
        device.open = false;
        device.handle = nullptr;
        device.clockHz = 0;
    }
    devices[1].bus.connected = false;
    selected = &devices[0].bus;
    closes = 0;
    i2cStatus = 0;
    lastMemoryAddress = -1;
    lastMemoryAddressSize = -1;
}

// An unplugged SUB-20 forgets that it was open; its handles are dead.
void sync()
{
    for (Sub20 &device : devices) {
        if (!device.bus.connected) {
            device.open = false;
            device.handle = nullptr;
        }
    }
}

Sub20 *byHandle(void *h)
{
    sync();
    for (Sub20 &device : devices) {
        if (h && device.open && device.handle == h)
            return &device;
    }
    return nullptr;
}

int text(void *h, bool serial, char *buffer, int size)
{
    std::lock_guard<std::mutex> locker(lock);
    Sub20 *device = byHandle(h);
    if (!device || size <= 0)
        return -1;
    std::strncpy(buffer, serial ? device->serial : "SUB-20 fake", size_t(size));
    buffer[size - 1] = '\0';
    return int(std::strlen(buffer));
}

// The memory address goes out first, most significant byte first.
std::vector<uint8_t> withMemoryAddress(int memoryAddress, int memoryAddressSize)
{
    lastMemoryAddress = memoryAddress;
    lastMemoryAddressSize = memoryAddressSize;
    std::vector<uint8_t> bytes;
    for (int i = memoryAddressSize - 1; i >= 0; --i)
        bytes.push_back(uint8_t(unsigned(memoryAddress) >> (8 * i)));
    return bytes;
}

// A failed I2C transfer returns I2C error and leaves its status in
// sub_i2c_status (SUB-20 User Manual, "I2C Status").
int i2cFailed(int status)
{
    i2cStatus = status;
    return I2cError;
}

} // namespace

// Lists every SUB-20 attached, open or not (libsub.c, sub_find_devices).
FAKE_EXPORT void *sub_find_devices(void *previous)
{
    std::lock_guard<std::mutex> locker(lock);
    sync();
    bool after = previous == nullptr;
    for (Sub20 &device : devices) {
        if (after && device.bus.connected)
            return &device;
        after = after || previous == &device;
    }
    return nullptr;
}

// Opening claims the interface; one that is claimed already refuses
// (libsub.c, sub_open).
FAKE_EXPORT void *sub_open(void *dev)
{
    std::lock_guard<std::mutex> locker(lock);
    sync();
    for (Sub20 &device : devices) {
        if (&device != dev)
            continue;
        if (!device.bus.connected || device.open)
            return nullptr;
        device.open = true;
        device.handle = reinterpret_cast<void *>(uintptr_t(0x5B20000) + ++generation);
        return device.handle;
    }
    return nullptr;
}

FAKE_EXPORT int sub_close(void *h)
{
    std::lock_guard<std::mutex> locker(lock);
    ++closes;
    Sub20 *device = byHandle(h);
    if (!device)
        return -1;
    device->open = false;
    device->handle = nullptr;
    return Ok;
}

FAKE_EXPORT int sub_get_product_id(void *h, char *buffer, int size)
{
    return text(h, false, buffer, size);
}

FAKE_EXPORT int sub_get_serial_number(void *h, char *buffer, int size)
{
    return text(h, true, buffer, size);
}

// Refuses a clock above what the adapter can make and answers with the
// clock it really runs (libsub.c, sub_i2c_freq).
FAKE_EXPORT int sub_i2c_freq(void *h, int *hz)
{
    std::lock_guard<std::mutex> locker(lock);
    Sub20 *device = byHandle(h);
    if (!device)
        return BulkWriteFailed;
    if (*hz > MaxClockHz || *hz <= 0)
        return WrongParameters;
    int twbr = (CpuHz / *hz - 16) / 2;
    int prescale = 1;
    while (twbr > 0xFF && prescale < 64) {
        prescale *= 4;
        twbr = (CpuHz / *hz - 16) / (2 * prescale);
    }
    if (twbr > 0xFF)
        return WrongParameters;
    *hz = CpuHz / (16 + 2 * twbr * prescale);
    device->clockHz = *hz;
    return Ok;
}

// Nothing to read or write is refused before the bus is touched
// (libsub.c, sub_i2c_read and sub_i2c_write: sz <= 0).
FAKE_EXPORT int sub_i2c_read(void *h, int address, int memoryAddress, int memoryAddressSize,
                             char *buffer, int size)
{
    std::lock_guard<std::mutex> locker(lock);
    if (size <= 0)
        return WrongParameters;
    Sub20 *device = byHandle(h);
    if (!device || !device->bus.begin()) {
        sync();
        return BulkWriteFailed;
    }
    const std::vector<uint8_t> prefix = withMemoryAddress(memoryAddress, memoryAddressSize);
    if (!prefix.empty()) {
        const FakeBus::Ack ack = device->bus.write(uint16_t(address), prefix.data(), int(prefix.size()));
        if (ack != FakeBus::Acked)
            return i2cFailed(ack == FakeBus::AddressNack ? 0x20 : 0x30);
    }
    const FakeBus::Ack ack = device->bus.read(uint16_t(address), reinterpret_cast<uint8_t *>(buffer), size);
    if (ack != FakeBus::Acked)
        return i2cFailed(ack == FakeBus::AddressNack ? 0x48 : 0x30);
    return Ok;
}

FAKE_EXPORT int sub_i2c_write(void *h, int address, int memoryAddress, int memoryAddressSize,
                              char *buffer, int size)
{
    std::lock_guard<std::mutex> locker(lock);
    if (size <= 0)
        return WrongParameters;
    Sub20 *device = byHandle(h);
    if (!device || !device->bus.begin()) {
        sync();
        return BulkWriteFailed;
    }
    std::vector<uint8_t> bytes = withMemoryAddress(memoryAddress, memoryAddressSize);
    bytes.insert(bytes.end(), buffer, buffer + size);
    const FakeBus::Ack ack = device->bus.write(uint16_t(address), bytes.data(), int(bytes.size()));
    if (ack != FakeBus::Acked)
        return i2cFailed(ack == FakeBus::AddressNack ? 0x20 : 0x30);
    return Ok;
}

FAKE_EXPORT int sub_get_i2c_status()
{
    std::lock_guard<std::mutex> locker(lock);
    return i2cStatus;
}

FAKE_BUS_CONTROLS(fake_sub20, (*selected), reset)

// The SUB-20 the bus controls act on: 0 or 1.
FAKE_EXPORT void fake_sub20_select(int device)
{
    std::lock_guard<std::mutex> locker(lock);
    selected = &devices[device ? 1 : 0].bus;
}

FAKE_EXPORT int fake_sub20_clock_hz()
{
    std::lock_guard<std::mutex> locker(lock);
    return devices[0].clockHz;
}

FAKE_EXPORT int fake_sub20_closes()
{
    std::lock_guard<std::mutex> locker(lock);
    return closes;
}

FAKE_EXPORT int fake_sub20_last_memory_address(int *size)
{
    std::lock_guard<std::mutex> locker(lock);
    *size = lastMemoryAddressSize;
    return lastMemoryAddress;
}

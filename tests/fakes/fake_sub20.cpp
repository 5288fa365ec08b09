// Stands in for the SUB-20 library: the same C calls and one SUB-20 with
// serial 3A5F. Like the real one, an open SUB-20 is still listed but cannot
// be opened a second time.

#include "fakebus.h"

namespace {

enum : int { Ok = 0, Failed = -1, Nack = 3 };

FakeBus bus;
int device = 0; // its address is the device token
bool open = false;
void *handle = nullptr;
uintptr_t generation = 0;
int clockHz = 0;
int closes = 0;
int lastMemoryAddress = -1;
int lastMemoryAddressSize = -1;

void reset()
{
    open = false;
    handle = nullptr;
    clockHz = 0;
    closes = 0;
    lastMemoryAddress = -1;
    lastMemoryAddressSize = -1;
}

void sync()
{
    if (!bus.connected) {
        open = false;
        handle = nullptr;
    }
}

bool valid(void *h)
{
    sync();
    return h && open && h == handle;
}

int text(void *h, const char *value, char *buffer, int size)
{
    std::lock_guard<std::mutex> locker(bus.mutex);
    if (!valid(h) || size <= 0)
        return Failed;
    std::strncpy(buffer, value, size_t(size));
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

} // namespace

FAKE_EXPORT void *sub_find_devices(void *previous)
{
    std::lock_guard<std::mutex> locker(bus.mutex);
    sync();
    return bus.connected && !previous ? &device : nullptr;
}

FAKE_EXPORT void *sub_open(void *dev)
{
    std::lock_guard<std::mutex> locker(bus.mutex);
    sync();
    if (dev != &device || !bus.connected || open)
        return nullptr;
    open = true;
    handle = reinterpret_cast<void *>(uintptr_t(0x5B20000) + ++generation);
    return handle;
}

FAKE_EXPORT int sub_close(void *h)
{
    std::lock_guard<std::mutex> locker(bus.mutex);
    ++closes;
    if (!valid(h))
        return Failed;
    open = false;
    handle = nullptr;
    return Ok;
}

FAKE_EXPORT int sub_get_product_id(void *h, char *buffer, int size)
{
    return text(h, "SUB-20 fake", buffer, size);
}

FAKE_EXPORT int sub_get_serial_number(void *h, char *buffer, int size)
{
    return text(h, "3A5F", buffer, size);
}

FAKE_EXPORT int sub_i2c_freq(void *h, int *hz)
{
    std::lock_guard<std::mutex> locker(bus.mutex);
    if (!valid(h))
        return Failed;
    clockHz = *hz;
    return Ok;
}

FAKE_EXPORT int sub_i2c_read(void *h, int address, int memoryAddress, int memoryAddressSize,
                             char *buffer, int size)
{
    std::lock_guard<std::mutex> locker(bus.mutex);
    if (!bus.begin() || !valid(h))
        return Failed;
    const std::vector<uint8_t> prefix = withMemoryAddress(memoryAddress, memoryAddressSize);
    if (!prefix.empty()
        && bus.write(uint16_t(address), prefix.data(), int(prefix.size())) != FakeBus::Acked)
        return Nack;
    return bus.read(uint16_t(address), reinterpret_cast<uint8_t *>(buffer), size) == FakeBus::Acked
        ? Ok
        : Nack;
}

FAKE_EXPORT int sub_i2c_write(void *h, int address, int memoryAddress, int memoryAddressSize,
                              char *buffer, int size)
{
    std::lock_guard<std::mutex> locker(bus.mutex);
    if (!bus.begin() || !valid(h))
        return Failed;
    std::vector<uint8_t> bytes = withMemoryAddress(memoryAddress, memoryAddressSize);
    bytes.insert(bytes.end(), buffer, buffer + size);
    return bus.write(uint16_t(address), bytes.data(), int(bytes.size())) == FakeBus::Acked ? Ok
                                                                                           : Nack;
}

FAKE_BUS_CONTROLS(fake_sub20, bus, reset)

FAKE_EXPORT int fake_sub20_clock_hz()
{
    std::lock_guard<std::mutex> locker(bus.mutex);
    return clockHz;
}

FAKE_EXPORT int fake_sub20_closes()
{
    std::lock_guard<std::mutex> locker(bus.mutex);
    return closes;
}

FAKE_EXPORT int fake_sub20_last_memory_address(int *size)
{
    std::lock_guard<std::mutex> locker(bus.mutex);
    *size = lastMemoryAddressSize;
    return lastMemoryAddress;
}

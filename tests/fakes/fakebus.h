#pragma once

// The bus behind every fake adapter library: one bvr60600 at 0x70 and the
// faults a test can script. Plain C++ with no Qt, so that the fakes stand
// where the vendors' libraries would.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

class FakeBus
{
public:
    static constexpr uint16_t ChipAddress = 0x70;

    // The test thread scripts and inspects while the worker thread
    // transfers: every access goes through this lock. A fake with several
    // devices, each with a bus of its own, lets them share one.
    std::mutex ownMutex;
    std::mutex &mutex;

    std::map<uint8_t, uint8_t> registers;
    bool connected = true;
    int unplugAfter = -1;        // transfers still allowed before the device vanishes
    int shortTransfers = 0;      // the next this many transfers move one byte less
    int transfers = 0;
    // A chip that acknowledges register writes and keeps its values, for
    // tests that run a whole program against this bus: they set
    // FAKE_BUS_WRITE_PROTECT in its environment.
    bool writeProtected = false;
    std::vector<uint8_t> lastWrite;
    int lastReadSize = -1;

    FakeBus()
        : mutex(ownMutex)
    {
        reset();
    }
    explicit FakeBus(std::mutex &shared)
        : mutex(shared)
    {
        reset();
    }

    void reset()
    {
        registers = { { 0x00, 0x00 }, { 0x01, 0x00 }, { 0x02, 0x00 }, { 0x40, 0x00 }, { 0x41, 0x07 } };
        connected = true;
        unplugAfter = -1;
        shortTransfers = 0;
        transfers = 0;
        writeProtected = std::getenv("FAKE_BUS_WRITE_PROTECT") != nullptr;
        lastWrite.clear();
        lastReadSize = -1;
        m_pointer = 0;
        m_packet = false;
    }

    // Every transfer starts here: false once the device is gone, and the
    // scripted unplug takes effect on the transfer it is due.
    bool begin()
    {
        if (connected && unplugAfter == 0)
            connected = false;
        if (!connected)
            return false;
        if (unplugAfter > 0)
            --unplugAfter;
        ++transfers;
        return true;
    }

    // The count a transfer of size bytes reports.
    int moved(int size)
    {
        if (shortTransfers > 0 && size > 0) {
            --shortTransfers;
            return size - 1;
        }
        return size;
    }

    enum Ack { Acked, AddressNack, DataNack };

    // A write: the first byte selects the register, the rest go into it and
    // the registers after it. A write of more than one byte that does not
    // start at a register is a packet, answered by the next read.
    Ack write(uint16_t address, const uint8_t *data, int size)
    {
        if (address != ChipAddress)
            return AddressNack;
        lastWrite.assign(data, data + size);
        if (size == 0)
            return Acked;
        m_pointer = data[0];
        m_packet = !registers.count(m_pointer) && size > 1;
        if (m_packet)
            return Acked;
        if (!registers.count(m_pointer))
            return DataNack;
        for (int i = 1; i < size; ++i) {
            if (!registers.count(uint8_t(m_pointer + i - 1)))
                return DataNack;
            if (!writeProtected)
                registers[uint8_t(m_pointer + i - 1)] = data[i];
        }
        return Acked;
    }

    // A read from the selected register on, or a packet reply.
    Ack read(uint16_t address, uint8_t *data, int size)
    {
        if (address != ChipAddress)
            return AddressNack;
        lastReadSize = size;
        for (int i = 0; i < size; ++i) {
            if (m_packet) {
                data[i] = uint8_t(0xA5 ^ i);
                continue;
            }
            const auto it = registers.find(uint8_t(m_pointer + i));
            if (it == registers.end())
                return DataNack;
            data[i] = it->second;
        }
        return Acked;
    }

    int copyLastWrite(unsigned char *buffer, int size) const
    {
        const int n = std::min(size, int(lastWrite.size()));
        if (n > 0)
            std::memcpy(buffer, lastWrite.data(), size_t(n));
        return int(lastWrite.size());
    }

private:
    uint8_t m_pointer = 0;
    bool m_packet = false;
};

// The controls every fake exports under its own prefix, for the tests to
// look up next to the vendor calls.
#define FAKE_BUS_CONTROLS(prefix, bus, onReset)                                       \
    FAKE_EXPORT void prefix##_reset()                                                 \
    {                                                                                 \
        std::lock_guard<std::mutex> locker(bus.mutex);                                \
        bus.reset();                                                                  \
        onReset();                                                                    \
    }                                                                                 \
    FAKE_EXPORT void prefix##_set_connected(int connected)                            \
    {                                                                                 \
        std::lock_guard<std::mutex> locker(bus.mutex);                                \
        bus.connected = connected != 0;                                               \
        bus.unplugAfter = -1;                                                         \
    }                                                                                 \
    FAKE_EXPORT void prefix##_unplug_after(int transfers)                             \
    {                                                                                 \
        std::lock_guard<std::mutex> locker(bus.mutex);                                \
        bus.unplugAfter = transfers;                                                  \
    }                                                                                 \
    FAKE_EXPORT void prefix##_short_transfers(int count)                              \
    {                                                                                 \
        std::lock_guard<std::mutex> locker(bus.mutex);                                \
        bus.shortTransfers = count;                                                   \
    }                                                                                 \
    FAKE_EXPORT int prefix##_register(int reg)                                        \
    {                                                                                 \
        std::lock_guard<std::mutex> locker(bus.mutex);                                \
        const auto it = bus.registers.find(uint8_t(reg));                             \
        return it == bus.registers.end() ? -1 : it->second;                           \
    }                                                                                 \
    FAKE_EXPORT int prefix##_last_write(unsigned char *buffer, int size)              \
    {                                                                                 \
        std::lock_guard<std::mutex> locker(bus.mutex);                                \
        return bus.copyLastWrite(buffer, size);                                       \
    }                                                                                 \
    FAKE_EXPORT int prefix##_last_read_size()                                         \
    {                                                                                 \
        std::lock_guard<std::mutex> locker(bus.mutex);                                \
        return bus.lastReadSize;                                                      \
    }

#pragma once

// Kernel I2C buses as the program sees them, without a kernel: umockdev
// shows /sys/class/i2c-dev/i2c-N and /dev/i2c-N to the process, and the
// i2c-dev ioctls on that node are answered here, as the kernel's i2c-dev
// documentation describes them, with a bvr60600 at 0x70 on every bus.
// Plain C++ and GLib, no Qt, so that the tests, the benchmark and the
// i2cdevbus program share it.
//
// Only works in a process started under umockdev's preload library
// (umockdev-wrapper); inMockEnvironment() tells.

#include "fakebus.h"

#include <linux/i2c.h>

#include <cerrno>

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

struct _UMockdevTestbed;
struct _UMockdevIoctlBase;
struct _UMockdevIoctlClient;

class EmulatedI2cBus
{
public:
    // A bus with a full I2C master driver (a USB bridge, a board's pins):
    // plain I2C, and SMBus emulated on top of it by the kernel.
    static constexpr unsigned long FullI2c = I2C_FUNC_I2C | I2C_FUNC_SMBUS_EMUL;
    // A PC's SMBus controller: SMBus transfers only, no plain I2C.
    static constexpr unsigned long SmbusOnly = I2C_FUNC_SMBUS_QUICK | I2C_FUNC_SMBUS_BYTE
                                               | I2C_FUNC_SMBUS_BYTE_DATA | I2C_FUNC_SMBUS_WORD_DATA
                                               | I2C_FUNC_SMBUS_BLOCK_DATA | I2C_FUNC_SMBUS_I2C_BLOCK;

    // One message of the last combined transfer, as the bus saw it.
    struct Message
    {
        uint16_t address = 0;
        bool read = false;
        std::vector<uint8_t> bytes; // what was written, or what was read
    };

    // What the emulation records and what a test scripts, per bus.
    struct Bus
    {
        FakeBus chip;                 // the bvr60600 at 0x70; its mutex guards this whole record
        unsigned long functionality = FullI2c;
        std::string sysPath;
        bool listed = true;           // the kernel still lists the bus
        int unplugErrno = ENODEV;     // what the driver answers once unplugged
        int transfers = 0;            // I2C_RDWR calls answered
        std::set<uint16_t> addressed; // every slave address a message went to
        std::vector<Message> last;    // the messages of the last I2C_RDWR
    };

    EmulatedI2cBus();
    ~EmulatedI2cBus();
    EmulatedI2cBus(const EmulatedI2cBus &) = delete;
    EmulatedI2cBus &operator=(const EmulatedI2cBus &) = delete;

    static bool inMockEnvironment();
    // Root as root: without this, the permission bits of a node would not
    // keep the process out. Call before the threads that open devices start.
    static void dropFileAccessOverride();

    std::string rootDir() const;

    void addBus(int number, const std::string &name, unsigned long functionality = FullI2c);
    // The kernel unregisters the adapter: its class entry and node go.
    void removeBus(int number);
    // The node's permission bits shut the user out.
    void denyAccess(int number);
    // The descriptors this process holds open on the bus's node.
    int openDescriptors(int number) const;

    // Runs fn on the bus's record under its lock.
    template<typename Fn>
    auto with(int number, Fn fn)
    {
        Bus &bus = busAt(number);
        std::lock_guard<std::mutex> locker(bus.chip.mutex);
        return fn(bus);
    }

private:
    Bus &busAt(int number);
    static int onIoctl(_UMockdevIoctlBase *handler, _UMockdevIoctlClient *client, void *self);
    void answer(int number, _UMockdevIoctlClient *client);
    void transfer(Bus &bus, _UMockdevIoctlClient *client);

    _UMockdevTestbed *m_testbed = nullptr;
    // Buses are added from the test's thread and looked up from umockdev's.
    std::mutex m_lock;
    std::map<int, std::unique_ptr<Bus>> m_buses;
    std::map<int, std::string> m_ptys; // the pseudo-terminal umockdev backs each node with
    std::map<int, _UMockdevIoctlBase *> m_handlers;
};

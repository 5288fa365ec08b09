// Stands in for libusb in the pod's test: the calls the pod adapter makes,
// answered by a pod with one bvr60600 at 0x70 behind it. The test links this
// library ahead of the real one, so its definitions win.

#include "fakebus.h"

#include <libusb.h>

#include <cstdarg>
#include <memory>
#include <set>
#include <string>

struct libusb_context
{
    bool alive = true;
};

struct libusb_device
{
    int unused = 0;
};

struct libusb_device_handle
{
    libusb_context *context = nullptr;
};

namespace {

FakeBus bus;
libusb_device pod;
// Ended contexts stay allocated, so that a stale handle can be told apart.
std::vector<std::unique_ptr<libusb_context>> contexts;
std::set<libusb_device_handle *> handles;
std::vector<std::string> calls;
std::vector<uint8_t> lastOut;
uint8_t reply[64] = {};
int logLevel = -1;
int failNext = 0;        // the next transfer returns this libusb error
int failNextCount = 0;
int replyCode = -1;      // the next reply carries this code/status instead
int replyStatus = -1;
int failClaim = 0;
int staleUses = 0;       // transfers on a handle whose context has ended
unsigned int lastTimeout = 0;

void reset()
{
    for (libusb_device_handle *handle : handles)
        delete handle;
    handles.clear();
    calls.clear();
    lastOut.clear();
    std::memset(reply, 0, sizeof(reply));
    logLevel = -1;
    failNext = 0;
    failNextCount = 0;
    replyCode = -1;
    replyStatus = -1;
    failClaim = 0;
    staleUses = 0;
    lastTimeout = 0;
}

void log(const char *call)
{
    calls.emplace_back(call);
}

// The pod answers a request frame: code echoed, status 0 when the chip
// acknowledged, the byte read.
void answer(const unsigned char *request)
{
    std::memset(reply, 0, sizeof(reply));
    const uint8_t code = request[3];
    const uint16_t address = request[4] >> 1;
    const uint8_t reg = request[5];
    bool acked = false;
    if (code == 0x81) {
        acked = bus.write(address, &reg, 1) == FakeBus::Acked
            && bus.read(address, &reply[2], 1) == FakeBus::Acked;
    } else if (code == 0x80) {
        const uint8_t bytes[2] = { reg, request[6] };
        acked = bus.write(address, bytes, 2) == FakeBus::Acked;
    }
    reply[0] = code;
    reply[1] = acked ? 0 : 0x01;
    if (replyCode >= 0)
        reply[0] = uint8_t(replyCode);
    if (replyStatus >= 0)
        reply[1] = uint8_t(replyStatus);
    replyCode = -1;
    replyStatus = -1;
}

} // namespace

int LIBUSB_CALL libusb_init(libusb_context **context)
{
    std::lock_guard<std::mutex> locker(bus.mutex);
    log("init");
    contexts.push_back(std::make_unique<libusb_context>());
    *context = contexts.back().get();
    return 0;
}

void LIBUSB_CALL libusb_exit(libusb_context *context)
{
    std::lock_guard<std::mutex> locker(bus.mutex);
    log("exit");
    if (context)
        context->alive = false;
}

int LIBUSB_CALL libusb_set_option(libusb_context *, enum libusb_option option, ...)
{
    std::lock_guard<std::mutex> locker(bus.mutex);
    log("set_option");
    if (option == LIBUSB_OPTION_LOG_LEVEL) {
        va_list args;
        va_start(args, option);
        logLevel = va_arg(args, int);
        va_end(args);
    }
    return 0;
}

libusb_device_handle *LIBUSB_CALL libusb_open_device_with_vid_pid(libusb_context *context,
                                                                  uint16_t vendorId,
                                                                  uint16_t productId)
{
    std::lock_guard<std::mutex> locker(bus.mutex);
    log("open");
    if (!context || !context->alive || !bus.connected || vendorId != 0x0779 || productId != 0x0429)
        return nullptr;
    auto *handle = new libusb_device_handle;
    handle->context = context;
    handles.insert(handle);
    return handle;
}

void LIBUSB_CALL libusb_close(libusb_device_handle *handle)
{
    std::lock_guard<std::mutex> locker(bus.mutex);
    log("close");
    if (handles.erase(handle))
        delete handle;
}

int LIBUSB_CALL libusb_claim_interface(libusb_device_handle *, int interfaceNumber)
{
    std::lock_guard<std::mutex> locker(bus.mutex);
    log("claim");
    if (failClaim > 0) {
        --failClaim;
        return LIBUSB_ERROR_BUSY;
    }
    return interfaceNumber == 0 ? 0 : LIBUSB_ERROR_NOT_FOUND;
}

int LIBUSB_CALL libusb_release_interface(libusb_device_handle *, int)
{
    std::lock_guard<std::mutex> locker(bus.mutex);
    log("release");
    return 0;
}

int LIBUSB_CALL libusb_set_configuration(libusb_device_handle *, int configuration)
{
    std::lock_guard<std::mutex> locker(bus.mutex);
    log("set_configuration");
    return configuration == 1 ? 0 : LIBUSB_ERROR_NOT_FOUND;
}

libusb_device *LIBUSB_CALL libusb_get_device(libusb_device_handle *)
{
    return &pod;
}

int LIBUSB_CALL libusb_get_device_descriptor(libusb_device *device,
                                             struct libusb_device_descriptor *descriptor)
{
    std::lock_guard<std::mutex> locker(bus.mutex);
    log("get_device_descriptor");
    if (device != &pod)
        return LIBUSB_ERROR_INVALID_PARAM;
    std::memset(descriptor, 0, sizeof(*descriptor));
    descriptor->idVendor = 0x0779;
    descriptor->idProduct = 0x0429;
    return 0;
}

int LIBUSB_CALL libusb_bulk_transfer(libusb_device_handle *handle, unsigned char endpoint,
                                     unsigned char *data, int length, int *transferred,
                                     unsigned int timeout)
{
    std::lock_guard<std::mutex> locker(bus.mutex);
    log(endpoint == 0x01 ? "out" : "in");
    *transferred = 0;
    lastTimeout = timeout;
    if (!handles.count(handle) || !handle->context->alive) {
        ++staleUses;
        return LIBUSB_ERROR_NO_DEVICE;
    }
    if (!bus.begin())
        return LIBUSB_ERROR_NO_DEVICE;
    if (failNextCount > 0) {
        --failNextCount;
        return failNext;
    }
    if (endpoint == 0x01) {
        lastOut.assign(data, data + length);
        if (length == 64)
            answer(data);
    } else if (endpoint == 0x81) {
        std::memcpy(data, reply, size_t(std::min(length, 64)));
    } else {
        return LIBUSB_ERROR_INVALID_PARAM;
    }
    *transferred = bus.moved(std::min(length, 64));
    return 0;
}

FAKE_BUS_CONTROLS(fake_usb, bus, reset)

// The next count transfers fail with the libusb error code.
FAKE_EXPORT void fake_usb_fail_transfers(int code, int count)
{
    std::lock_guard<std::mutex> locker(bus.mutex);
    failNext = code;
    failNextCount = count;
}

// The next reply carries this code and status (-1 leaves either as the pod
// would answer).
FAKE_EXPORT void fake_usb_script_reply(int code, int status)
{
    std::lock_guard<std::mutex> locker(bus.mutex);
    replyCode = code;
    replyStatus = status;
}

FAKE_EXPORT void fake_usb_fail_claims(int count)
{
    std::lock_guard<std::mutex> locker(bus.mutex);
    failClaim = count;
}

// The calls made since the last take, comma-separated.
FAKE_EXPORT int fake_usb_take_calls(char *buffer, int size)
{
    std::lock_guard<std::mutex> locker(bus.mutex);
    std::string joined;
    for (const std::string &call : calls)
        joined += (joined.empty() ? "" : ",") + call;
    calls.clear();
    std::strncpy(buffer, joined.c_str(), size_t(size));
    buffer[size - 1] = '\0';
    return int(joined.size());
}

FAKE_EXPORT int fake_usb_last_out(unsigned char *buffer, int size)
{
    std::lock_guard<std::mutex> locker(bus.mutex);
    const int n = std::min(size, int(lastOut.size()));
    if (n > 0)
        std::memcpy(buffer, lastOut.data(), size_t(n));
    return int(lastOut.size());
}

FAKE_EXPORT int fake_usb_open_handles()
{
    std::lock_guard<std::mutex> locker(bus.mutex);
    return int(handles.size());
}

FAKE_EXPORT int fake_usb_stale_uses()
{
    std::lock_guard<std::mutex> locker(bus.mutex);
    return staleUses;
}

FAKE_EXPORT int fake_usb_log_level()
{
    std::lock_guard<std::mutex> locker(bus.mutex);
    return logLevel;
}

FAKE_EXPORT unsigned int fake_usb_last_timeout()
{
    std::lock_guard<std::mutex> locker(bus.mutex);
    return lastTimeout;
}

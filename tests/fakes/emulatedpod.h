#pragma once

// The pod as the kernel shows it to libusb: a USB device in an emulated sysfs
// and a usbfs node whose ioctls are answered here, with the bvr60600 of
// fakebus.h behind it. The real libusb runs on top, so its enumeration,
// descriptor parsing, claiming and URB handling judge the adapter's calls.
//
// Needs the process to run under umockdev's preload library (LD_PRELOAD
// libumockdev-preload.so.0, as umockdev-wrapper does), and one EmulatedPod to
// exist before the first libusb context is made.

#include "fakebus.h"

#include <QByteArray>
#include <QString>

#include <deque>
#include <memory>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;

class EmulatedPod
{
public:
    // What the pod does with the next request.
    enum class Fault {
        None,
        RefusesRequest, // never takes the request: the OUT transfer times out
        Silent,         // takes it and never answers: the IN transfer times out
        LateReply,      // answers only after the host stopped waiting
        Stall,          // halts the OUT endpoint
        StuckStall,     // halts the OUT endpoint and refuses to clear it until replugged
        IoError,        // the OUT transfer fails on the wire
    };

    EmulatedPod();
    ~EmulatedPod();

    EmulatedPod(const EmulatedPod &) = delete;
    EmulatedPod &operator=(const EmulatedPod &) = delete;

    // Is this process running under umockdev's preload library?
    static bool available();

    // Plugs the pod into port 2 of bus 1, every time at a new address as the
    // kernel gives it. The host left it in this configuration (0: none),
    // with this kernel driver (none when empty) bound to interface 0.
    void plug(int configuration = 1, const QByteArray &kernelDriver = QByteArray());
    // Pulls it out: pending transfers end, usbfs answers "no device", and
    // the device leaves sysfs with a remove event.
    void unplug();
    // The pod vanishes once this many more transfers have been made.
    void unplugAfter(int transfers);

    void script(Fault fault);

    // Opens of the pod's usbfs node since it was plugged in.
    int opens();
    // Open usbfs files on the pod that have not been closed.
    int openFiles();
    // Transfers made on the pod so far, each direction counted.
    int transfers();
    // The last request frame the pod took.
    QByteArray lastRequest();
    // Is interface 0 held by its kernel driver?
    bool kernelDriverBound();
    int chipRegister(int reg);

private:
    struct Urb
    {
        UMockdevIoctlClient *client = nullptr;
        UMockdevIoctlData *urb = nullptr;
        UMockdevIoctlData *buffer = nullptr;
        unsigned char endpoint = 0;
        int length = 0;
    };
    struct Plug;

    static int handleIoctl(UMockdevIoctlBase *handler, UMockdevIoctlClient *client, Plug *plug);
    static void clientConnected(UMockdevIoctlBase *handler, UMockdevIoctlClient *client, Plug *plug);

    // usbfs, as drivers/usb/core/devio.c implements it. Each returns the
    // ioctl's result, or -errno.
    long ioctl(UMockdevIoctlClient *client, unsigned long request, UMockdevIoctlData *arg);
    long submit(UMockdevIoctlClient *client, UMockdevIoctlData *arg);
    long reap(UMockdevIoctlClient *client, UMockdevIoctlData *arg, bool connected);
    long discard(UMockdevIoctlClient *client, UMockdevIoctlData *arg);
    long claim(UMockdevIoctlClient *client, unsigned int interface);
    long setConfiguration(unsigned int configuration);

    void take(const unsigned char *request);
    void answerPending();
    void complete(Urb urb, int status, int actual);
    void disconnect();
    void forgetClosedFiles();

    FakeBus m_bus;
    UMockdevTestbed *m_testbed = nullptr;
    std::vector<std::unique_ptr<Plug>> m_plugs;
    int m_address = 1;

    // All below under m_bus.mutex: the testbed answers ioctls in a thread of
    // its own.
    QString m_sysfsPath;
    bool m_present = false;
    int m_generation = 0;
    int m_configuration = 1;
    QByteArray m_boundDriver;   // the kernel driver holding interface 0 now
    QByteArray m_kernelDriver;  // the one that binds to it when it is free
    UMockdevIoctlClient *m_claimedBy = nullptr;
    bool m_halted[2] = {};      // OUT, IN
    bool m_haltStuck = false;   // clearing a halt fails
    int m_opens = 0;
    std::vector<UMockdevIoctlClient *> m_clients;   // usbfs files opened on the pod
    Fault m_fault = Fault::None;
    QByteArray m_lastRequest;
    std::deque<std::vector<unsigned char>> m_replies; // waiting on the IN endpoint
    std::vector<unsigned char> m_lateReply;
    std::vector<Urb> m_pending;                      // submitted, not completed
    std::vector<Urb> m_completed;                    // completed, not reaped
};

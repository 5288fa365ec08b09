#pragma once

// A scriptable adapter for tests and benchmarks: it records every transfer
// and answers from a small register image, or fails as it is told.

#include "dongles/donglebase.h"
#include "dongles/donglemgr.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

#include <atomic>
#include <memory>
#include <mutex>

struct TestDongleBehaviour
{
    bool fail = false;             // transfers return false
    QString errorText;             // transfers put this into err
    QString statusText;            // isDisconnected puts this into err
    bool reportDisconnected = false;
    bool deliversToRegValue = false; // behaves like a one-byte adapter
    int failPacketIndex = -1;      // packet transfers fail from this call on
    QList<unsigned short> present; // slaves that answer; empty: every address
};

class TestDongle : public Dongles::DongleBase
{
public:
    struct Call
    {
        QString op;
        unsigned short address = 0;
        QByteArray regAddr;
        QByteArray command;
        QByteArray payload; // buffer or packet as handed to the adapter
        unsigned char flags = 0;
        int retries = 0;
    };

    static std::shared_ptr<TestDongle> make(const char *id, const char *description = "test")
    {
        Dongles::SDongle identity;
        copyText(identity.id, sizeof(identity.id), id);
        copyText(identity.description, sizeof(identity.description), description);
        return std::make_shared<TestDongle>(identity);
    }

    explicit TestDongle(const Dongles::SDongle &identity)
        : DongleBase(identity)
    {
    }

    bool canReuse() override { return reuse; }
    bool isDisconnected(QString &err, bool ok) const override
    {
        const TestDongleBehaviour b = behaviour();
        if (!b.statusText.isEmpty())
            err = b.statusText;
        return b.reportDisconnected || !ok;
    }

    bool hwReadPacket(QString &err, unsigned short address, const QByteArray &regAddr,
                      QByteArray &data) override
    {
        const TestDongleBehaviour b = behaviour();
        const int index = record({ QStringLiteral("readPacket"), address, regAddr, {}, data });
        if (failsPacket(b, index, err))
            return false;
        data = packetReply.isEmpty() ? QByteArray(data.size(), 'x') : packetReply;
        return true;
    }
    bool hwWritePacket(QString &err, unsigned short address, const QByteArray &regAddr,
                       const QByteArray &command, const QByteArray &data) override
    {
        const TestDongleBehaviour b = behaviour();
        const int index = record({ QStringLiteral("writePacket"), address, regAddr, command, data });
        return !failsPacket(b, index, err);
    }
    bool hwReadRegister(QString &err, unsigned short address, const QByteArray &regAddr,
                        QByteArray &regValue, QByteArray &buffer, unsigned char flags) override
    {
        const TestDongleBehaviour b = behaviour();
        record({ QStringLiteral("readRegister"), address, regAddr, {}, buffer, flags });
        if (!b.errorText.isEmpty())
            err = b.errorText;
        if (b.fail || !b.errorText.isEmpty() || !(b.present.isEmpty() || b.present.contains(address)))
            return false;
        const QByteArray wire = wireImage.value(regAddr);
        if (b.deliversToRegValue) {
            if (!regValue.isEmpty())
                regValue[0] = wire.isEmpty() ? '\0' : wire.at(0);
        } else {
            for (int i = 0; i < buffer.size(); ++i)
                buffer[i] = i < wire.size() ? wire.at(i) : '\0';
        }
        return true;
    }
    bool hwWriteRegister(QString &err, unsigned short address, const QByteArray &regAddr,
                         const QByteArray &regValue, const QByteArray &buffer,
                         unsigned char flags) override
    {
        Q_UNUSED(regValue);
        const TestDongleBehaviour b = behaviour();
        record({ QStringLiteral("writeRegister"), address, regAddr, {}, buffer, flags });
        if (!b.errorText.isEmpty())
            err = b.errorText;
        return !(b.fail || !b.errorText.isEmpty());
    }
    void close() override { ++closes; }
    bool deliversToRegValue() const override { return behaviour().deliversToRegValue; }

    // Thread-safe accessors: tests set and read these from the main thread
    // while the worker thread transfers.
    void setBehaviour(const TestDongleBehaviour &b)
    {
        std::lock_guard<std::mutex> locker(m_mutex);
        m_behaviour = b;
    }
    TestDongleBehaviour behaviour() const
    {
        std::lock_guard<std::mutex> locker(m_mutex);
        return m_behaviour;
    }
    QList<Call> calls() const
    {
        std::lock_guard<std::mutex> locker(m_mutex);
        return m_calls;
    }
    void clearCalls()
    {
        std::lock_guard<std::mutex> locker(m_mutex);
        m_calls.clear();
    }

    // Bytes as they appear on the wire (least significant first), by register
    // address; set before the worker thread reads them.
    QMap<QByteArray, QByteArray> wireImage;
    QByteArray packetReply;
    bool reuse = false;
    std::atomic<int> closes { 0 };

private:
    int record(Call call)
    {
        std::lock_guard<std::mutex> locker(m_mutex);
        call.retries = retries();
        m_calls.append(call);
        int packets = 0;
        for (const Call &c : m_calls)
            packets += c.op.endsWith(QLatin1String("Packet"));
        return packets - 1;
    }
    static bool failsPacket(const TestDongleBehaviour &b, int index, QString &err)
    {
        const bool failing = b.fail || (b.failPacketIndex >= 0 && index >= b.failPacketIndex);
        if (failing && !b.errorText.isEmpty())
            err = b.errorText;
        return failing;
    }

    mutable std::mutex m_mutex;
    TestDongleBehaviour m_behaviour;
    QList<Call> m_calls;
};

// A scan function that returns whatever the test puts in its list.
struct TestScan
{
    std::shared_ptr<QList<std::shared_ptr<TestDongle>>> found =
        std::make_shared<QList<std::shared_ptr<TestDongle>>>();
    Dongles::DongleList operator()(const Dongles::DongleMgr &) const
    {
        Dongles::DongleList list;
        for (const auto &d : *found)
            list.append(d);
        return list;
    }
};

#pragma once

// What the adapter tests share: the controls of a fake vendor library and a
// few steps through the I2C service.

#include "i2c/i2csvc.h"

#include <QLibrary>
#include <QSignalSpy>
#include <QtTest>

// Bytes a control hands out through (buffer, size), such as the last bytes
// written to the bus.
inline QByteArray fetchBytes(int (*control)(unsigned char *, int))
{
    QByteArray buffer(1024, '\0');
    const int size = control(reinterpret_cast<unsigned char *>(buffer.data()), int(buffer.size()));
    buffer.truncate(qMin(size, int(buffer.size())));
    return buffer;
}

// The controls a fake exports next to the vendor calls. The file is the one
// the adapter loads, so both see the same state.
class FakeLibrary
{
public:
    explicit FakeLibrary(const QString &path)
        : m_library(path)
    {
        if (!m_library.load())
            qFatal("cannot load the fake library: %s", qPrintable(m_library.errorString()));
    }

    template<typename Fn>
    Fn resolve(const char *name)
    {
        const auto fn = reinterpret_cast<Fn>(m_library.resolve(name));
        if (!fn)
            qFatal("the fake library lacks %s", name);
        return fn;
    }

    template<typename R = void, typename... Args>
    R call(const char *name, Args... args)
    {
        return resolve<R (*)(Args...)>(name)(args...);
    }

    QByteArray bytes(const char *name)
    {
        return fetchBytes(resolve<int (*)(unsigned char *, int)>(name));
    }

private:
    QLibrary m_library;
};

namespace AdapterTest {

// Runs a rescan and returns once the worker has done it: an empty script
// queued behind it is the barrier.
inline void rescan(I2cSvc *svc)
{
    emit svc->doScanForDongles();
    QString err;
    svc->waitRunScript(QString(), {}, err);
}

// The adapter ids announced while fn runs, each as "id=description".
template<typename Fn>
QStringList announced(I2cSvc *svc, void (I2cSvc::*signal)(const QString &, const QString &), Fn fn)
{
    QSignalSpy spy(svc, signal);
    fn();
    QStringList ids;
    for (const QList<QVariant> &args : spy)
        ids << args.at(0).toString() + QLatin1Char('=') + args.at(1).toString();
    ids.sort();
    return ids;
}

// The DATs a slave scan for bvr60600 chips announces.
inline QStringList scanForChips(I2cSvc *svc, const QString &dongleId,
                                const QList<unsigned char> &addresses = {})
{
    QSignalSpy added(svc, &I2cSvc::eventSlaveAdded);
    emit svc->doScanForSlaves(dongleId, ScanInstruction{ { QStringLiteral("bvr60600"), addresses } });
    QString err;
    svc->waitRunScript(QString(), {}, err);
    QStringList dats;
    for (const QList<QVariant> &args : added)
        dats << args.at(0).toString();
    return dats;
}

inline QByteArray readRegister(I2cSvc *svc, const QString &dat, const QByteArray &regAddr,
                               int size, QString &err)
{
    QByteArray value;
    svc->waitReadRegister(dat, regAddr, static_cast<signed char>(size), value, err);
    return value;
}

} // namespace AdapterTest

#pragma once

#include "panelcore_global.h"

#include <QByteArray>
#include <QString>

// The four low-level transfers, served by the worker for real adapters and
// by simulated slaves. Byte strings are most significant byte first. err is
// normally empty on entry and holds a readable message after a failure;
// requests judge success by err, bus probes by the returned flag.
class PANELCORE_EXPORT II2cOperations
{
public:
    virtual ~II2cOperations() = default;

    virtual bool hwReadPacket(QString &err, const QString &dat, const QByteArray &regAddr,
                              QByteArray &data) = 0;
    virtual bool hwWritePacket(QString &err, const QString &dat, const QByteArray &regAddr,
                               const QByteArray &command, const QByteArray &data) = 0;
    // flags bit 0: block mode, a one-byte count precedes the value on the wire.
    virtual bool hwReadRegister(QString &err, const QString &dat, const QByteArray &regAddr,
                                QByteArray &regValue, unsigned char flags) = 0;
    virtual bool hwWriteRegister(QString &err, const QString &dat, const QByteArray &regAddr,
                                 const QByteArray &regValue, unsigned char flags) = 0;
};

#pragma once

#include "i2c/ii2coperations.h"
#include "models/registers.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <memory>

// A simulated I2C slave: answers the four low-level transfers from its own
// register image, so everything above the worker runs without hardware. It
// lives in the worker thread, where its timers fire too.
class PANELCORE_EXPORT VSlave : public QObject, public II2cOperations
{
    Q_OBJECT

public:
    explicit VSlave(const QString &dat);
    ~VSlave() override;

    virtual QString myType() const = 0;
    // Loads the power-on image; families override it.
    virtual void init();

    QString dat() const { return m_dat; }
    Registers &registers() { return *m_registers; }

    bool hwReadPacket(QString &err, const QString &dat, const QByteArray &regAddr,
                      QByteArray &data) override;
    bool hwWritePacket(QString &err, const QString &dat, const QByteArray &regAddr,
                       const QByteArray &command, const QByteArray &data) override;
    bool hwReadRegister(QString &err, const QString &dat, const QByteArray &regAddr,
                        QByteArray &regValue, unsigned char flags) override;
    bool hwWriteRegister(QString &err, const QString &dat, const QByteArray &regAddr,
                         const QByteArray &regValue, unsigned char flags) override;

protected:
    // Called every 500 ms, for chips whose state changes over time.
    virtual void periodic();
    // A family installs its own store, which knows its register names.
    void setRegisters(std::unique_ptr<Registers> registers);
    qint64 elapsedMs() const { return m_elapsed.elapsed(); }

private:
    QString m_dat;
    std::unique_ptr<Registers> m_registers;
    QElapsedTimer m_elapsed;
    QTimer m_periodic;
};

#pragma once

#include "devices/devicetypes.h"
#include "i2c/i2ctypes.h"
#include "models/registers.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <memory>

// The program's object for one chip at one bus position, named by its DAT.
// It keeps the chip's register image up to date from every I2C completion
// that concerns its own DAT, re-publishes those completions as named data
// events, and declares the chip-specific script producers, tasks and state
// conversions that a device family fills in. Lives on the main thread only.
class PANELCORE_EXPORT Device : public QObject
{
    Q_OBJECT

public:
    explicit Device(const QString &dat);
    // Pure so that only a family's device is ever made.
    ~Device() override = 0;

    QString dat() const { return m_dat; }
    // For the manager renaming a device; nothing is emitted.
    void setDat(const QString &dat);
    // Step-by-step logging is only wanted while the user drives the chip
    // explicitly, not when every edit is written at once.
    bool verboseMode() const;
    // Expands "$CTX$", "$DAT$" and the family's names (register names to
    // addresses) in place; true when at least one line remains.
    bool replaceScriptPlaceholders(const QString &ctx, QStringList &script);

    // The register image as last seen on the chip.
    const Registers &registers() const { return *m_registers; }

    virtual QString myType() const = 0;
    // Appends one monitor event as a CSV line to the device's export file,
    // starting the file (with a header line) on the first event.
    virtual void exportMonitorEvent(const QString &speed, const QVariantMap &vmap);
    virtual QVariantMap getMonitorEvent(const QString &speed);
    virtual QVariantMap getFunctionEvent(const QString &name);
    virtual QStringList getMonitorScript(const QString &speed);
    virtual QStringList getReadConfigurationScript();
    virtual QStringList getWriteConfigurationScript();
    virtual QStringList getFunctionScript(const QString &name, const QVariantMap &params);
    virtual QVariantMap task(const QString &name, const QVariantMap &params);
    virtual QMap<QString, QString> getScriptReplacements();
    virtual void setState(const DeviceState &state);
    virtual DeviceState getState();

public slots:
    // Every device sees every completion of the I2C service and keeps only
    // those for its own DAT.
    void doneReadRegister(const QString &err, const QString &ctx, const QString &dat,
                          const QByteArray &regAddr, const QByteArray &regValue);
    void doneWriteRegister(const QString &err, const QString &ctx, const QString &dat,
                           const QByteArray &regAddr, const QByteArray &regValue);
    void doneReadBulk(const QString &err, const QString &ctx, const QString &dat,
                      const QByteArray &regAddr, const QByteArray &command, const QByteArray &data);
    void doneWriteBulk(const QString &err, const QString &ctx, const QString &dat,
                       const QByteArray &regAddr, const QByteArray &command, const QByteArray &data);
    void donePmbusCommands(const QString &err, const QString &ctx, const QString &dat,
                           const QList<PmbusCommand> &commands);

    // Switching export off closes the file; the next event starts a new one.
    void onExportEnabledChanged(bool enabled);

signals:
    void eventBulkDataRead(const QString &err, const QString &dat, const QString &name,
                           const QByteArray &value);
    void eventBulkDataWrite(const QString &err, const QString &dat, const QString &name,
                            const QByteArray &value);
    void eventRegDataRead(const QString &err, const QString &dat, const QString &name,
                          const QByteArray &value);
    void eventRegDataWrite(const QString &err, const QString &dat, const QString &name,
                           const QByteArray &value);
    void eventPmbusDataRead(const QString &err, const QString &dat, const QString &name,
                            const QByteArray &value);
    void eventPmbusDataWrite(const QString &err, const QString &dat, const QString &name,
                             const QByteArray &value);

protected:
    Registers &store() { return *m_registers; }
    // A family installs its own store in its constructor; the previous one is
    // deleted. A null store is ignored.
    void setRegisters(std::unique_ptr<Registers> registers);
    // The debug text for a base operation that the family did not provide.
    void logNotImplemented(const QString &signature) const;

private:
    // Whether a completion is this device's; if so and it succeeded, its
    // bytes go into the image under group and key.
    bool keepCompletion(const QString &err, const QString &dat, Registers::Group group,
                        const QByteArray &key, const QByteArray &value);
    QByteArray internalOf(const QByteArray &regAddr) const;
    QString nameOfInternal(const QByteArray &internal) const;
    using DataEvent = void (Device::*)(const QString &, const QString &, const QString &,
                                       const QByteArray &);
    void registerCompletion(DataEvent event, const QString &err, const QString &dat,
                            const QByteArray &regAddr, const QByteArray &regValue);
    void bulkCompletion(DataEvent event, const QString &err, const QString &dat,
                        const QByteArray &regAddr, const QByteArray &command, const QByteArray &data);

    QString m_dat;
    std::unique_ptr<Registers> m_registers;
    std::unique_ptr<QFile> m_exportFile;
};

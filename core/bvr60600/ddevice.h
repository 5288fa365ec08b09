#pragma once

#include "bvr60600/voutcode.h"
#include "devices/device.h"

namespace Bvr60600 {

class DRegisters;

// The device class of the bvr60600 chip: its configuration scripts, its one
// function ("resetCommand"), the register and field views of the register
// pane, and the conversion between the chip's two configuration registers
// and the model state. Scripts name registers; the placeholder replacement
// turns the names into addresses before a script runs.
class PANELCORE_EXPORT DDevice : public Device
{
    Q_OBJECT

public:
    // Output-voltage codes the chip accepts; the codes below are reserved
    // and the ones above are out of range.
    static constexpr unsigned MinVoutCode = VoutCode::minCode;
    static constexpr unsigned MaxVoutCode = VoutCode::maxCode;

    explicit DDevice(const QString &dat);
    ~DDevice() override;

    QString myType() const override;

public slots:
    QVariantMap getFunctionEvent(const QString &name) override;
    QStringList getReadConfigurationScript() override;
    // Writes, then reads back, every register whose target from the last
    // setState differs from what the chip last reported. Registers the
    // device has never seen are left alone until they have been read.
    QStringList getWriteConfigurationScript() override;
    QStringList getFunctionScript(const QString &name, const QVariantMap &params) override;
    // "getRegisterView", "getRegisterFieldView", "getRegisterUpdateScript";
    // every result carries an empty "err".
    QVariantMap task(const QString &name, const QVariantMap &params) override;
    QMap<QString, QString> getScriptReplacements() override;
    // Turns a model state into target register values; nothing is written to
    // the chip until the write configuration script runs.
    void setState(const DeviceState &state) override;
    DeviceState getState() override;

private:
    const DRegisters &map() const;
    QStringList registerView(const QString &filter) const;
    QStringList registerFieldView(const QString &address) const;
    QStringList registerUpdateScript(const QVariantMap &params) const;
    // Replaces the low byte of a register's known value, keeping bits 8-15.
    void storeLowByte(const QString &name, unsigned lowByte);
    unsigned knownValue(const QString &name) const;

    // In immediate mode the state is applied every second: warn about a
    // reserved code once, not once a second, until the code changes.
    int m_warnedReservedCode = -1;
};

} // namespace Bvr60600

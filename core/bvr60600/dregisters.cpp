#include "bvr60600/dregisters.h"

namespace Bvr60600 {

DRegisters::DRegisters()
{
    m_registerNames.insert(R_SOFT_RESET, QStringLiteral("cr_soft_reset"));
    m_registerNames.insert(R_VOUT_REF, QStringLiteral("cr_vout_ref"));
    m_registerNames.insert(R_CONTROL, QStringLiteral("cr_control"));
    m_registerNames.insert(R_MANUFACTURER_ID, QStringLiteral("cr_manufacturer_id"));
    m_registerNames.insert(R_DEVICE_ID, QStringLiteral("cr_device_id"));

    // Lowest bits first; the multi-map hands them back highest first.
    const auto field = [this](const QByteArray &addr, const char *spec) {
        m_fieldSpecifications.insert(addr, QString::fromUtf8(spec));
    };
    field(R_SOFT_RESET, "soft_reset;0;1;w;Write 1 to reset all registers");
    field(R_SOFT_RESET, "reserved0;1;7;r;reserved");
    field(R_VOUT_REF,
          "ref_dac_code;0;7;rw;Sets the target regulation point for VOUT. By default, the bits will "
          "read back as all zeroes. When changing the VOUT target, do not write the Reserved values "
          "(x0-x28), including 00h. If the default VOUT voltage must be written, the device must be "
          "programmed to the non\u2212reserved equivalent value");
    field(R_VOUT_REF, "reserved1;7;1;r;reserved");
    field(R_CONTROL, "reserved2_0;0;2;r;reserved");
    field(R_CONTROL, "i2c_mode_in;2;1;rw;Enabled Forced PWM mode, as long as Pass-Through is not enabled.");
    field(R_CONTROL, "i2c_pt_in;3;1;rw;Enabled Pass-Through mode.");
    field(R_CONTROL, "reserved2_4;4;4;r;reserved");
    field(R_MANUFACTURER_ID, "manufacture_id;0;8;r;Manufacturer ID");
    field(R_DEVICE_ID, "device_id;0;8;r;Device ID");
}

DRegisters::~DRegisters() = default;

QMap<QString, QString> DRegisters::getScriptReplacements() const
{
    QMap<QString, QString> replacements;
    for (auto it = m_registerNames.cbegin(); it != m_registerNames.cend(); ++it)
        replacements.insert(it.value(), QString::fromLatin1(it.key().toHex()));
    return replacements;
}

QString DRegisters::nameFromInternal(const QByteArray &addr) const
{
    return m_registerNames.value(addr);
}

QByteArray DRegisters::addressOf(const QString &name) const
{
    return m_registerNames.key(name);
}

} // namespace Bvr60600

#include "bvr60600/ddevice.h"

#include "bvr60600/dmodel.h"
#include "bvr60600/dregisters.h"
#include "i2c/i2cscript.h"
#include "utils/utils.h"

#include <QDebug>
#include <QRegularExpression>

#include <algorithm>

namespace Bvr60600 {

namespace {

const QString ctxStart = QStringLiteral("$CTX$ start for $DAT$");
const QString ctxEnd = QStringLiteral("$CTX$ end for $DAT$");
const QString vout = QStringLiteral("cr_vout_ref");
const QString control = QStringLiteral("cr_control");

QString comment(const QString &text)
{
    return QString(I2cScript::i2c_comment_f).arg(text);
}

QString readLine(const QString &name)
{
    return QString(I2cScript::i2c_read_reg_f).arg(name).arg(1);
}

QString writeLine(const QString &name, const QString &value)
{
    return QString(I2cScript::i2c_write_reg_f).arg(name, value);
}

// The view entries are JSON objects filled in by text substitution; a quote
// or backslash in a field text must not end the string early.
QString jsonText(QString text)
{
    return text.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('"'), QStringLiteral("\\\""));
}

QString jsonTemplate(const char *withSingleQuotes)
{
    return QString::fromLatin1(withSingleQuotes).replace(QLatin1Char('\''), QLatin1Char('"'));
}

bool isReservedVoutCode(unsigned code)
{
    return VoutCode::isReserved(int(code));
}

} // namespace

DDevice::DDevice(const QString &dat)
    : Device(dat)
{
    setRegisters(std::make_unique<DRegisters>());
}

DDevice::~DDevice() = default;

const DRegisters &DDevice::map() const
{
    // Installed in the constructor and never replaced.
    return static_cast<const DRegisters &>(registers());
}

QString DDevice::myType() const
{
    return type_bvr60600;
}

QVariantMap DDevice::getFunctionEvent(const QString &name)
{
    Q_UNUSED(name);
    return {};
}

QMap<QString, QString> DDevice::getScriptReplacements()
{
    return map().getScriptReplacements();
}

QStringList DDevice::getReadConfigurationScript()
{
    QStringList script{ comment(ctxStart), comment(QStringLiteral("read registers")) };
    for (const QString &name : map().registerNames())
        script << readLine(name);
    script << comment(ctxEnd);
    return script;
}

QStringList DDevice::getWriteConfigurationScript()
{
    const Registers::Store pending = registers().minimumPending(Registers::GroupRegister);
    // Only registers with a name, and only those the chip has reported: a
    // target built on an image that was never read would put the model's
    // defaults on the chip.
    QList<QPair<QByteArray, QString>> targets;
    for (auto it = pending.cbegin(); it != pending.cend(); ++it) {
        QByteArray qualifier;
        const QString name = map().registerNames().value(map().addrToExternal(it.key(), qualifier));
        if (!name.isEmpty() && registers().isStored(Registers::GroupRegister, it.key()))
            targets.append({ it.key(), name });
    }
    if (targets.isEmpty())
        return {};
    std::stable_sort(targets.begin(), targets.end(), [](const auto &a, const auto &b) {
        return a.first.size() != b.first.size() ? a.first.size() < b.first.size() : a.first < b.first;
    });

    QStringList script{ comment(ctxStart), comment(QStringLiteral("Writting register values")) };
    for (const auto &target : std::as_const(targets))
        script << writeLine(target.second, QString::fromLatin1(pending.value(target.first).toHex()));
    script << comment(QStringLiteral("Reading back register values"));
    for (const auto &target : std::as_const(targets))
        script << readLine(target.second);
    script << comment(ctxEnd);
    return script;
}

QStringList DDevice::getFunctionScript(const QString &name, const QVariantMap &params)
{
    Q_UNUSED(params);
    if (name == QLatin1String("resetCommand"))
        return { writeLine(QStringLiteral("00"), QStringLiteral("01")) };
    return {};
}

QVariantMap DDevice::task(const QString &name, const QVariantMap &params)
{
    QVariantMap result{ { QStringLiteral("err"), QString() } };
    if (name.compare(QLatin1String("getRegisterView"), Qt::CaseInsensitive) == 0)
        result.insert(QStringLiteral("data"), registerView(params.value(QStringLiteral("filter")).toString()));
    else if (name.compare(QLatin1String("getRegisterFieldView"), Qt::CaseInsensitive) == 0)
        result.insert(QStringLiteral("data"), registerFieldView(params.value(QStringLiteral("address")).toString()));
    else if (name.compare(QLatin1String("getRegisterUpdateScript"), Qt::CaseInsensitive) == 0)
        result.insert(QStringLiteral("script"), registerUpdateScript(params));
    return result;
}

QStringList DDevice::registerView(const QString &filter) const
{
    QStringList entries;
    const QRegularExpression expression(filter, QRegularExpression::CaseInsensitiveOption);
    if (!expression.isValid())
        return entries;
    const QString entry = jsonTemplate("{'uid':'%1','group':'%2','address':'%3','value':'%4','name':'%5'}");
    const QString group = QStringLiteral("common");
    const auto &names = map().registerNames();
    for (auto it = names.cbegin(); it != names.cend(); ++it) {
        const QString address = Utils::toHexAddress(Utils::uintFromHexBA(it.key()), 2);
        if (!expression.match(group).hasMatch() && !expression.match(it.value()).hasMatch()
            && !expression.match(address).hasMatch())
            continue;
        const unsigned value = registers().uintFromStore(Registers::GroupRegister, it.key());
        entries << entry.arg(it.value(), group, address, Utils::toHexAddress(value, 2), it.value());
    }
    return entries;
}

QStringList DDevice::registerFieldView(const QString &address) const
{
    QByteArray addr = QByteArray::fromHex(address.toLower().remove(QStringLiteral("0x")).toLatin1());
    if (addr.isEmpty())
        addr = QByteArray(1, '\0');

    // A field is "name;start;size;access;description"; there is no reset
    // value, and the description is what the register pane shows. Parts
    // beyond the fifth belong to a description that itself held ";".
    const QString entry = jsonTemplate(
        "{'name':'%1','start':'%2','size':'%3','access':'%4','reset':'%5','description':'%6'}");
    QStringList entries;
    for (QString spec : map().fieldSpecifications().values(addr)) {
        const QStringList parts = spec.replace(QLatin1Char('\t'), QLatin1Char(' ')).split(QLatin1Char(';'));
        const QString description = parts.mid(4).join(QLatin1Char(';'));
        entries << entry.arg(jsonText(parts.value(0)), jsonText(parts.value(1)), jsonText(parts.value(2)),
                             jsonText(parts.value(3)), QString(), jsonText(description));
    }
    return entries;
}

QStringList DDevice::registerUpdateScript(const QVariantMap &params) const
{
    QStringList script{ comment(ctxStart) };
    for (auto it = params.cbegin(); it != params.cend(); ++it) {
        script << writeLine(it.key(), it.value().toString().remove(QStringLiteral("0x")));
        script << readLine(it.key());
    }
    script << comment(ctxEnd);
    return script;
}

unsigned DDevice::knownValue(const QString &name) const
{
    return registers().uintFromStore(Registers::GroupRegister, map().addressOf(name));
}

void DDevice::storeLowByte(const QString &name, unsigned lowByte)
{
    const unsigned value = (knownValue(name) & 0xFF00u) | (lowByte & 0xFFu);
    store().bytesToStore(Registers::GroupRegister, map().addressOf(name), Utils::uintToHexBA(value, 2));
}

void DDevice::setState(const DeviceState &state)
{
    DModel model;
    model.setState(state);

    const Registers::PendingScope pending(store());
    const unsigned code = unsigned(model.voutControl()) & 0x7Fu;
    // The chip must never be given a reserved code; leaving the register out
    // keeps its known value, so no write is made for it.
    if (isReservedVoutCode(code)) {
        if (m_warnedReservedCode != int(code))
            qWarning().noquote() << QStringLiteral("DDevice:setState for %1 leaves %2 unchanged: code %3 is reserved")
                                        .arg(dat(), vout)
                                        .arg(code);
        m_warnedReservedCode = int(code);
    } else {
        m_warnedReservedCode = -1;
        storeLowByte(vout, code);
    }
    storeLowByte(control, (model.passThrough() ? 0x08u : 0u) | (model.forcedPwm() ? 0x04u : 0u));

    if (verboseMode())
        qDebug().noquote() << QStringLiteral("DDevice:setState performed for %1").arg(dat());
}

DeviceState DDevice::getState()
{
    DModel model;
    const unsigned code = knownValue(vout) & 0x7Fu;
    model.setVoutControl(int(code));
    if (isReservedVoutCode(code))
        model.setVoutControl_dirty(QStringLiteral("Reserved value read from device."));
    const unsigned c = knownValue(control);
    model.setAutoPwm((c & 0x0Cu) == 0);
    model.setForcedPwm((c & 0x0Cu) == 0x04u);
    model.setPassThrough((c & 0x08u) != 0);

    if (verboseMode())
        qDebug().noquote() << QStringLiteral("DDevice:getState performed for %1").arg(dat());
    return model.getState();
}

} // namespace Bvr60600

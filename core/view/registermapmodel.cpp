#include "registermapmodel.h"

#include "devices/devicemgr.h"
#include "services/notificationsvc.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace {

// The name the register view's script runs under; its outcome comes back
// with the context "doRunScript,ViewRegister".
const QString scriptName = QStringLiteral("ViewRegister");

// Hex digits with or without "0x"; `ok` is false for anything else.
qint64 parseHex(const QString &text, bool *ok)
{
    static const QRegularExpression hex(QStringLiteral("^(?:0[xX])?([0-9A-Fa-f]+)$"));
    const QRegularExpressionMatch match = hex.match(text.trimmed());
    if (!match.hasMatch()) {
        *ok = false;
        return 0;
    }
    return match.captured(1).toLongLong(ok, 16);
}

} // namespace

RegisterMapModel::RegisterMapModel(QObject *parent)
    : QAbstractListModel(parent)
    , m_fields(this)
{
    DeviceMgr *deviceMgr = DeviceMgr::getInstance();
    connect(deviceMgr, &DeviceMgr::doneRunScript, this, &RegisterMapModel::onDoneRunScript);
    connect(deviceMgr, &DeviceMgr::currentDatChanged, this, &RegisterMapModel::onCurrentDatChanged);
    connect(deviceMgr, &DeviceMgr::doneTask, this, &RegisterMapModel::onDoneTask);
}

int RegisterMapModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_registers.size());
}

QVariant RegisterMapModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= m_registers.size())
        return {};
    const Register &reg = m_registers.at(index.row());
    switch (role) {
    case UidRole:
        return reg.uid;
    case AddressRole:
        return reg.address;
    case NameRole:
        return reg.name;
    case GroupRole:
        return reg.group;
    case SizeRole:
        return reg.size;
    case DeviceValueRole:
        return reg.value;
    case ValueRole:
        return shownValue(reg);
    case ValueTextRole:
        return hexText(shownValue(reg), reg.size);
    case PendingRole:
        return m_pending.contains(reg.uid);
    default:
        return {};
    }
}

QHash<int, QByteArray> RegisterMapModel::roleNames() const
{
    return {
        {UidRole, QByteArrayLiteral("uid")},
        {AddressRole, QByteArrayLiteral("address")},
        {NameRole, QByteArrayLiteral("name")},
        {GroupRole, QByteArrayLiteral("group")},
        {SizeRole, QByteArrayLiteral("size")},
        {DeviceValueRole, QByteArrayLiteral("deviceValue")},
        {ValueRole, QByteArrayLiteral("value")},
        {ValueTextRole, QByteArrayLiteral("valueText")},
        {PendingRole, QByteArrayLiteral("pending")},
    };
}

void RegisterMapModel::setActive(bool active)
{
    if (m_active == active)
        return;
    m_active = active;
    emit activeChanged(m_active);
    if (m_active)
        refresh();
}

void RegisterMapModel::setFilter(const QString &filter)
{
    if (m_filter == filter)
        return;
    m_filter = filter;
    emit filterChanged(m_filter);
}

void RegisterMapModel::setRegisterBits(int registerBits)
{
    if (m_registerBits == registerBits)
        return;
    m_registerBits = registerBits;
    emit registerBitsChanged(m_registerBits);
}

void RegisterMapModel::setWriting(bool writing)
{
    if (m_writing == writing)
        return;
    m_writing = writing;
    emit writingChanged(m_writing);
}

QString RegisterMapModel::hexText(qint64 value, int bits)
{
    const int digits = qMax(1, (bits + 3) / 4);
    return QStringLiteral("0x") + QString::number(value, 16).toUpper().rightJustified(digits, QLatin1Char('0'));
}

qint64 RegisterMapModel::shownValue(const Register &reg) const
{
    const auto it = m_pending.constFind(reg.uid);
    if (it == m_pending.constEnd())
        return reg.value;
    bool ok = false;
    const qint64 value = parseHex(it->toString(), &ok);
    return ok ? value : reg.value;
}

int RegisterMapModel::rowOf(const QString &uid) const
{
    if (uid.isEmpty())
        return -1;
    for (int row = 0; row < m_registers.size(); ++row) {
        if (m_registers.at(row).uid == uid)
            return row;
    }
    return -1;
}

const RegisterMapModel::Register *RegisterMapModel::selectedRegister() const
{
    const int row = rowOf(m_selectedUid);
    return row < 0 ? nullptr : &m_registers.at(row);
}

QString RegisterMapModel::selectedAddress() const
{
    const Register *reg = selectedRegister();
    return reg ? reg->address : QString();
}

QString RegisterMapModel::selectedName() const
{
    const Register *reg = selectedRegister();
    return reg ? reg->name : QString();
}

int RegisterMapModel::selectedSize() const
{
    const Register *reg = selectedRegister();
    return reg ? reg->size : m_registerBits;
}

qint64 RegisterMapModel::selectedWritableMask() const
{
    return qint64(m_fields.writableMask(selectedSize()));
}

qint64 RegisterMapModel::selectedDeviceValue() const
{
    const Register *reg = selectedRegister();
    return reg ? reg->value : 0;
}

qint64 RegisterMapModel::selectedValue() const
{
    const Register *reg = selectedRegister();
    return reg ? shownValue(*reg) : 0;
}

void RegisterMapModel::refresh()
{
    const QVariantMap result = DeviceMgr::getInstance()->task(
        QString(), QStringLiteral("getRegisterView"), {{QStringLiteral("filter"), m_filter}});
    setRegisterView(result.value(QStringLiteral("data")).toStringList());
}

void RegisterMapModel::setRegisterView(const QStringList &entries)
{
    QList<Register> registers;
    for (const QString &text : entries) {
        const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
        if (!document.isObject()) {
            qDebug().noquote() << QStringLiteral("ViewRegister: skipping a register entry that is not JSON: ") + text;
            continue;
        }
        const QJsonObject entry = document.object();
        Register reg;
        reg.uid = entry.value(QLatin1String("uid")).toVariant().toString();
        reg.address = entry.value(QLatin1String("address")).toVariant().toString();
        reg.name = entry.value(QLatin1String("name")).toVariant().toString();
        reg.group = entry.value(QLatin1String("group")).toVariant().toString();
        bool ok = false;
        const int size = RegisterFieldModel::leadingInt(entry.value(QLatin1String("size")), &ok);
        reg.size = ok && size > 0 ? size : m_registerBits;
        // A value the chip never gave reads as 0.
        reg.value = parseHex(entry.value(QLatin1String("value")).toVariant().toString(), &ok);
        registers.append(reg);
    }

    bool sameRows = registers.size() == m_registers.size();
    for (int row = 0; sameRows && row < registers.size(); ++row)
        sameRows = registers.at(row).uid == m_registers.at(row).uid;
    if (sameRows) {
        m_registers = registers;
        if (!m_registers.isEmpty())
            emit dataChanged(index(0), index(int(m_registers.size()) - 1));
    } else {
        beginResetModel();
        m_registers = registers;
        endResetModel();
    }

    if (rowOf(m_selectedUid) < 0) {
        select(QString());
    } else {
        loadFields();
        emit selectionChanged();
        emit selectedValueChanged();
    }
}

void RegisterMapModel::select(const QString &uid)
{
    const QString selected = rowOf(uid) < 0 ? QString() : uid;
    const bool changed = selected != m_selectedUid;
    m_selectedUid = selected;
    loadFields();
    if (changed || !selected.isEmpty()) {
        emit selectionChanged();
        emit selectedValueChanged();
    }
}

void RegisterMapModel::loadFields()
{
    const Register *reg = selectedRegister();
    if (!reg) {
        m_fields.clear();
        return;
    }
    const QVariantMap result = DeviceMgr::getInstance()->task(
        QString(), QStringLiteral("getRegisterFieldView"), {{QStringLiteral("address"), reg->address}});
    m_fields.setFieldView(result.value(QStringLiteral("data")).toStringList());
}

void RegisterMapModel::setPendingMap(const QVariantMap &pending)
{
    if (pending == m_pending)
        return;
    m_pending = pending;
    if (!m_registers.isEmpty())
        emit dataChanged(index(0), index(int(m_registers.size()) - 1),
                         {ValueRole, ValueTextRole, PendingRole});
    emit pendingChanged();
    emit selectedValueChanged();
}

void RegisterMapModel::setPendingValue(const QString &uid, qint64 value)
{
    const int row = rowOf(uid);
    QVariantMap next = m_pending;
    if (row < 0 || value == m_registers.at(row).value)
        next.remove(uid);
    else
        next.insert(uid, hexText(value, m_registers.at(row).size));
    setPendingMap(next);
}

void RegisterMapModel::setSelectedValue(qint64 value)
{
    setPendingValue(m_selectedUid, value);
}

bool RegisterMapModel::setSelectedText(const QString &text)
{
    const Register *reg = selectedRegister();
    if (!reg)
        return false;
    bool ok = false;
    const qint64 typed = parseHex(text, &ok);
    if (!ok || ((typed ^ shownValue(*reg)) & ~selectedWritableMask()) != 0)
        return false;
    setPendingValue(reg->uid, typed);
    return true;
}

void RegisterMapModel::toggleSelectedBit(int bit)
{
    const Register *reg = selectedRegister();
    if (!reg || bit < 0 || bit >= 63 || !((selectedWritableMask() >> bit) & 1))
        return;
    setPendingValue(reg->uid, shownValue(*reg) ^ (qint64(1) << bit));
}

void RegisterMapModel::discardSelected()
{
    setPendingValue(m_selectedUid, selectedDeviceValue());
}

void RegisterMapModel::clearPending()
{
    setPendingMap(QVariantMap());
}

QStringList RegisterMapModel::updateScript() const
{
    return DeviceMgr::getInstance()
        ->task(QString(), QStringLiteral("getRegisterUpdateScript"), m_pending)
        .value(QStringLiteral("script"))
        .toStringList();
}

void RegisterMapModel::writeChanges()
{
    if (m_pending.isEmpty() || m_writing)
        return;
    setWriting(true);
    DeviceMgr::getInstance()->doRunScript(QString(), scriptName, updateScript());
}

void RegisterMapModel::onDoneRunScript(const QString &err, const QString &ctx, const QString &dat)
{
    if (ctx.section(QLatin1Char(','), 1, 1) != scriptName || dat != DeviceMgr::getInstance()->currentDat())
        return;
    setWriting(false);
    NotificationSvc *notifications = NotificationSvc::getInstance();
    if (err.isEmpty())
        notifications->createNotification(tr("The script executed successfully."), Notification::Information);
    else
        notifications->createNotification(tr("Error while executing script: ") + err, Notification::Error);
    emit written(err);
    clearPending();
    if (m_active)
        refresh();
}

void RegisterMapModel::onCurrentDatChanged()
{
    setWriting(false);
    clearPending();
    select(QString());
    if (m_active)
        refresh();
}

void RegisterMapModel::onDoneTask(const QString &err, const QString &ctx, const QString &dat)
{
    Q_UNUSED(dat)
    if (err.isEmpty() && ctx.endsWith(QLatin1String("importRegisterFile")) && m_active)
        refresh();
}

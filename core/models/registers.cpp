#include "registers.h"

#include "utils/utils.h"

#include <QDebug>

namespace {

// The keys of one group sit together in key order, starting at the bare
// group byte; walking from there avoids visiting the other groups.
template<typename Visit>
void forEachInGroup(const Registers::Store &store, Registers::Group group, Visit visit)
{
    const char groupByte = static_cast<char>(group);
    for (auto it = store.lowerBound(QByteArray(1, groupByte)); it != store.cend() && it.key().at(0) == groupByte;
         ++it)
        visit(it.key().mid(1), it.value(), it.key());
}

} // namespace

Registers::PendingScope::PendingScope(Registers &registers)
    : m_registers(registers)
{
    m_registers.setUsingPending(true);
}

Registers::PendingScope::~PendingScope()
{
    m_registers.setUsingPending(false);
}

Registers::Registers() = default;

Registers::~Registers() = default;

void Registers::resetData()
{
    m_normal.clear();
    m_pending.clear();
}

QMap<QString, QString> Registers::getScriptReplacements() const
{
    return {};
}

QString Registers::nameFromInternal(const QByteArray &addr) const
{
    return Utils::formatHexBA(addr);
}

QByteArray Registers::addrToInternal(const QByteArray &addr, const QByteArray &qualifier) const
{
    Q_UNUSED(qualifier);
    return addr;
}

QByteArray Registers::addrToExternal(const QByteArray &internal, QByteArray &qualifier) const
{
    Q_UNUSED(qualifier);
    return internal;
}

void Registers::setIgnoreEmptyKeys(bool on)
{
    m_ignoreEmptyKeys = on;
}

void Registers::setUsingPending(bool on)
{
    // A shallow copy; the first pending write detaches it from the normal store.
    if (on)
        m_pending = m_normal;
    m_usingPending = on;
}

bool Registers::isStored(Group group, const QByteArray &addr) const
{
    return activeStore().contains(makeKey(group, addr));
}

void Registers::bytesToStore(Group group, const QByteArray &addr, const QByteArray &bytes)
{
    if (addr.isEmpty() && m_ignoreEmptyKeys)
        return;
    activeStore().insert(makeKey(group, addr), bytes);
}

QByteArray Registers::bytesFromStore(Group group, const QByteArray &addr) const
{
    return activeStore().value(makeKey(group, addr));
}

void Registers::uintToStore(Group group, const QByteArray &addr, unsigned int value)
{
    bytesToStore(group, addr, Utils::uintToHexBA(value, 8));
}

unsigned int Registers::uintFromStore(Group group, const QByteArray &addr) const
{
    return Utils::uintFromHexBA(bytesFromStore(group, addr));
}

QList<QByteArray> Registers::internalAddrsStored(Group group) const
{
    QList<QByteArray> addrs;
    forEachInGroup(activeStore(), group,
                   [&addrs](const QByteArray &addr, const QByteArray &, const QByteArray &) { addrs.append(addr); });
    return addrs;
}

void Registers::printStore(const QString &name) const
{
    qDebug().noquote() << QStringLiteral("Registers(%1)::printData for %2 store")
                              .arg(name, m_usingPending ? QStringLiteral("pending") : QStringLiteral("normal"));
    const Store &store = activeStore();
    for (auto it = store.cbegin(); it != store.cend(); ++it)
        qDebug().noquote() << QStringLiteral("%1 = %2").arg(Utils::formatHexBA(it.key()), Utils::formatHexBA(it.value()));
}

Registers::Store Registers::minimumPending(Group group) const
{
    Store writes;
    forEachInGroup(m_pending, group, [this, &writes](const QByteArray &addr, const QByteArray &bytes,
                                                     const QByteArray &key) {
        const auto known = m_normal.constFind(key);
        if (known == m_normal.cend() || known.value() != bytes)
            writes.insert(addr, bytes);
    });
    return writes;
}

QByteArray Registers::makeKey(Group group, const QByteArray &addr)
{
    return QByteArray(1, static_cast<char>(group)) + addr;
}

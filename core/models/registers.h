#pragma once

#include "panelcore_global.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

// What is known about one chip's registers: for every address read from or
// written to the chip, the last bytes seen. A device keeps its image here; a
// virtual slave uses one as the simulated chip's register file. A device
// family derives from it to name addresses and to translate between the
// addresses on the wire (external) and the addresses used as keys (internal).
//
// Every key is a group byte followed by the internal address, so that
// different kinds of data about the same address stay apart. Values are most
// significant byte first.
//
// Besides the normal store there is a pending store. While pending mode is on,
// every accessor works on the pending store, which starts as a copy of the
// normal store; minimumPending() then yields exactly the writes that turn the
// chip's known state into the target state.
//
// Used by one thread at a time; there are no locks.
class PANELCORE_EXPORT Registers
{
public:
    using Group = unsigned char;
    using Store = QMap<QByteArray, QByteArray>;

    // Single-register reads and writes.
    static constexpr Group GroupRegister = 0x00;
    // PMBus command data, keyed by the command code.
    static constexpr Group GroupPmbus = 0x10;
    // Packet transfers, keyed by the command bytes of the transfer.
    static constexpr Group GroupBulk = 0x20;

    // Keeps pending mode on for its lifetime, so that every path out of a
    // pending bracket switches it off again. Brackets do not nest: entering
    // one starts from a fresh copy of the normal store.
    class [[nodiscard]] PendingScope
    {
    public:
        explicit PendingScope(Registers &registers);
        ~PendingScope();
        PendingScope(const PendingScope &) = delete;
        PendingScope &operator=(const PendingScope &) = delete;

    private:
        Registers &m_registers;
    };

    Registers();
    virtual ~Registers();

    // Empties both stores.
    virtual void resetData();
    // Register name -> address text, applied to script lines before they run.
    virtual QMap<QString, QString> getScriptReplacements() const;
    virtual QString nameFromInternal(const QByteArray &addr) const;
    virtual QByteArray addrToInternal(const QByteArray &addr, const QByteArray &qualifier) const;
    // qualifier is left untouched unless a family has something to put there.
    virtual QByteArray addrToExternal(const QByteArray &internal, QByteArray &qualifier) const;

    // When on, writes to an empty address are dropped instead of being kept
    // under the bare group byte.
    void setIgnoreEmptyKeys(bool on);
    // Switching on discards the previous pending store and starts from a copy
    // of the normal store; switching off keeps it for minimumPending().
    void setUsingPending(bool on);
    bool usingPending() const { return m_usingPending; }

    // These work on the active store: the pending one while pending mode is
    // on, the normal one otherwise.
    bool isStored(Group group, const QByteArray &addr) const;
    void bytesToStore(Group group, const QByteArray &addr, const QByteArray &bytes);
    // Empty when the address was never stored.
    QByteArray bytesFromStore(Group group, const QByteArray &addr) const;
    // Always stores four bytes.
    void uintToStore(Group group, const QByteArray &addr, unsigned int value);
    // 0 when absent, empty or wider than 32 bits.
    unsigned int uintFromStore(Group group, const QByteArray &addr) const;
    // Addresses of one group, in key order, without the group byte.
    QList<QByteArray> internalAddrsStored(Group group) const;
    void printStore(const QString &name) const;

    // Address -> bytes of every pending entry of the group that the normal
    // store lacks or holds with different bytes. Reads the pending store
    // whether pending mode is on or not, so it also works after a bracket.
    Store minimumPending(Group group) const;

private:
    static QByteArray makeKey(Group group, const QByteArray &addr);
    const Store &activeStore() const { return m_usingPending ? m_pending : m_normal; }
    Store &activeStore() { return m_usingPending ? m_pending : m_normal; }

    bool m_ignoreEmptyKeys = false;
    bool m_usingPending = false;
    Store m_normal;
    Store m_pending;
};

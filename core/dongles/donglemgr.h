#pragma once

#include "donglebase.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <mutex>

namespace Dongles {

using DonglePtr = std::shared_ptr<DongleBase>;
using DongleList = QList<DonglePtr>;
using DongleMap = QMap<QString, DonglePtr>;

class DongleMgr;
using ScanFn = std::function<DongleList(const DongleMgr &)>;

// Registry of the open adapters, owned by the I2C worker and used from its
// thread. The map is guarded because scans and requests both reach it.
class PANELCORE_EXPORT DongleMgr
{
public:
    explicit DongleMgr(bool defaultUnderEmptyId);
    ~DongleMgr();

    DongleMgr(const DongleMgr &) = delete;
    DongleMgr &operator=(const DongleMgr &) = delete;

    // The most recently constructed registry.
    static DongleMgr *GetInstance();

    void registerScanFn(ScanFn fn);

    // Adapters found now: every scan function in type-id order.
    DongleList hwScan() const;
    void doScanForDongles(DongleMap &added, DongleMap &removed, const QStringList &virtualIds);

    [[nodiscard]] DonglePtr getDongle(const QString &id, QString &err) const;
    void addDongle(const DonglePtr &dongle);
    void changeDongleId(const QString &oldId, const QString &newId);
    // Forgets an adapter found gone, under every id it is filed (the
    // default slot too); returns those ids.
    QStringList removeDongle(const DonglePtr &dongle);
    void doShutdown(const std::function<void(const QString &id, const DonglePtr &)> &fn);

    bool defaultUnderEmptyId() const { return m_defaultUnderEmptyId; }
    // A snapshot of the map. Not for scan functions: they run under the lock.
    DongleMap dongles() const;
    bool isEmpty() const;

    static unsigned int NextDongleTypeID;

private:
    static DongleMgr *Instance;

    DongleMap m_dongles;
    DonglePtr m_defaultDongle;
    const bool m_defaultUnderEmptyId;
    // A standard mutex rather than Qt's: the sanitizers can see it.
    mutable std::mutex m_lock;
    QMap<unsigned int, ScanFn> m_scanFns;
};

} // namespace Dongles

#include "donglemgr.h"
#include "dummydongle.h"


namespace Dongles {

DongleMgr *DongleMgr::Instance = nullptr;
unsigned int DongleMgr::NextDongleTypeID = 1;

DongleMgr::DongleMgr(bool defaultUnderEmptyId)
    : m_defaultUnderEmptyId(defaultUnderEmptyId)
{
    Instance = this;
}

DongleMgr::~DongleMgr()
{
    if (Instance == this)
        Instance = nullptr;
}

DongleMgr *DongleMgr::GetInstance()
{
    return Instance;
}

void DongleMgr::registerScanFn(ScanFn fn)
{
    m_scanFns.insert(NextDongleTypeID++, std::move(fn));
}

DongleList DongleMgr::hwScan() const
{
    DongleList result;
    for (auto it = m_scanFns.cbegin(); it != m_scanFns.cend(); ++it) {
        const DongleList found = it.value()(*this);
        QStringList foundIds;
        for (const DonglePtr &dongle : found)
            foundIds << dongle->idText();
        // Adapters we hold open vanish from their own enumeration or cannot
        // be opened again: keep those of this kind that still answer, also
        // when the scan found others beside them (a second adapter plugged
        // in must not push the first one out). They come first, so that the
        // default adapter stays the default.
        for (const DonglePtr &dongle : m_dongles) {
            if (dongle->dongleTypeId() == it.key() && !result.contains(dongle)
                && !foundIds.contains(dongle->idText()) && dongle->canReuse())
                result.append(dongle);
        }
        for (const DonglePtr &dongle : found) {
            dongle->setDongleTypeId(it.key());
            result.append(dongle);
        }
    }
    return result;
}

// Whether map still holds the adapter filed under key. The empty id names
// whichever adapter is the default: the entry is the same only while it
// names the same adapter. Every other id is the adapter's own.
static bool holdsSame(const DongleMap &map, const QString &key, const DonglePtr &dongle)
{
    const QString id = dongle->idText();
    if (key.isEmpty()) {
        const DonglePtr other = map.value(key);
        return other && other->idText() == id;
    }
    for (const DonglePtr &other : map) {
        if (other->idText() == id)
            return true;
    }
    return false;
}

void DongleMgr::doScanForDongles(DongleMap &added, DongleMap &removed,
                                 const QStringList &virtualIds)
{
    std::lock_guard<std::mutex> locker(m_lock);

    const DongleMap old = m_dongles;
    const DongleList found = hwScan();
    m_dongles.clear();
    m_defaultDongle.reset();

    if (!found.isEmpty()) {
        m_defaultDongle = found.first();
        if (m_defaultUnderEmptyId)
            m_dongles.insert(QString(), m_defaultDongle);
        for (const DonglePtr &dongle : found)
            m_dongles.insert(dongle->idText(), dongle);
    }

    if (m_dongles.isEmpty()) {
        for (const QString &id : virtualIds)
            m_dongles.insert(id, DummyDongle::Create(id.toLatin1().constData(), nullptr));
    }

    for (auto it = old.cbegin(); it != old.cend(); ++it) {
        if (!holdsSame(m_dongles, it.key(), it.value()))
            removed.insert(it.key(), it.value());
    }
    for (auto it = m_dongles.cbegin(); it != m_dongles.cend(); ++it) {
        if (!holdsSame(old, it.key(), it.value()))
            added.insert(it.key(), it.value());
    }
}

DonglePtr DongleMgr::getDongle(const QString &id, QString &err) const
{
    std::lock_guard<std::mutex> locker(m_lock);
    // With no adapter at all the default id must fail loudly too, or a
    // transfer to nowhere would be reported as a success.
    const DonglePtr dongle = id.isEmpty() ? m_defaultDongle : m_dongles.value(id);
    if (!dongle)
        err = QStringLiteral("Dongle[%1] has been removed or does not exist").arg(id);
    return dongle;
}

void DongleMgr::addDongle(const DonglePtr &dongle)
{
    if (!dongle)
        return;
    std::lock_guard<std::mutex> locker(m_lock);
    m_dongles.insert(dongle->idText(), dongle);
}

void DongleMgr::changeDongleId(const QString &oldId, const QString &newId)
{
    std::lock_guard<std::mutex> locker(m_lock);
    auto it = m_dongles.find(oldId);
    if (it == m_dongles.end())
        return;
    const DonglePtr dongle = it.value();
    m_dongles.erase(it);
    m_dongles.insert(newId, dongle);
}

QStringList DongleMgr::removeDongle(const DonglePtr &dongle)
{
    std::lock_guard<std::mutex> locker(m_lock);
    QStringList ids;
    for (auto it = m_dongles.begin(); it != m_dongles.end();) {
        if (it.value() == dongle) {
            ids << it.key();
            it = m_dongles.erase(it);
        } else {
            ++it;
        }
    }
    if (m_defaultDongle == dongle)
        m_defaultDongle.reset();
    return ids;
}

void DongleMgr::doShutdown(const std::function<void(const QString &, const DonglePtr &)> &fn)
{
    std::lock_guard<std::mutex> locker(m_lock);
    // The default adapter is filed twice (under the empty id too): close it once.
    QList<DongleBase *> closed;
    for (auto it = m_dongles.cbegin(); it != m_dongles.cend(); ++it) {
        if (!closed.contains(it.value().get())) {
            it.value()->close();
            closed.append(it.value().get());
        }
        if (fn)
            fn(it.key(), it.value());
    }
    m_dongles.clear();
}

DongleMap DongleMgr::dongles() const
{
    std::lock_guard<std::mutex> locker(m_lock);
    return m_dongles;
}

bool DongleMgr::isEmpty() const
{
    std::lock_guard<std::mutex> locker(m_lock);
    return m_dongles.isEmpty();
}

} // namespace Dongles

#include "testdongle.h"
#include "testenv.h"

#include "dongles/donglemgr.h"
#include "dongles/donglescanner.h"
#include "dongles/dummydongle.h"

using namespace Dongles;

namespace {

// A registry with two adapter kinds whose scans the test controls.
struct Rig
{
    DongleMgr mgr { true };
    TestScan first;
    TestScan second;
    unsigned int firstType = 0;
    unsigned int secondType = 0;

    Rig()
    {
        firstType = DongleMgr::NextDongleTypeID;
        mgr.registerScanFn(first);
        secondType = DongleMgr::NextDongleTypeID;
        mgr.registerScanFn(second);
    }

    QStringList scan(DongleMap *addedOut = nullptr, DongleMap *removedOut = nullptr,
                     const QStringList &virtualIds = {})
    {
        DongleMap added, removed;
        mgr.doScanForDongles(added, removed, virtualIds);
        if (addedOut)
            *addedOut = added;
        if (removedOut)
            *removedOut = removed;
        return mgr.dongles().keys();
    }
};

struct ScannableDongle : TestDongle
{
    using TestDongle::TestDongle;
    static int scans;
    static DongleList Scan(const DongleMgr &)
    {
        ++scans;
        return { TestDongle::make("0x99") };
    }
};
int ScannableDongle::scans = 0;

} // namespace

class TestDongleMgr : public QObject
{
    Q_OBJECT

private slots:
    void defaultAdapterAnswersEmptyIdAndOwnId()
    {
        Rig rig;
        auto a = TestDongle::make("0x1000");
        auto b = TestDongle::make("0x2000");
        rig.second.found->append(b);
        rig.first.found->append(a);

        QCOMPARE(rig.scan(), QStringList({ QString(), "0x1000", "0x2000" }));
        QString err;
        QCOMPARE(rig.mgr.getDongle(QString(), err).get(), a.get());
        QCOMPARE(rig.mgr.getDongle("0x1000", err).get(), a.get());
        QCOMPARE(rig.mgr.getDongle("0x2000", err).get(), b.get());
        QVERIFY(err.isEmpty());
        QCOMPARE(a->dongleTypeId(), rig.firstType);
        QCOMPARE(b->dongleTypeId(), rig.secondType);
    }

    void unknownIdFails()
    {
        Rig rig;
        rig.first.found->append(TestDongle::make("0x1"));
        rig.scan();
        QString err;
        QVERIFY(!rig.mgr.getDongle("0x2", err));
        QCOMPARE(err, QStringLiteral("Dongle[0x2] has been removed or does not exist"));
    }

    // Without this a read or write with no adapter at all came back with an
    // empty error text, i.e. as a success.
    void emptyIdWithoutAnyAdapterFails()
    {
        Rig rig;
        rig.scan();
        QString err;
        QVERIFY(!rig.mgr.getDongle(QString(), err));
        QCOMPARE(err, QStringLiteral("Dongle[] has been removed or does not exist"));
    }

    void virtualIdsGetDummiesOnlyWithoutRealAdapters()
    {
        Rig rig;
        DongleMap added;
        QCOMPARE(rig.scan(&added, nullptr, { "a", "b" }), QStringList({ "a", "b" }));
        QCOMPARE(added.keys(), QStringList({ "a", "b" }));
        QString err;
        QVERIFY(!rig.mgr.getDongle(QString(), err)); // no default adapter
        QVERIFY(rig.mgr.getDongle("a", err));
        QCOMPARE(rig.mgr.getDongle("b", err)->descriptionText(), QString());

        // A real adapter arriving replaces the dummies.
        rig.first.found->append(TestDongle::make("0x1"));
        DongleMap removed;
        QCOMPARE(rig.scan(&added, &removed, { "a", "b" }), QStringList({ QString(), "0x1" }));
        QCOMPARE(removed.keys(), QStringList({ "a", "b" }));
    }

    void rescanMatchesById()
    {
        Rig rig;
        rig.first.found->append(TestDongle::make("0x1", "old object"));
        DongleMap added, removed;
        rig.scan(&added, &removed);
        QCOMPARE(added.keys(), QStringList({ QString(), "0x1" }));

        // A new object under the same id text is neither added nor removed.
        rig.first.found->clear();
        rig.first.found->append(TestDongle::make("0x1", "new object"));
        rig.scan(&added, &removed);
        QVERIFY(added.isEmpty());
        QVERIFY(removed.isEmpty());

        // The adapter goes: it is removed under both names.
        rig.first.found->clear();
        rig.scan(&added, &removed);
        QVERIFY(added.isEmpty());
        QCOMPARE(removed.keys(), QStringList({ QString(), "0x1" }));
    }

    // Fault (two adapters of one kind): when the default adapter went, the
    // empty id silently began to name the other one, and whoever had seen
    // it removed never learnt that it was back.
    void emptyIdFollowsTheDefaultAdapter()
    {
        Rig rig;
        rig.first.found->append(TestDongle::make("0x1", "FT4222 A"));
        rig.first.found->append(TestDongle::make("0x2", "FT4222 A"));
        rig.scan();
        rig.first.found->removeFirst();
        DongleMap added, removed;
        rig.scan(&added, &removed);
        QCOMPARE(removed.keys(), QStringList({ QString(), "0x1" }));
        QCOMPARE(added.keys(), QStringList({ QString() }));
        QCOMPARE(added.value(QString())->idText(), QStringLiteral("0x2"));
    }

    void reusableAdapterSurvivesAnEmptyScan_data()
    {
        QTest::addColumn<bool>("reuse");
        QTest::addRow("can be reused") << true;
        QTest::addRow("cannot be reused") << false;
    }
    void reusableAdapterSurvivesAnEmptyScan()
    {
        QFETCH(bool, reuse);
        Rig rig;
        auto open = TestDongle::make("0x5");
        open->reuse = reuse;
        rig.second.found->append(open);
        rig.scan();

        rig.second.found->clear();
        DongleMap added, removed;
        const QStringList ids = rig.scan(&added, &removed);
        QCOMPARE(ids.contains("0x5"), reuse);
        QCOMPARE(removed.isEmpty(), reuse);
        QVERIFY(added.isEmpty());
        if (reuse) {
            QString err;
            QCOMPARE(rig.mgr.getDongle(QString(), err).get(), open.get());
        }
    }

    void changeDongleIdRefilesTheSameAdapter()
    {
        Rig rig;
        auto a = TestDongle::make("0x1");
        rig.mgr.addDongle(a);
        rig.mgr.changeDongleId("0x1", "0x2");
        rig.mgr.changeDongleId("absent", "0x3");
        QCOMPARE(rig.mgr.dongles().keys(), QStringList({ "0x2" }));
        QString err;
        QCOMPARE(rig.mgr.getDongle("0x2", err).get(), a.get());
    }

    void shutdownClosesEachAdapterOnce()
    {
        Rig rig;
        auto a = TestDongle::make("0x1");
        auto b = TestDongle::make("0x2");
        rig.first.found->append({ a, b });
        rig.scan();

        QStringList reported;
        rig.mgr.doShutdown([&](const QString &id, const DonglePtr &) { reported << id; });
        QCOMPARE(reported, QStringList({ QString(), "0x1", "0x2" }));
        QCOMPARE(a->closes.load(), 1);
        QCOMPARE(b->closes.load(), 1);
        QVERIFY(rig.mgr.isEmpty());
        // Until the next scan the default id still reaches the closed adapter.
        QString err;
        QCOMPARE(rig.mgr.getDongle(QString(), err).get(), a.get());
    }

    void scannerCallsTheClassScan()
    {
        DongleMgr mgr(false);
        mgr.registerScanFn(DongleScanner<ScannableDongle>());
        DongleMap added, removed;
        mgr.doScanForDongles(added, removed, {});
        QCOMPARE(ScannableDongle::scans, 1);
        // Without the flag the default adapter is not filed under "".
        QCOMPARE(added.keys(), QStringList({ "0x99" }));
        QCOMPARE(DongleMgr::GetInstance(), &mgr);
    }

    void dummyIdentityIsAlwaysTerminated()
    {
        const QByteArray longId(100, 'i');
        auto dummy = DummyDongle::Create(longId.constData(), nullptr);
        QCOMPARE(dummy->idText(), QString(63, 'i'));
        QCOMPARE(dummy->descriptionText(), QString());
        QCOMPARE(dummy->retries(), 1);
        QByteArray regValue("\x01", 1), buffer;
        QString err;
        QVERIFY(dummy->hwReadRegister(err, 0x70, "A", regValue, buffer, 0));
        QVERIFY(err.isEmpty());
    }

    void recordsCompareByDescription()
    {
        auto a = TestDongle::make("0x1", "same");
        auto b = TestDongle::make("0x2", "same");
        auto c = TestDongle::make("0x1", "other");
        QVERIFY(*a == *b);
        QVERIFY(!(*a == *c));
    }
};

PANEL_TEST_MAIN(TestDongleMgr)
#include "tst_donglemgr.moc"

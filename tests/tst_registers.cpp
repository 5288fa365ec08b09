#include "testenv.h"

#include "models/registers.h"

using Store = Registers::Store;

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// Normal store used by the pending cases: two registers and one bulk entry.
void fillKnownState(Registers &regs)
{
    regs.bytesToStore(Registers::GroupRegister, hex("01"), hex("10"));
    regs.bytesToStore(Registers::GroupRegister, hex("02"), hex("20"));
    regs.bytesToStore(Registers::GroupBulk, hex("01"), hex("aabb"));
}

} // namespace

class TestRegisters : public QObject
{
    Q_OBJECT

private slots:
    void emptyAddress_data()
    {
        QTest::addColumn<bool>("ignoreEmpty");
        QTest::addColumn<bool>("stored");
        QTest::addRow("kept under the bare group") << false << true;
        QTest::addRow("dropped when ignoring empty keys") << true << false;
    }

    void emptyAddress()
    {
        QFETCH(bool, ignoreEmpty);
        QFETCH(bool, stored);
        Registers regs;
        regs.setIgnoreEmptyKeys(ignoreEmpty);
        regs.bytesToStore(Registers::GroupPmbus, QByteArray(), hex("55"));
        QCOMPARE(regs.isStored(Registers::GroupPmbus, QByteArray()), stored);
        QCOMPARE(regs.bytesFromStore(Registers::GroupPmbus, QByteArray()), stored ? hex("55") : QByteArray());
        QCOMPARE(regs.internalAddrsStored(Registers::GroupPmbus).size(), stored ? 1 : 0);
        // The flag is about empty addresses only.
        regs.bytesToStore(Registers::GroupPmbus, hex("00"), hex("66"));
        QCOMPARE(regs.bytesFromStore(Registers::GroupPmbus, hex("00")), hex("66"));
    }

    void uintFromStore_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("store");
        QTest::addColumn<unsigned>("value");
        QTest::addRow("never stored") << QByteArray() << false << 0u;
        QTest::addRow("empty bytes") << QByteArray() << true << 0u;
        QTest::addRow("two bytes, big-endian") << hex("0123") << true << 0x0123u;
        QTest::addRow("four bytes") << hex("fedcba98") << true << 0xfedcba98u;
        QTest::addRow("five bytes beyond 32 bits") << hex("0100000000") << true << 0u;
        QTest::addRow("five bytes with a zero lead") << hex("00deadbeef") << true << 0xdeadbeefu;
    }

    void uintFromStore()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, store);
        QFETCH(unsigned, value);
        Registers regs;
        if (store)
            regs.bytesToStore(Registers::GroupRegister, hex("05"), bytes);
        QCOMPARE(regs.uintFromStore(Registers::GroupRegister, hex("05")), value);
    }

    void uintToStore_data()
    {
        QTest::addColumn<unsigned>("value");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addRow("zero is four zero bytes") << 0u << hex("00000000");
        QTest::addRow("small value padded") << 0x5au << hex("0000005a");
        QTest::addRow("full width") << 0x89abcdefu << hex("89abcdef");
    }

    void uintToStore()
    {
        QFETCH(unsigned, value);
        QFETCH(QByteArray, bytes);
        Registers regs;
        regs.uintToStore(Registers::GroupRegister, hex("01"), value);
        QVERIFY(regs.isStored(Registers::GroupRegister, hex("01")));
        QCOMPARE(regs.bytesFromStore(Registers::GroupRegister, hex("01")), bytes);
        QCOMPARE(regs.uintFromStore(Registers::GroupRegister, hex("01")), value);
    }

    // The same address in different groups must not overwrite each other, and
    // a group's listing must not leak neighbouring groups.
    void groupsKeptApart()
    {
        Registers regs;
        regs.bytesToStore(Registers::GroupRegister, hex("01"), hex("11"));
        regs.bytesToStore(Registers::GroupPmbus, hex("01"), hex("22"));
        regs.bytesToStore(Registers::GroupBulk, hex("0102"), hex("33"));
        regs.bytesToStore(Registers::GroupBulk, hex("01"), hex("44"));
        regs.bytesToStore(Registers::GroupBulk, hex("00ff"), hex("55"));
        regs.bytesToStore(0x21, hex("00"), hex("66"));
        regs.bytesToStore(0x1f, hex("ff"), hex("77"));

        QCOMPARE(regs.bytesFromStore(Registers::GroupRegister, hex("01")), hex("11"));
        QCOMPARE(regs.bytesFromStore(Registers::GroupPmbus, hex("01")), hex("22"));
        QCOMPARE(regs.bytesFromStore(Registers::GroupBulk, hex("01")), hex("44"));
        QVERIFY(!regs.isStored(Registers::GroupPmbus, hex("0102")));
        QCOMPARE(regs.internalAddrsStored(Registers::GroupBulk),
                 QList<QByteArray>({hex("00ff"), hex("01"), hex("0102")}));
        QCOMPARE(regs.internalAddrsStored(Registers::GroupRegister), QList<QByteArray>({hex("01")}));
        QVERIFY(regs.internalAddrsStored(0x30).isEmpty());
    }

    void minimumPending_data()
    {
        QTest::addColumn<Store>("writes");
        QTest::addColumn<Store>("expected");
        QTest::addRow("no writes") << Store() << Store();
        QTest::addRow("same bytes as known")
            << Store({{hex("01"), hex("10")}, {hex("02"), hex("20")}}) << Store();
        QTest::addRow("changed value") << Store({{hex("01"), hex("11")}, {hex("02"), hex("20")}})
                                       << Store({{hex("01"), hex("11")}});
        QTest::addRow("unknown address") << Store({{hex("03"), hex("30")}}) << Store({{hex("03"), hex("30")}});
        QTest::addRow("same number, other width") << Store({{hex("01"), hex("0010")}})
                                                  << Store({{hex("01"), hex("0010")}});
        QTest::addRow("empty bytes differ from known") << Store({{hex("02"), QByteArray()}})
                                                       << Store({{hex("02"), QByteArray()}});
    }

    void minimumPending()
    {
        QFETCH(Store, writes);
        QFETCH(Store, expected);
        Registers regs;
        fillKnownState(regs);
        {
            Registers::PendingScope pending(regs);
            for (auto it = writes.cbegin(); it != writes.cend(); ++it)
                regs.bytesToStore(Registers::GroupRegister, it.key(), it.value());
            QCOMPARE(regs.minimumPending(Registers::GroupRegister), expected);
        }
        // Still readable once the bracket is closed; other groups stay quiet.
        QCOMPARE(regs.minimumPending(Registers::GroupRegister), expected);
        QVERIFY(regs.minimumPending(Registers::GroupBulk).isEmpty());
        QVERIFY(regs.minimumPending(Registers::GroupPmbus).isEmpty());
    }

    void minimumPendingWithoutBracket()
    {
        Registers regs;
        fillKnownState(regs);
        QVERIFY(regs.minimumPending(Registers::GroupRegister).isEmpty());
    }

    // The pending store starts as a shared copy of the normal store; writing
    // to it must detach, or the "known" state would change with the target.
    void pendingWritesLeaveNormalStore()
    {
        Registers regs;
        fillKnownState(regs);
        regs.setUsingPending(true);
        QCOMPARE(regs.bytesFromStore(Registers::GroupRegister, hex("01")), hex("10"));
        regs.bytesToStore(Registers::GroupRegister, hex("01"), hex("99"));
        regs.uintToStore(Registers::GroupRegister, hex("04"), 7);
        regs.bytesToStore(Registers::GroupBulk, hex("01"), hex("cc"));
        QCOMPARE(regs.bytesFromStore(Registers::GroupRegister, hex("01")), hex("99"));
        QVERIFY(regs.isStored(Registers::GroupRegister, hex("04")));
        regs.setUsingPending(false);

        QCOMPARE(regs.bytesFromStore(Registers::GroupRegister, hex("01")), hex("10"));
        QCOMPARE(regs.bytesFromStore(Registers::GroupBulk, hex("01")), hex("aabb"));
        QVERIFY(!regs.isStored(Registers::GroupRegister, hex("04")));
        QCOMPARE(regs.internalAddrsStored(Registers::GroupRegister), QList<QByteArray>({hex("01"), hex("02")}));
        QCOMPARE(regs.minimumPending(Registers::GroupRegister),
                 Store({{hex("01"), hex("99")}, {hex("04"), hex("00000007")}}));
    }

    // Each bracket computes the writes for one target; leftovers of an earlier
    // bracket would add writes nobody asked for.
    void newBracketStartsFromNormalStore()
    {
        Registers regs;
        fillKnownState(regs);
        {
            Registers::PendingScope pending(regs);
            regs.bytesToStore(Registers::GroupRegister, hex("03"), hex("30"));
        }
        regs.bytesToStore(Registers::GroupRegister, hex("02"), hex("21"));
        {
            Registers::PendingScope pending(regs);
            QVERIFY(!regs.isStored(Registers::GroupRegister, hex("03")));
            QCOMPARE(regs.bytesFromStore(Registers::GroupRegister, hex("02")), hex("21"));
            QVERIFY(regs.minimumPending(Registers::GroupRegister).isEmpty());
        }
    }

    void pendingScopeEndsOnEveryPath()
    {
        Registers regs;
        fillKnownState(regs);
        const auto writeAndBail = [&regs](bool early) {
            Registers::PendingScope pending(regs);
            QVERIFY(regs.usingPending());
            regs.bytesToStore(Registers::GroupRegister, hex("01"), hex("77"));
            if (early)
                return;
            regs.bytesToStore(Registers::GroupRegister, hex("02"), hex("77"));
        };
        writeAndBail(true);
        QVERIFY(!regs.usingPending());
        QCOMPARE(regs.bytesFromStore(Registers::GroupRegister, hex("01")), hex("10"));
        writeAndBail(false);
        QVERIFY(!regs.usingPending());
        QCOMPARE(regs.minimumPending(Registers::GroupRegister).size(), 2);
    }

    void resetEmptiesBothStores()
    {
        Registers regs;
        fillKnownState(regs);
        regs.setUsingPending(true);
        regs.bytesToStore(Registers::GroupRegister, hex("03"), hex("30"));
        regs.resetData();
        QVERIFY(regs.internalAddrsStored(Registers::GroupRegister).isEmpty());
        QVERIFY(regs.minimumPending(Registers::GroupRegister).isEmpty());
        regs.setUsingPending(false);
        QVERIFY(regs.internalAddrsStored(Registers::GroupRegister).isEmpty());
        QVERIFY(regs.internalAddrsStored(Registers::GroupBulk).isEmpty());
    }

    void printStore_data()
    {
        QTest::addColumn<bool>("pending");
        QTest::addColumn<QStringList>("lines");
        QTest::addRow("normal") << false
                                << QStringList({"Registers(dev)::printData for normal store", "00_01 = 10",
                                                "00_02 = 20", "20_01 = aa_bb"});
        QTest::addRow("pending") << true
                                 << QStringList({"Registers(dev)::printData for pending store", "00_01 = 10",
                                                 "00_02 = 20", "10_0a_0b = ", "20_01 = aa_bb"});
    }

    void printStore()
    {
        QFETCH(bool, pending);
        QFETCH(QStringList, lines);
        Registers regs;
        fillKnownState(regs);
        regs.setUsingPending(pending);
        if (pending)
            regs.bytesToStore(Registers::GroupPmbus, hex("0a0b"), QByteArray());

        QStringList logged;
        static QStringList *sink = nullptr;
        sink = &logged;
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext &, const QString &text) {
                if (type == QtDebugMsg)
                    sink->append(text);
            });
        regs.printStore(QStringLiteral("dev"));
        qInstallMessageHandler(previous);
        sink = nullptr;
        QCOMPARE(logged, lines);
    }

    void baseAddressTranslation()
    {
        Registers regs;
        QCOMPARE(regs.nameFromInternal(hex("01a0")), QStringLiteral("01_a0"));
        QCOMPARE(regs.addrToInternal(hex("41"), QByteArray()), hex("41"));
        QByteArray qualifier = hex("ee");
        QCOMPARE(regs.addrToExternal(hex("41"), qualifier), hex("41"));
        QCOMPARE(qualifier, hex("ee"));
        QVERIFY(regs.getScriptReplacements().isEmpty());
    }
};

PANEL_TEST_MAIN(TestRegisters)
#include "tst_registers.moc"

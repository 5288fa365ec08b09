#include "testenv.h"

#include "bvr60600/dregisters.h"

using Bvr60600::DRegisters;

class TestDRegisters : public QObject
{
    Q_OBJECT

private slots:
    void names_data()
    {
        QTest::addColumn<QByteArray>("addr");
        QTest::addColumn<QString>("name");
        QTest::addRow("soft reset") << QByteArray::fromHex("00") << "cr_soft_reset";
        QTest::addRow("vout ref") << QByteArray::fromHex("01") << "cr_vout_ref";
        QTest::addRow("control") << QByteArray::fromHex("02") << "cr_control";
        QTest::addRow("manufacturer id") << QByteArray::fromHex("40") << "cr_manufacturer_id";
        QTest::addRow("device id") << QByteArray::fromHex("41") << "cr_device_id";
        // Outside the map there is no name, not even the hex form.
        QTest::addRow("gap") << QByteArray::fromHex("03") << QString();
        QTest::addRow("above the map") << QByteArray::fromHex("42") << QString();
        QTest::addRow("empty address") << QByteArray() << QString();
        QTest::addRow("two bytes") << QByteArray::fromHex("0001") << QString();
    }

    void names()
    {
        QFETCH(QByteArray, addr);
        QFETCH(QString, name);
        DRegisters regs;
        QCOMPARE(regs.nameFromInternal(addr), name);
        if (!name.isEmpty())
            QCOMPARE(regs.addressOf(name), addr);
    }

    void addressOfUnknownNameIsEmpty()
    {
        DRegisters regs;
        QVERIFY(regs.addressOf("cr_nothing").isEmpty());
        QVERIFY(regs.addressOf("CR_VOUT_REF").isEmpty()); // names are exact
    }

    // Script lines use these to turn register names into addresses.
    void scriptReplacements()
    {
        DRegisters regs;
        const QMap<QString, QString> expected{
            { "cr_control", "02" },         { "cr_device_id", "41" }, { "cr_manufacturer_id", "40" },
            { "cr_soft_reset", "00" },      { "cr_vout_ref", "01" },
        };
        QCOMPARE(regs.getScriptReplacements(), expected);
    }

    void fieldOrderIsHighestBitsFirst_data()
    {
        QTest::addColumn<QByteArray>("addr");
        QTest::addColumn<QStringList>("fields");
        QTest::addRow("0x00") << QByteArray::fromHex("00") << QStringList{ "reserved0", "soft_reset" };
        QTest::addRow("0x01") << QByteArray::fromHex("01") << QStringList{ "reserved1", "ref_dac_code" };
        QTest::addRow("0x02") << QByteArray::fromHex("02")
                              << QStringList{ "reserved2_4", "i2c_pt_in", "i2c_mode_in", "reserved2_0" };
        QTest::addRow("0x40") << QByteArray::fromHex("40") << QStringList{ "manufacture_id" };
        QTest::addRow("0x41") << QByteArray::fromHex("41") << QStringList{ "device_id" };
    }

    void fieldOrderIsHighestBitsFirst()
    {
        QFETCH(QByteArray, addr);
        QFETCH(QStringList, fields);
        DRegisters regs;
        QStringList names;
        for (const QString &spec : regs.fieldSpecifications().values(addr))
            names << spec.section(QLatin1Char(';'), 0, 0);
        QCOMPARE(names, fields);
    }

    // A gap or an overlap in the map would make the register pane lie about
    // the chip.
    void fieldsCoverEachRegisterExactly()
    {
        DRegisters regs;
        const auto &names = regs.registerNames();
        QCOMPARE(regs.fieldSpecifications().uniqueKeys(), names.keys());
        for (const QByteArray &addr : names.keys()) {
            unsigned covered = 0;
            for (const QString &spec : regs.fieldSpecifications().values(addr)) {
                const QStringList parts = spec.split(QLatin1Char(';'));
                QCOMPARE(parts.size(), 5);
                QVERIFY(QStringList({ "r", "w", "rw" }).contains(parts.at(3)));
                const unsigned start = parts.at(1).toUInt();
                const unsigned size = parts.at(2).toUInt();
                QVERIFY(size > 0 && start + size <= 8);
                const unsigned mask = ((1u << size) - 1) << start;
                QCOMPARE(covered & mask, 0u);
                covered |= mask;
            }
            QVERIFY2(covered == 0xFF, qPrintable(names.value(addr)));
        }
    }
};

PANEL_TEST_MAIN(TestDRegisters)
#include "tst_dregisters.moc"

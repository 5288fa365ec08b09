#include "testenv.h"

#include "utils/utils.h"

#include <QFile>
#include <QJSEngine>
#include <QQmlEngine>
#include <QTemporaryDir>
#include <QUrl>


class TestUtils : public QObject
{
    Q_OBJECT

private slots:
    // ---- DAT identifiers

    void datFields_data()
    {
        QTest::addColumn<QString>("dat");
        QTest::addColumn<bool>("good");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("type");
        QTest::addRow("default adapter") << ":0x70:bvr60600" << true << "0x70" << "bvr60600";
        QTest::addRow("adapter id") << "0x1a2b:0x22:pmbus" << true << "0x22" << "pmbus";
        QTest::addRow("type is lower-cased") << ":0x70:BVR60600" << true << "0x70" << "bvr60600";
        QTest::addRow("one separator") << "0x70:bvr60600" << false << "" << "";
        QTest::addRow("three separators") << "a::0x70:bvr60600" << false << "" << "";
        QTest::addRow("empty") << "" << false << "" << "";
        QTest::addRow("separators only") << "::" << true << "" << "";
    }

    void datFields()
    {
        QFETCH(QString, dat);
        QFETCH(bool, good);
        QFETCH(QString, address);
        QFETCH(QString, type);
        QCOMPARE(Utils::goodDat(dat), good);
        QCOMPARE(Utils::datAddress(dat), address);
        QCOMPARE(Utils::datType(dat), type);
    }

    void datRoundTrip()
    {
        const QString dat = Utils::mkDat(QString(), Utils::toHexAddress(0x70u, 2), QStringLiteral("bvr60600"));
        QCOMPARE(dat, QStringLiteral(":0x70:bvr60600"));
        QCOMPARE(Utils::exDat(dat), QStringList({"", "0x70", "bvr60600"}));
        QCOMPARE(Utils::exDat(QStringLiteral("a::b")), QStringList({"a", "", "b"}));
    }

    void datKeys_data()
    {
        QTest::addColumn<QString>("dat");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("back");
        QTest::addRow("adapter id dropped") << "X:0x70:t" << "_0x70_t" << ":0x70:t";
        QTest::addRow("default adapter") << ":0x70:bvr60600" << "_0x70_bvr60600" << ":0x70:bvr60600";
        QTest::addRow("no separator") << "plain" << "plain" << "plain";
    }

    void datKeys()
    {
        QFETCH(QString, dat);
        QFETCH(QString, key);
        QFETCH(QString, back);
        QCOMPARE(Utils::datToKey(dat), key);
        QCOMPARE(Utils::datFromKey(key), back);
    }

    // ---- Hexadecimal text

    void fromHexString_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<uint>("value");
        QTest::addRow("prefixed") << "0x70" << 0x70u;
        QTest::addRow("bare") << "70" << 112u;
        QTest::addRow("upper-case digits") << "0xFF" << 0xFFu;
        QTest::addRow("bad digit") << "0x1G" << 0u;
        QTest::addRow("empty") << "" << 0u;
        QTest::addRow("prefix only") << "0x" << 0u;
        QTest::addRow("32 bits") << "0xffffffff" << 0xFFFFFFFFu;
        QTest::addRow("33 bits") << "0x100000000" << 0u;
        QTest::addRow("negative") << "-1" << 0u;
    }

    void fromHexString()
    {
        QFETCH(QString, text);
        QFETCH(uint, value);
        QCOMPARE(Utils::fromHexString(text), value);
        QCOMPARE(Utils::fromHexAddress(text), value);
    }

    void toHexString_data()
    {
        QTest::addColumn<uint>("value");
        QTest::addColumn<int>("width");
        QTest::addColumn<bool>("prefix");
        QTest::addColumn<QString>("text");
        QTest::addRow("padded") << 7u << 2 << true << "0x07";
        QTest::addRow("no prefix") << 7u << 2 << false << "07";
        QTest::addRow("wider value not cut") << 0x1234u << 2 << true << "0x1234";
        QTest::addRow("lower case, no width") << 0xABCu << 0 << false << "abc";
        QTest::addRow("largest") << 0xFFFFFFFFu << 10 << true << "0x00ffffffff";
    }

    void toHexString()
    {
        QFETCH(uint, value);
        QFETCH(int, width);
        QFETCH(bool, prefix);
        QFETCH(QString, text);
        QCOMPARE(Utils::toHexString(value, uchar(width), prefix), text);
        QCOMPARE(Utils::toHexString(Utils::uintToHexBA(value, 8), uchar(width), prefix), text);
    }

    void toHexAddressOfBytes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("text");
        QTest::addRow("two digits per byte") << QByteArray::fromHex("0070") << 0 << "0x0070";
        QTest::addRow("explicit width") << QByteArray::fromHex("70") << 4 << "0x0070";
        QTest::addRow("empty") << QByteArray() << 0 << "0x0";
        QTest::addRow("too wide reads as 0") << QByteArray::fromHex("0102030405") << 0 << "0x0000000000";
    }

    void toHexAddressOfBytes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, width);
        QFETCH(QString, text);
        QCOMPARE(Utils::toHexAddress(bytes, uchar(width)), text);
    }

    // ---- Byte strings

    void uintToHexBA_data()
    {
        QTest::addColumn<uint>("value");
        QTest::addColumn<int>("digits");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addRow("two bytes") << 0x1234u << 4 << QByteArray::fromHex("1234");
        QTest::addRow("padded") << 0x123u << 4 << QByteArray::fromHex("0123");
        QTest::addRow("never cut") << 0x12345u << 4 << QByteArray::fromHex("012345");
        QTest::addRow("one byte") << 5u << 2 << QByteArray::fromHex("05");
        QTest::addRow("odd digit count") << 1u << 7 << QByteArray::fromHex("00000001");
        QTest::addRow("zero digits") << 0u << 0 << QByteArray::fromHex("00");
    }

    void uintToHexBA()
    {
        QFETCH(uint, value);
        QFETCH(int, digits);
        QFETCH(QByteArray, bytes);
        QCOMPARE(Utils::uintToHexBA(value, uchar(digits)), bytes);
        QCOMPARE(Utils::uintFromHexBA(bytes), value);
    }

    void uintFromHexBA_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<uint>("value");
        QTest::addRow("empty") << QByteArray() << 0u;
        QTest::addRow("32 bits") << QByteArray::fromHex("ffffffff") << 0xFFFFFFFFu;
        QTest::addRow("wider than 32 bits") << QByteArray::fromHex("0100000000") << 0u;
        QTest::addRow("leading zero bytes") << QByteArray::fromHex("000000001234") << 0x1234u;
    }

    void uintFromHexBA()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(uint, value);
        QCOMPARE(Utils::uintFromHexBA(bytes), value);
    }

    void byteFormatting()
    {
        QCOMPARE(Utils::reverseHexBA(QByteArray::fromHex("123456")), QByteArray::fromHex("563412"));
        QCOMPARE(Utils::reverseHexBA(QByteArray()), QByteArray());
        QCOMPARE(Utils::formatHexBA(QByteArray::fromHex("12ab")), QStringLiteral("12_ab"));
        QCOMPARE(Utils::formatHexBA(QByteArray()), QString());
        QCOMPARE(Utils::formatHexList(QList<unsigned short>{0x5, 0xabcd, 0}), QStringLiteral("5,abcd,0"));
        QCOMPARE(Utils::formatHexList(QList<QByteArray>{QByteArray::fromHex("0a0b"), QByteArray::fromHex("ff")}),
                 QStringLiteral("0a0b,ff"));
    }

    void printHexBAMap()
    {
        QMap<QByteArray, QByteArray> map;
        map.insert(QByteArray::fromHex("01"), QByteArray::fromHex("a0b0"));
        QTest::ignoreMessage(QtDebugMsg, "registers");
        QTest::ignoreMessage(QtDebugMsg, "01 = a0b0");
        Utils::printHexBAMap(map, QStringLiteral("registers"));
    }

    void formatParam()
    {
        QCOMPARE(Utils::formatParam(QStringLiteral("vout"), 1.5, 6, 'f'), QStringLiteral("    vout = 1.5000000000\n"));
        QCOMPARE(Utils::formatParam(QStringLiteral("longname"), QStringLiteral("x"), 4),
                 QStringLiteral("  longname = x\n"));
        // A placeholder inside the name must not swallow the value.
        QCOMPARE(Utils::formatParam(QStringLiteral("%2"), QStringLiteral("v"), 2), QStringLiteral("  %2 = v\n"));
    }

    // ---- Files

    void textFileRoundTrip()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("a.txt"));
        QVERIFY(Utils::writeTextFile(path, QStringLiteral("first line\nsecond\n")));
        QCOMPARE(Utils::readTextFile(path), QStringList({"first line", "second", ""}));

        // Rewriting truncates; a file URL names the same file.
        const QString url = QUrl::fromLocalFile(path).toString();
        QVERIFY(Utils::writeTextFile(url, QStringLiteral("caf\u00e9")));
        QCOMPARE(Utils::readTextFile(url), QStringList({QStringLiteral("caf\u00e9")}));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("caf\xe9"));
    }

    void textFileCannotOpen()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("missing/a.txt"));
        QCOMPARE(Utils::readTextFile(path), QStringList());
        QVERIFY(!Utils::writeTextFile(path, QStringLiteral("x")));
        QVERIFY(!QFile::exists(path));
    }

    void localFileFromUrl()
    {
        QCOMPARE(Utils::localFileFromUrl(QUrl::fromLocalFile(QStringLiteral("/tmp/a b.cfg"))),
                 QStringLiteral("/tmp/a b.cfg"));
        QCOMPARE(Utils::localFileFromUrl(QUrl(QStringLiteral("http://host/x"))), QStringLiteral("http://host/x"));
    }

    // ---- Numeric conversions

    void isFuzzySame_data()
    {
        QTest::addColumn<double>("d1");
        QTest::addColumn<double>("d2");
        QTest::addColumn<bool>("same");
        QTest::addRow("zero reference") << 0.0 << 5.0 << true;
        QTest::addRow("tiny difference") << 1.0 << 1.0000000001 << true;
        QTest::addRow("ten percent") << 1.0 << 1.1 << false;
        QTest::addRow("negative reference, far") << -1.0 << 5.0 << false;
        QTest::addRow("negative reference, near") << -1.0 << -1.0000000001 << true;
        QTest::addRow("zero against reference") << 5.0 << 0.0 << false;
        QTest::addRow("equal infinities") << qInf() << qInf() << true;
    }

    void isFuzzySame()
    {
        QFETCH(double, d1);
        QFETCH(double, d2);
        QFETCH(bool, same);
        QCOMPARE(Utils::isFuzzySame(d1, d2, "t", false), same);
    }

    void isFuzzySameLogs()
    {
        QTest::ignoreMessage(QtDebugMsg, "isFuzzySame::false, ctx=x, d1=1, d2=1.1, diff=0.1, diffPct=10%");
        QVERIFY(!Utils::isFuzzySame(1.0, 1.1, "x", true));
    }

    void qformat_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("intBits");
        QTest::addColumn<int>("fracBits");
        QTest::addColumn<bool>("isSigned");
        QTest::addColumn<int>("raw");
        QTest::addColumn<double>("decoded");
        QTest::addRow("unsigned") << 1.5 << 1 << 2 << false << 6 << 1.5;
        QTest::addRow("signed negative") << -1.0 << 1 << 2 << true << 0xC << -1.0;
        QTest::addRow("round half away, negative") << -0.125 << 1 << 2 << true << 0xF << -0.25;
        QTest::addRow("saturates high") << 10.0 << 1 << 2 << false << 7 << 1.75;
        QTest::addRow("saturates low, signed") << -10.0 << 1 << 2 << true << 0x8 << -2.0;
        QTest::addRow("negative unsigned is 0") << -3.0 << 1 << 2 << false << 0 << 0.0;
        QTest::addRow("huge value") << 1e300 << 10 << 10 << false << 0xFFFFF << 1023.9990234375;
    }

    void qformat()
    {
        QFETCH(double, value);
        QFETCH(int, intBits);
        QFETCH(int, fracBits);
        QFETCH(bool, isSigned);
        QFETCH(int, raw);
        QFETCH(double, decoded);
        QCOMPARE(Utils::qformatEncode(value, intBits, fracBits, isSigned), raw);
        QCOMPARE(Utils::qformatDecode(raw, intBits, fracBits, isSigned), decoded);
    }

    void qformatDecodeHighBits()
    {
        // Bits above the format are noise from a wider register.
        QCOMPARE(Utils::qformatDecode(0xF6, 1, 2, false), 1.5);
        QCOMPARE(Utils::qformatDecode(0x1C, 1, 2, true), -1.0);
        QCOMPARE(Utils::qformatDecode(0x16, 1, 2, true), 1.5);
        QCOMPARE(Utils::qformatEncode(qQNaN(), 4, 4, true), 0);
        // Absurd formats give a defined result rather than an invalid shift.
        Utils::qformatEncode(1.0, 1000, 1000, true);
        Utils::qformatDecode(-1, -5, 2, true);
    }

    void vidGrid_data()
    {
        QTest::addColumn<int>("stepMv");
        QTest::addColumn<double>("desired");
        QTest::addColumn<int>("index");
        QTest::addColumn<double>("closest");
        QTest::addRow("5 mV grid") << 5 << 1.0 << 151 << 1.0;
        QTest::addRow("10 mV grid") << 10 << 0.5 << 31 << 0.5;
        QTest::addRow("rounds down") << 5 << 1.0024 << 151 << 1.0;
        QTest::addRow("rounds up") << 5 << 1.0026 << 152 << 1.005;
        QTest::addRow("below base") << 10 << 0.1 << -9 << 0.1;
        QTest::addRow("1 V grid") << 1000 << 2.0 << 2 << 2.19;
        QTest::addRow("zero step keeps voltage") << 0 << 0.8 << 0 << 0.8;
        QTest::addRow("negative step keeps voltage") << -5 << 0.8 << 0 << 0.8;
    }

    void vidGrid()
    {
        QFETCH(int, stepMv);
        QFETCH(double, desired);
        QFETCH(int, index);
        QFETCH(double, closest);
        QCOMPARE(Utils::calculateVidIndex(stepMv, desired), index);
        QVERIFY(qAbs(Utils::closestVidVoltage(stepMv, desired) - closest) < 1e-9);
    }

    void vidIndexOutOfRange()
    {
        QCOMPARE(Utils::calculateVidIndex(5, 1e30), std::numeric_limits<int>::max());
        QCOMPARE(Utils::calculateVidIndex(5, -qInf()), std::numeric_limits<int>::min());
        QCOMPARE(Utils::calculateVidIndex(5, qQNaN()), 0);
    }

    // The angle covers all four quadrants, imaginary part first.
    void angles()
    {
        QCOMPARE(Utils::angle({-1.0, 0.0}, true), 180.0);
        QCOMPARE(Utils::angle({0.0, -1.0}, true), -90.0);
        QVERIFY(qFuzzyCompare(Utils::angle({0.0, 1.0}, false), M_PI / 2));
    }

    void sineWave_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("offsetDeg");
        QTest::addColumn<int>("stepDeg");
        QTest::addColumn<int>("bytesPerSample");
        QTest::addColumn<QByteArray>("expected");
        QTest::addRow("four samples of 100") << 8 << 90 << 0 << 2 << QByteArray::fromHex("6400640064006400");
        QTest::addRow("negative") << 4 << 180 << 45 << 2 << QByteArray::fromHex("00009cff");
        QTest::addRow("angle follows byte position") << 4 << 0 << 45 << 2 << QByteArray::fromHex("00006400");
        QTest::addRow("last sample cut") << 5 << 90 << 0 << 2 << QByteArray::fromHex("6400640064");
        QTest::addRow("sign beyond 32 bits") << 16 << 180 << 12 << 8
                                             << QByteArray::fromHex("00000000000000009dffffffffffffff");
        QTest::addRow("no sample width keeps old bytes") << 3 << 90 << 0 << 0 << QByteArray(3, '\x55');
    }

    void sineWave()
    {
        QFETCH(int, length);
        QFETCH(int, offsetDeg);
        QFETCH(int, stepDeg);
        QFETCH(int, bytesPerSample);
        QFETCH(QByteArray, expected);
        QByteArray buffer(20, '\x55');
        Utils::generateSineWave(buffer, ushort(length), 100, uchar(offsetDeg), uchar(stepDeg),
                                uchar(bytesPerSample));
        QCOMPARE(buffer.toHex(), expected.toHex());
    }

    // A 16-bit position wraps to 0 just below 65535 and never ends.
    void sineWaveFullLength()
    {
        QByteArray buffer;
        Utils::generateSineWave(buffer, 65535, 100, 90, 0, 2);
        QCOMPARE(buffer.size(), 65535);
        QCOMPARE(buffer.at(65534), char(100));
    }

    // The user interface reaches these through the QML singleton.
    void invokableFromScript()
    {
        QJSEngine engine;
        Utils *utils = Utils::getInstance();
        QJSEngine::setObjectOwnership(utils, QJSEngine::CppOwnership);
        engine.globalObject().setProperty(QStringLiteral("u"), engine.newQObject(utils));
        QCOMPARE(engine.evaluate(QStringLiteral("u.toHexAddress(112, 2)")).toString(), QStringLiteral("0x70"));
        QCOMPARE(engine.evaluate(QStringLiteral("u.datType(':0x70:BVR60600')")).toString(),
                 QStringLiteral("bvr60600"));
        QCOMPARE(engine.evaluate(QStringLiteral("u.calculateVidIndex(5, 1.0)")).toInt(), 151);
        QVERIFY(qAbs(engine.evaluate(QStringLiteral("u.closestVidVoltage(10, 0.503)")).toNumber() - 0.5) < 1e-9);
    }
};

PANEL_TEST_MAIN(TestUtils)
#include "tst_utils.moc"

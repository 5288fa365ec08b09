#include "testenv.h"

#include "bvr60600/voutcode.h"

#include <QFile>
#include <QJSEngine>

#include <cmath>

using Bvr60600::VoutCode;

class TestVoutCode : public QObject
{
    Q_OBJECT

private slots:
    void volts_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("reserved");

        QTest::addRow("power-up default") << 0 << "3.4" << true;
        QTest::addRow("first reserved") << 1 << "2.5" << true;
        QTest::addRow("last reserved") << 40 << "2.5" << true;
        QTest::addRow("lowest") << 41 << "2.500" << false;
        QTest::addRow("end of the 50 mV steps") << 47 << "2.800" << false;
        QTest::addRow("start of the 25 mV steps") << 48 << "2.825" << false;
        QTest::addRow("3.3 V") << 0x43 << "3.300" << false;
        QTest::addRow("same voltage as the default") << 0x47 << "3.400" << false;
        QTest::addRow("highest") << 95 << "4.000" << false;
        QTest::addRow("above the range") << 96 << "4.0" << true;
        QTest::addRow("largest 7-bit code") << 127 << "4.0" << true;
    }

    void volts()
    {
        QFETCH(int, code);
        QFETCH(QString, text);
        QFETCH(bool, reserved);
        QCOMPARE(VoutCode::voltsText(code), text);
        QCOMPARE(VoutCode::isReserved(code), reserved);
    }

    // Every code the chip takes comes back from its own voltage, also when
    // the voltage is typed with fewer digits or carries float noise.
    void everyCodeRoundTrips()
    {
        for (int code = VoutCode::minCode; code <= VoutCode::maxCode; ++code) {
            QString err;
            QCOMPARE(VoutCode::fromVolts(VoutCode::volts(code), err), code);
            QVERIFY(err.isEmpty());
            QCOMPARE(VoutCode::fromVolts(VoutCode::voltsText(code).toDouble() + 0.0004, err), code);
        }
    }

    void fromVoltsRefuses_data()
    {
        QTest::addColumn<double>("volts");
        QTest::addColumn<QString>("message");

        QTest::addRow("between two codes") << 3.31 << "the nearest are 3.300 V (0x43) and 3.325 V (0x44)";
        QTest::addRow("between the two pitches")
            << 2.81 << "the nearest are 2.800 V (0x2f) and 2.825 V (0x30)";
        QTest::addRow("just above a code") << 3.3006 << "the nearest are 3.300 V (0x43) and 3.325 V (0x44)";
        QTest::addRow("below the range") << 2.4 << "outside the output range 2.500 V to 4.000 V";
        QTest::addRow("above the range") << 4.01 << "outside the output range";
        QTest::addRow("negative") << -3.3 << "outside the output range";
        QTest::addRow("not a number") << std::nan("") << "outside the output range";
        QTest::addRow("infinite") << HUGE_VAL << "outside the output range";
    }

    void fromVoltsRefuses()
    {
        QFETCH(double, volts);
        QFETCH(QString, message);
        QString err;
        QCOMPARE(VoutCode::fromVolts(volts, err), -1);
        QVERIFY2(err.contains(message), qPrintable(err));
    }

    // The Control tab converts in JavaScript; both sides must show the same
    // voltage for every code, or the command line and the window disagree.
    void sameTextsAsTheControlTab()
    {
        QFile file(QStringLiteral(":/view/common_qml/applayout/codetexts.js"));
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        QString source = QString::fromUtf8(file.readAll());
        // A QML library directive, not JavaScript.
        source.remove(QStringLiteral(".pragma library"));
        QJSEngine engine;
        const QJSValue loaded = engine.evaluate(source);
        QVERIFY2(!loaded.isError(), qPrintable(loaded.toString()));
        QJSValue codeToText = engine.globalObject().property(QStringLiteral("codeToText"));
        QJSValue textToCode = engine.globalObject().property(QStringLiteral("textToCode"));
        QVERIFY(codeToText.isCallable() && textToCode.isCallable());
        for (int code = 0; code <= 127; ++code) {
            QCOMPARE(codeToText.call({ code }).toString(), VoutCode::voltsText(code));
            if (!VoutCode::isReserved(code)) {
                QString err;
                QCOMPARE(textToCode.call({ VoutCode::voltsText(code) }).toInt(),
                         VoutCode::fromVolts(VoutCode::volts(code), err));
            }
        }
    }
};

PANEL_TEST_MAIN(TestVoutCode)
#include "tst_voutcode.moc"

#include "testenv.h"

#include "services/spimastersvc.h"

class TestSpiMasterSvc : public QObject
{
    Q_OBJECT

private slots:
    void crc_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("expected");
        QTest::addRow("empty") << QByteArray() << 0;
        QTest::addRow("0x80") << QByteArray("\x80", 1) << 4;
        QTest::addRow("0x40") << QByteArray("\x40", 1) << 2;
        QTest::addRow("0x02") << QByteArray("\x02", 1) << 3;
        // Bit 0 is never fed: 0x01 is the same as 0x00, 0x81 as 0x80.
        QTest::addRow("0x01") << QByteArray("\x01", 1) << 0;
        QTest::addRow("0x81") << QByteArray("\x81", 1) << 4;
        // Two bytes: 0x80 leaves 4; the next seven zero bits shift it
        // through the polynomial.
        QTest::addRow("0x80 0x00") << QByteArray("\x80\x00", 2) << referenceCrc(QByteArray("\x80\x00", 2));
    }
    void crc()
    {
        QFETCH(QByteArray, data);
        QFETCH(int, expected);
        QCOMPARE(SpiMasterSvc::crc(data), expected);
    }

    // Polynomial division over the seven fed bits of every byte, done the
    // long way, as an independent check of the shift register.
    void crcMatchesLongDivision()
    {
        QByteArray data;
        for (int i = 0; i < 64; ++i) {
            data.append(char(i * 37 + 11));
            QCOMPARE(SpiMasterSvc::crc(data), referenceCrc(data));
        }
    }

    void avsOperationsAnswerNotLoaded()
    {
        SpiMasterSvc *svc = SpiMasterSvc::getInstance();
        const QString notLoaded = "Could not perform operation. Cheetah dongle not loaded.";
        for (const QVariantMap &reply :
             { svc->waitAvsRead(0, 0, 0, 0), svc->waitAvsWrite(1, 2, 3, 4),
               svc->waitAvsSend(9, 9, 9, 9, 9) }) {
            QCOMPARE(reply.value("err").toString(), notLoaded);
            QCOMPARE(reply.value("ack").toInt(), 4);
            QCOMPARE(reply.size(), 2);
        }
    }

private:
    static int referenceCrc(const QByteArray &data)
    {
        // Message bits followed by three zero bits, divided by 0b1011.
        QList<int> bits;
        for (char byte : data)
            for (int bit = 7; bit >= 1; --bit)
                bits << ((quint8(byte) >> bit) & 1);
        bits << 0 << 0 << 0;
        for (int i = 0; i + 3 < bits.size(); ++i) {
            if (bits[i]) {
                bits[i] ^= 1;
                bits[i + 2] ^= 1;
                bits[i + 3] ^= 1;
            }
        }
        const int n = int(bits.size());
        return (bits[n - 3] << 2) | (bits[n - 2] << 1) | bits[n - 1];
    }
};

PANEL_TEST_MAIN(TestSpiMasterSvc)
#include "tst_spimastersvc.moc"

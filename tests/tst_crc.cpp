#include "testenv.h"

#include "utils/crc.h"
#include "utils/utils.h"

#include <QRandomGenerator>

#include <array>

namespace {

// Table-driven CRC-32/MPEG-2 over bytes, written independently of the
// word-wise code under test.
quint32 mpeg2(const QByteArray &data)
{
    static const auto table = [] {
        std::array<quint32, 256> t{};
        for (quint32 i = 0; i < 256; ++i) {
            quint32 c = i << 24;
            for (int b = 0; b < 8; ++b)
                c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : c << 1;
            t[i] = c;
        }
        return t;
    }();
    quint32 crc = 0xFFFFFFFFu;
    for (const char ch : data)
        crc = (crc << 8) ^ table[((crc >> 24) ^ quint8(ch)) & 0xFF];
    return crc;
}

// Whole 4-byte groups only, each one reversed.
QByteArray reverseGroups(const QByteArray &data)
{
    QByteArray out;
    for (qsizetype i = 0; i + 4 <= data.size(); i += 4)
        out += Utils::reverseHexBA(data.mid(i, 4));
    return out;
}

QByteArray randomBytes(int size)
{
    QByteArray data(size, '\0');
    for (char &c : data)
        c = char(QRandomGenerator::global()->bounded(256));
    return data;
}

const unsigned char *raw(const QByteArray &data)
{
    return reinterpret_cast<const unsigned char *>(data.constData());
}

} // namespace

class TestCrc : public QObject
{
    Q_OBJECT

private slots:
    void crc8Catalogue_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("expected");
        QTest::addRow("check 123456789") << QByteArray("123456789") << 0xF4;
        QTest::addRow("abc") << QByteArray("abc") << 0x5F;
        QTest::addRow("empty is the start value") << QByteArray() << 0x00;
    }

    void crc8Catalogue()
    {
        QFETCH(QByteArray, data);
        QFETCH(int, expected);
        QCOMPARE(int(CRC8(0, int(data.size()), raw(data))), expected);
        QCOMPARE(int(CalculateBlockCRC8(int(data.size()), raw(data))), expected);
        QCOMPARE(int(Utils::crc8(data)), expected);
    }

    // The 16-bit shift-register form is a different algorithm; it must agree
    // with the byte-wise one on anything, and CRC8 must continue a message
    // split in two.
    void crc8FormsAgreeOnRandomData()
    {
        for (int round = 0; round < 200; ++round) {
            const QByteArray data = randomBytes(QRandomGenerator::global()->bounded(1, 300));
            const unsigned char whole = CRC8(0, int(data.size()), raw(data));
            QCOMPARE(CalculateBlockCRC8(int(data.size()), raw(data)), whole);
            QCOMPARE(Utils::crc8(data), whole);
            const int cut = QRandomGenerator::global()->bounded(int(data.size()) + 1);
            const unsigned char head = CRC8(0, cut, raw(data));
            QCOMPARE(CRC8(head, int(data.size()) - cut, raw(data) + cut), whole);
        }
    }

    void crc8NoDataKeepsStart()
    {
        QCOMPARE(int(CRC8(0x5A, 0, nullptr)), 0x5A);
        QCOMPARE(int(CRC8(0x5A, -3, raw(QByteArray("abc")))), 0x5A);
        QCOMPARE(int(CalculateBlockCRC8(-1, raw(QByteArray("abc")))), 0);
    }

    void referenceMatchesCatalogue()
    {
        QCOMPARE(mpeg2("123456789"), 0x0376E6E7u);
    }

    void crc32_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<uint>("expected");
        QTest::addRow("abcd") << QByteArray("abcd") << 0xA62F1C36u;
        QTest::addRow("trailing bytes ignored") << QByteArray("abcdefg") << 0xA62F1C36u;
        QTest::addRow("empty") << QByteArray() << 0xFFFFFFFFu;
        QTest::addRow("under one word") << QByteArray("abc") << 0xFFFFFFFFu;
    }

    void crc32()
    {
        QFETCH(QByteArray, data);
        QFETCH(uint, expected);
        QCOMPARE(Utils::crc32(data), expected);
    }

    void crc32IsMpeg2OfReversedGroups()
    {
        for (int round = 0; round < 100; ++round) {
            const QByteArray data = randomBytes(QRandomGenerator::global()->bounded(0, 200));
            QCOMPARE(Utils::crc32(data), mpeg2(reverseGroups(data)));
        }
    }

    // Firmware tools hand whole word buffers to the free functions; they must
    // match the byte-array form with little-endian words.
    void blockCrc32MatchesByteForm()
    {
        QCOMPARE(CalculateBlockCRC32(0, nullptr), 0xFFFFFFFFu);
        std::array<unsigned int, 3> words{0x64636261u, 0x12345678u, 0xDEADBEEFu};
        QByteArray bytes;
        for (const unsigned int w : words)
            bytes += Utils::reverseHexBA(Utils::uintToHexBA(w, 8));
        QCOMPARE(CalculateBlockCRC32(unsigned(words.size()), words.data()), Utils::crc32(bytes));

        unsigned int running = 0xFFFFFFFFu;
        for (const unsigned int w : words)
            CRC32Value(&running, w);
        QCOMPARE(running, Utils::crc32(bytes));
        CRC32Value(nullptr, 1); // must not crash
    }
};

PANEL_TEST_MAIN(TestCrc)
#include "tst_crc.moc"

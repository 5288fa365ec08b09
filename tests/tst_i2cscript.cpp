#include "testenv.h"

#include "i2c/i2cscript.h"
#include "utils/utils.h"

#include <QRandomGenerator>

using namespace I2cScript;

namespace {

QByteArray hex(const char *digits)
{
    return QByteArray::fromHex(digits);
}

ScriptLine pmbus(bool isRead, const char *command, unsigned char isBlock, const QByteArray &data)
{
    ScriptLine line;
    line.kind = ScriptLine::Pmbus;
    line.pmbus.isRead = isRead;
    line.pmbus.command = hex(command);
    line.pmbus.isBlockProtocol = isBlock;
    line.pmbus.data = data;
    return line;
}

ScriptLine ofKind(ScriptLine::Kind kind)
{
    ScriptLine line;
    line.kind = kind;
    return line;
}

} // namespace

Q_DECLARE_METATYPE(I2cScript::ScriptLine)

class TestI2cScript : public QObject
{
    Q_OBJECT

private slots:
    void parseScriptLine_data();
    void parseScriptLine();
    void bytesFromToken_data();
    void bytesFromToken();
    void validation_data();
    void validation();
    void validationAppendsToExistingError();
    void compileLine_data();
    void compileLine();
    void templatesCompileToTheirKind();
    void acceptedLinesRunAsChecked();
    void hostileInput();
    void largeScript();
};

void TestI2cScript::parseScriptLine_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("tokens");

    QTest::addRow("spaces and tabs") << "read_register\t41  \t 1" << QStringList{"read_register", "41", "1"};
    QTest::addRow("leading separators") << "  \twait_ms 5" << QStringList{"wait_ms", "5"};
    QTest::addRow("empty") << "" << QStringList{};
    // Only spaces and tabs separate; trimming other whitespace is the caller's.
    QTest::addRow("carriage return kept") << "a b\r" << QStringList{"a", "b\r"};
}

void TestI2cScript::parseScriptLine()
{
    QFETCH(QString, line);
    QFETCH(QStringList, tokens);
    QCOMPARE(I2cScript::parseScriptLine(line), tokens);
}

void TestI2cScript::bytesFromToken_data()
{
    QTest::addColumn<QString>("token");
    QTest::addColumn<QByteArray>("bytes");

    QTest::addRow("one byte") << "41" << hex("41");
    QTest::addRow("two bytes") << "1234" << hex("1234");
    QTest::addRow("odd leading digit") << "123" << hex("0123");
    QTest::addRow("0x prefix") << "0x41" << hex("41");
    QTest::addRow("0X prefix") << "0X3c" << hex("3c");
    QTest::addRow("upper-case digits") << "AbCd" << hex("abcd");
    // Only one prefix goes; validation rejects what is left.
    QTest::addRow("second prefix stays") << "0x0x41" << hex("0041");
    QTest::addRow("bare prefix") << "0x" << QByteArray();
}

void TestI2cScript::bytesFromToken()
{
    QFETCH(QString, token);
    QFETCH(QByteArray, bytes);
    QCOMPARE(I2cScript::bytesFromToken(token), bytes);
}

void TestI2cScript::validation_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("err");

    QTest::addRow("empty script") << QStringList{} << "";
    QTest::addRow("blank lines and comments")
        << QStringList{"", "  \t ", "#note", "# a comment  with words"} << "";
    QTest::addRow("every keyword")
        << QStringList{"wait_ms 10", "read_bulk 10 20 4", "write_bulk 10 20 aabb", "write_bulk 10 20 null 5",
                       "read_register 41 1", "write_register 41 3c", "write_bytes 0a0b",
                       "pmbus_send_byte 3", "pmbus_write_byte 21 ff", "pmbus_read_byte 21",
                       "pmbus_write_word 21 ffff", "pmbus_read_word 21", "pmbus_write_block 21 2 abcd",
                       "pmbus_read_block 21 ff"}
        << "";
    QTest::addRow("wait_ms without value") << QStringList{"wait_ms"} << "";
    QTest::addRow("capitals") << QStringList{"READ_REGISTER 41 1", "Write_Bulk AA BB NULL", "PMBUS_READ_WORD 8B"}
                              << "";
    QTest::addRow("0x prefixes")
        << QStringList{"write_register 0x01 0x3C", "read_bulk 0X10 0x20 0x4", "pmbus_write_word 0x21 0xABCD",
                       "pmbus_write_block 0x21 0x2 0x1234"}
        << "";
    QTest::addRow("tabs") << QStringList{"read_register\t41\t1"} << "";

    QTest::addRow("unknown keyword") << QStringList{"frobnicate 1 2"}
                                     << "Unrecognized command on line 1 (frobnicate 1 2)\n";
    QTest::addRow("too few tokens") << QStringList{"read_bulk 10 20"}
                                    << "Unrecognized command on line 1 (read_bulk 10 20)\n";
    QTest::addRow("line number and untrimmed text")
        << QStringList{"wait_ms 10", "", "  Bogus Line\t"} << "Unrecognized command on line 3 (  Bogus Line\t)\n";
    QTest::addRow("every line examined")
        << QStringList{"bogus", "write_register 41 zz", "pmbus_read_byte 100"}
        << "Unrecognized command on line 1 (bogus)\n"
           "Invalid value on line 2 (write_register 41 zz)\n"
           "Invalid command on line 3 (pmbus_read_byte 100)\n";
    // A CRLF file must report exactly what its LF twin reports.
    QTest::addRow("CRLF") << QStringList{"read_register 41 1\r", "bogus 1\r"}
                          << "Unrecognized command on line 2 (bogus 1)\n";
    QTest::addRow("percent signs in the text") << QStringList{"bogus %1 %2"}
                                               << "Unrecognized command on line 1 (bogus %1 %2)\n";

    QTest::addRow("command too wide") << QStringList{"pmbus_send_byte 100"}
                                      << "Invalid command on line 1 (pmbus_send_byte 100)\n";
    QTest::addRow("command not hex") << QStringList{"pmbus_read_word zz"}
                                     << "Invalid command on line 1 (pmbus_read_word zz)\n";
    QTest::addRow("command with leading zeros") << QStringList{"pmbus_read_word 0021"} << "";
    QTest::addRow("byte value too wide") << QStringList{"pmbus_write_byte 21 100"}
                                         << "Invalid value on line 1 (pmbus_write_byte 21 100)\n";
    QTest::addRow("word value too wide") << QStringList{"pmbus_write_word 21 10000"}
                                         << "Invalid value on line 1 (pmbus_write_word 21 10000)\n";
    QTest::addRow("word with leading zeros") << QStringList{"pmbus_write_word 21 0000ffff"} << "";
    QTest::addRow("block data longer than the size") << QStringList{"pmbus_write_block 21 2 12345"}
                                                     << "Invalid value on line 1 (pmbus_write_block 21 2 12345)\n";
    QTest::addRow("block size too big") << QStringList{"pmbus_read_block 21 100"}
                                        << "Invalid block size on line 1 (pmbus_read_block 21 100)\n";
    // fromHexString() reads these as 0, which is no reason to accept them.
    QTest::addRow("block size not a number") << QStringList{"pmbus_read_block 21 zz"}
                                             << "Invalid block size on line 1 (pmbus_read_block 21 zz)\n";
    QTest::addRow("block size of 40 digits")
        << QStringList{"pmbus_read_block 21 ffffffffffffffffffffffffffffffffffffffff"}
        << "Invalid block size on line 1 (pmbus_read_block 21 ffffffffffffffffffffffffffffffffffffffff)\n";
    QTest::addRow("block size zero") << QStringList{"pmbus_read_block 21 00"} << "";
    QTest::addRow("three faults on one line")
        << QStringList{"pmbus_write_block 100 100 zz"}
        << "Invalid command on line 1 (pmbus_write_block 100 100 zz)\n"
           "Invalid block size on line 1 (pmbus_write_block 100 100 zz)\n"
           "Invalid value on line 1 (pmbus_write_block 100 100 zz)\n";

    // A 0x inside a token used to be skipped silently and hit another register.
    QTest::addRow("x inside address") << QStringList{"write_register 01x 3c"}
                                      << "Invalid value on line 1 (write_register 01x 3c)\n";
    QTest::addRow("double prefix") << QStringList{"write_register 0x0x01 3c"}
                                   << "Invalid value on line 1 (write_register 0x0x01 3c)\n";
    QTest::addRow("bare prefix") << QStringList{"write_bytes 0x"} << "Invalid value on line 1 (write_bytes 0x)\n";
    QTest::addRow("two bad values, one message") << QStringList{"write_register zz yy"}
                                                 << "Invalid value on line 1 (write_register zz yy)\n";
    QTest::addRow("bulk command not hex") << QStringList{"read_bulk 10 2g 4"}
                                          << "Invalid value on line 1 (read_bulk 10 2g 4)\n";
    QTest::addRow("bulk data misspelt null") << QStringList{"write_bulk 10 20 nul"}
                                             << "Invalid value on line 1 (write_bulk 10 20 nul)\n";
    QTest::addRow("byte data not hex") << QStringList{"pmbus_write_byte 21 g"}
                                       << "Invalid value on line 1 (pmbus_write_byte 21 g)\n";

    // A packet delay of 4294967295 ms held the bus thread for 49 days per
    // packet, and the program could not end.
    QTest::addRow("bulk delay of 2^32 - 1") << QStringList{"write_bulk 00 01 aa 4294967295"}
                                            << "Invalid value on line 1 (write_bulk 00 01 aa 4294967295)\n";
    QTest::addRow("bulk delay beyond the longest wait") << QStringList{"write_bulk 00 01 aa 65536"}
                                                        << "Invalid value on line 1 (write_bulk 00 01 aa 65536)\n";
    QTest::addRow("bulk delay in hex") << QStringList{"write_bulk 00 01 aa 0x10"}
                                       << "Invalid value on line 1 (write_bulk 00 01 aa 0x10)\n";
    QTest::addRow("bulk delay not a number") << QStringList{"write_bulk 00 01 null later"}
                                             << "Invalid value on line 1 (write_bulk 00 01 null later)\n";
    QTest::addRow("longest bulk delay") << QStringList{"write_bulk 00 01 aa 65535"} << "";
    // Values that passed here but ran as something else: a size beyond its
    // field ran as 0 or wrapped, a wait that was no number ran as 1000 ms.
    QTest::addRow("register size of 20 digits") << QStringList{"read_register 0x01 99999999999999999999"}
                                                << "Invalid value on line 1 (read_register 0x01 99999999999999999999)\n";
    QTest::addRow("register size beyond a signed byte") << QStringList{"read_register 41 80"}
                                                        << "Invalid value on line 1 (read_register 41 80)\n";
    QTest::addRow("register size not hex") << QStringList{"read_register 41 zz"}
                                           << "Invalid value on line 1 (read_register 41 zz)\n";
    QTest::addRow("largest register size") << QStringList{"read_register 41 0x7f"} << "";
    QTest::addRow("bulk size of 11 digits") << QStringList{"read_bulk 10 20 99999999999"}
                                            << "Invalid value on line 1 (read_bulk 10 20 99999999999)\n";
    QTest::addRow("bulk size beyond 16 bits") << QStringList{"read_bulk 10 20 10000"}
                                              << "Invalid value on line 1 (read_bulk 10 20 10000)\n";
    QTest::addRow("largest bulk size") << QStringList{"read_bulk 10 20 ffff"} << "";
    QTest::addRow("negative wait") << QStringList{"wait_ms -5"} << "Invalid value on line 1 (wait_ms -5)\n";
    QTest::addRow("wait beyond 16 bits") << QStringList{"wait_ms 70000"} << "Invalid value on line 1 (wait_ms 70000)\n";
    QTest::addRow("wait not a number") << QStringList{"wait_ms soon"} << "Invalid value on line 1 (wait_ms soon)\n";
    QTest::addRow("longest wait") << QStringList{"wait_ms 65535"} << "";
}

void TestI2cScript::validation()
{
    QFETCH(QStringList, lines);
    QFETCH(QString, err);

    QString actual;
    const bool ok = canParseScript(actual, lines);
    QCOMPARE(actual, err);
    QCOMPARE(ok, err.isEmpty());
}

void TestI2cScript::validationAppendsToExistingError()
{
    QString err = QStringLiteral("earlier\n");
    QVERIFY(!canParseScript(err, {QStringLiteral("bogus")}));
    QCOMPARE(err, QStringLiteral("earlier\nUnrecognized command on line 1 (bogus)\n"));
}

void TestI2cScript::compileLine_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<ScriptLine>("expected");

    QTest::addRow("empty") << "" << ofKind(ScriptLine::Skip);
    QTest::addRow("blank") << " \t \r" << ofKind(ScriptLine::Skip);
    QTest::addRow("unknown keyword") << "frobnicate 1 2" << ofKind(ScriptLine::Skip);
    QTest::addRow("too short") << "read_register 41" << ofKind(ScriptLine::Skip);
    QTest::addRow("wait_ms without value") << "wait_ms" << ofKind(ScriptLine::Skip);

    QTest::addRow("comment joined, case kept") << "  #   Hello  \t  World\r" << [] {
        ScriptLine l = ofKind(ScriptLine::Comment);
        l.comment = QStringLiteral("# Hello World");
        return l;
    }();

    auto wait = [](unsigned int ms) {
        ScriptLine l = ofKind(ScriptLine::WaitMs);
        l.waitMs = ms;
        return l;
    };
    QTest::addRow("wait 10 is raised") << "wait_ms 10" << wait(1000);
    QTest::addRow("wait 2500") << "wait_ms 2500" << wait(2500);
    QTest::addRow("wait 65535") << "wait_ms 65535" << wait(65535);
    // Refused by validation; run unchecked, they wait the shortest time.
    QTest::addRow("wait garbage") << "wait_ms soon" << wait(1000);
    QTest::addRow("wait 70000") << "wait_ms 70000" << wait(1000);
    QTest::addRow("wait 40 digits") << "wait_ms 1234567890123456789012345678901234567890" << wait(1000);
    QTest::addRow("wait in capitals") << "WAIT_MS 3000\r" << wait(3000);

    ScriptLine readBulk = ofKind(ScriptLine::ReadBulk);
    readBulk.regAddr = hex("10");
    readBulk.command = hex("2030");
    readBulk.bulkSize = 0x1f;
    QTest::addRow("read_bulk") << "read_bulk 10 2030 0x1f" << readBulk;
    readBulk.bulkSize = 0xffff;
    QTest::addRow("read_bulk largest size") << "read_bulk 10 2030 ffff" << readBulk;

    auto writeBulk = [](const QByteArray &data, unsigned int delay) {
        ScriptLine l = ofKind(ScriptLine::WriteBulk);
        l.regAddr = hex("10");
        l.command = hex("20");
        l.data = data;
        l.packetDelay = delay;
        return l;
    };
    QTest::addRow("write_bulk null") << "write_bulk 10 20 null" << writeBulk({}, 10);
    QTest::addRow("write_bulk NULL with delay") << "WRITE_BULK 10 20 NULL 25" << writeBulk({}, 25);
    QTest::addRow("write_bulk aabb delay 0") << "write_bulk 10 20 aabb 0" << writeBulk(hex("aabb"), 0);
    QTest::addRow("write_bulk delay garbage") << "write_bulk 10 20 aabb later" << writeBulk(hex("aabb"), 0);

    auto readReg = [](const char *addr, signed char size) {
        ScriptLine l = ofKind(ScriptLine::ReadRegister);
        l.regAddr = hex(addr);
        l.readSize = size;
        return l;
    };
    QTest::addRow("read_register") << "read_register 41 1" << readReg("41", 1);
    QTest::addRow("read_register in capitals, CRLF") << "READ_REGISTER 0x41 0X2\r" << readReg("41", 2);
    QTest::addRow("read_register size 7f") << "read_register 41 7f" << readReg("41", 127);

    auto writeReg = [](const QByteArray &addr, const char *value) {
        ScriptLine l = ofKind(ScriptLine::WriteRegister);
        l.regAddr = addr;
        l.data = hex(value);
        return l;
    };
    QTest::addRow("write_register with 0x") << "write_register 0x01 0x3C" << writeReg(hex("01"), "3c");
    QTest::addRow("write_register odd digits") << "write_register 123 1234" << writeReg(hex("0123"), "1234");
    QTest::addRow("write_bytes") << "write_bytes 0a0b" << writeReg({}, "0a0b");

    QTest::addRow("send_byte") << "pmbus_send_byte 3" << pmbus(false, "03", 0, {});
    QTest::addRow("command is the last byte") << "pmbus_send_byte 0021" << pmbus(false, "21", 0, {});
    QTest::addRow("write_byte") << "pmbus_write_byte 21 5" << pmbus(false, "21", 0, hex("05"));
    QTest::addRow("write_byte leading zeros") << "pmbus_write_byte 21 0005" << pmbus(false, "21", 0, hex("05"));
    QTest::addRow("read_byte") << "pmbus_read_byte 21" << pmbus(true, "21", 0, hex("00"));
    // Most significant first here; the worker turns it around for the wire.
    QTest::addRow("write_word 1") << "pmbus_write_word 21 1" << pmbus(false, "21", 0, hex("0001"));
    QTest::addRow("write_word in capitals") << "PMBUS_WRITE_WORD 0X21 0XABCD" << pmbus(false, "21", 0, hex("abcd"));
    QTest::addRow("write_word leading zeros") << "pmbus_write_word 21 000001" << pmbus(false, "21", 0, hex("0001"));
    QTest::addRow("read_word") << "pmbus_read_word 8b" << pmbus(true, "8b", 0, hex("0000"));
    QTest::addRow("write_block padded") << "pmbus_write_block 21 4 abc" << pmbus(false, "21", 1, hex("00000abc"));
    QTest::addRow("write_block size above ffff")
        << "pmbus_write_block 21 10000 0a0b" << pmbus(false, "21", 1, hex("0a0b"));
    QTest::addRow("read_block") << "pmbus_read_block 21 3" << pmbus(true, "21", 1, hex("000000"));
    QTest::addRow("read_block size low byte") << "pmbus_read_block 21 1ff" << pmbus(true, "21", 1, QByteArray(0xff, '\0'));
    QTest::addRow("read_block size above ffff") << "pmbus_read_block 21 10000" << pmbus(true, "21", 1, {});
}

void TestI2cScript::compileLine()
{
    QFETCH(QString, line);
    QFETCH(ScriptLine, expected);

    const ScriptLine actual = I2cScript::compileLine(line);
    QCOMPARE(actual.kind, expected.kind);
    QCOMPARE(actual.comment, expected.comment);
    QCOMPARE(actual.waitMs, expected.waitMs);
    QCOMPARE(actual.regAddr, expected.regAddr);
    QCOMPARE(actual.command, expected.command);
    QCOMPARE(actual.bulkSize, expected.bulkSize);
    QCOMPARE(actual.data, expected.data);
    QCOMPARE(actual.packetDelay, expected.packetDelay);
    QCOMPARE(actual.readSize, expected.readSize);
    QCOMPARE(actual.pmbus.isRead, expected.pmbus.isRead);
    QCOMPARE(actual.pmbus.command, expected.pmbus.command);
    QCOMPARE(actual.pmbus.isBlockProtocol, expected.pmbus.isBlockProtocol);
    QCOMPARE(actual.pmbus.data, expected.pmbus.data);
}

// Device classes build their scripts from the templates; a template that
// drifts from its keyword would be skipped silently when run.
void TestI2cScript::templatesCompileToTheirKind()
{
    const QList<QPair<QString, ScriptLine::Kind>> lines = {
        {QString(i2c_comment_f).arg("note"), ScriptLine::Comment},
        {QString(i2c_wait_ms_f).arg(1500), ScriptLine::WaitMs},
        {QString(i2c_read_bulk_f).arg("10", "20", "4"), ScriptLine::ReadBulk},
        {QString(i2c_write_bulk_f).arg("10", "20", i2c_no_parameter), ScriptLine::WriteBulk},
        {QString(i2c_read_reg_f).arg("41", "1"), ScriptLine::ReadRegister},
        {QString(i2c_write_reg_f).arg("41", "3c"), ScriptLine::WriteRegister},
        {QString(i2c_write_bytes_f).arg("0a"), ScriptLine::WriteRegister},
        {QString(i2c_pmbus_send_byte_f).arg("3"), ScriptLine::Pmbus},
        {QString(i2c_pmbus_write_byte_f).arg("21", "5"), ScriptLine::Pmbus},
        {QString(i2c_pmbus_read_byte_f).arg("21"), ScriptLine::Pmbus},
        {QString(i2c_pmbus_write_word_f).arg("21", "1"), ScriptLine::Pmbus},
        {QString(i2c_pmbus_read_word_f).arg("21"), ScriptLine::Pmbus},
        {QString(i2c_pmbus_write_block_f).arg("21", "2", "abcd"), ScriptLine::Pmbus},
        {QString(i2c_pmbus_read_block_f).arg("21", "2"), ScriptLine::Pmbus},
    };
    QStringList script;
    for (const auto &[line, kind] : lines) {
        QCOMPARE(I2cScript::compileLine(line).kind, kind);
        script << line;
    }
    QString err;
    QVERIFY2(canParseScript(err, script), qPrintable(err));
}

// Whatever validation accepts must run as a well-formed request: nothing
// accepted is dropped, and PMBus data has the width of its transfer.
void TestI2cScript::acceptedLinesRunAsChecked()
{
    const QStringList keywords = {i2c_wait_ms, i2c_read_bulk, i2c_write_bulk, i2c_read_reg, i2c_write_reg,
                                  i2c_write_bytes, i2c_pmbus_send_byte, i2c_pmbus_write_byte,
                                  i2c_pmbus_read_byte, i2c_pmbus_write_word, i2c_pmbus_read_word,
                                  i2c_pmbus_write_block, i2c_pmbus_read_block};
    const QStringList tokens = {"0",    "1",   "21",   "0x21", "0X3c", "ff",   "100",  "0001", "abcde",
                                "null", "NULL", "zz",  "0x",   "0x0x1", "1x2", "ffff", "10000", "-1",
                                "ffffffffffffffffffffffffffffffffffffffff", "12345", "#", "\xe9"};
    QRandomGenerator rng(4711);
    int accepted = 0;
    for (int i = 0; i < 20000; ++i) {
        QString line = keywords.at(rng.bounded(int(keywords.size())));
        if (rng.bounded(2))
            line = line.toUpper();
        const int count = rng.bounded(5);
        for (int j = 0; j < count; ++j)
            line += QLatin1Char(' ') + tokens.at(rng.bounded(int(tokens.size())));
        if (rng.bounded(4) == 0)
            line += QLatin1Char('\r');

        QString err;
        if (!canParseScript(err, {line}))
            continue;
        ++accepted;
        const ScriptLine compiled = I2cScript::compileLine(line);
        const QStringList t = I2cScript::parseScriptLine(line.trimmed().toLower());
        if (t.size() == 1 && t.first() == i2c_wait_ms)
            continue;
        QVERIFY2(compiled.kind != ScriptLine::Skip, qPrintable(line));
        if (compiled.kind != ScriptLine::Pmbus)
            continue;
        QVERIFY2(compiled.pmbus.command.size() == 1, qPrintable(line));
        if (t.first() == i2c_pmbus_write_byte)
            QVERIFY2(compiled.pmbus.data.size() == 1, qPrintable(line));
        if (t.first() == i2c_pmbus_write_word)
            QVERIFY2(compiled.pmbus.data.size() == 2, qPrintable(line));
        if (t.first() == i2c_pmbus_write_block)
            QVERIFY2(compiled.pmbus.data.size() == qsizetype(Utils::fromHexString(t.at(2))), qPrintable(line));
    }
    // The generator must reach the interesting part.
    QVERIFY(accepted > 1000);
}

void TestI2cScript::hostileInput()
{
    QByteArray binary;
    for (int i = 0; i < 256; ++i)
        binary.append(char(i));
    const QStringList lines = {
        QString::fromLatin1(binary),
        QStringLiteral("write_register ") + QString::fromLatin1(binary),
        QStringLiteral("pmbus_write_block 21 ff ") + QString(600, QLatin1Char('f')),
        QStringLiteral("pmbus_write_block ffffffffffffffffffffffffffffffffffffffff "
                       "ffffffffffffffffffffffffffffffffffffffff ffffffffffffffffffffffffffffffffffffffff"),
        QStringLiteral("read_register 41 ffffffffffffffffffffffffffffffffffffffff"),
        QStringLiteral("read_bulk 1 2 ffffffffffffffffffffffffffffffffffffffff"),
        QStringLiteral("write_bulk 1 2 3 99999999999999999999999999999999"),
        QString(QChar(0)) + QStringLiteral("read_register 41 1"),
        QString(100000, QLatin1Char(' ')),
        QStringLiteral("pmbus_read_block"),
    };
    QString err;
    QVERIFY(!canParseScript(err, lines));
    // The binary lines echo their own line breaks, so count the messages.
    QCOMPARE(err.count(QStringLiteral(" on line ")), 10);
    for (const QString &line : lines)
        I2cScript::compileLine(line);

    // A 40-digit size is not a field's worth of anything; the read stays empty.
    QCOMPARE(I2cScript::compileLine(QStringLiteral("pmbus_read_block 21 ffffffffffffffffffffffffffffffffffffffff"))
                 .pmbus.data,
             QByteArray());
    QCOMPARE(I2cScript::compileLine(lines.at(4)).readSize, 0);
}

void TestI2cScript::largeScript()
{
    QStringList script;
    script.reserve(100000);
    for (int i = 0; i < 100000; ++i)
        script << QString(i2c_write_reg_f).arg(QString::number(i % 256, 16), QString::number(i % 255, 16));
    QString err;
    QVERIFY(canParseScript(err, script));

    // Every bad line is reported, and with its own number.
    script.last() = QStringLiteral("bogus");
    script.first() = QStringLiteral("bogus");
    QVERIFY(!canParseScript(err, script));
    QCOMPARE(err, QStringLiteral("Unrecognized command on line 1 (bogus)\n"
                                 "Unrecognized command on line 100000 (bogus)\n"));
}

PANEL_TEST_MAIN(TestI2cScript)
#include "tst_i2cscript.moc"

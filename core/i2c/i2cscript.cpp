#include "i2cscript.h"

#include "utils/utils.h"


#include <algorithm>

namespace I2cScript {

namespace {

// Faults of one line; a line reports each kind once.
enum Fault : unsigned {
    UnrecognizedCommand = 0x01,
    InvalidCommand = 0x02,
    InvalidBlockSize = 0x04,
    InvalidValue = 0x08,
};

constexpr unsigned blockSizeLimit = 0xFF;

QStringView withoutHexPrefix(const QString &token)
{
    QStringView digits(token);
    if (digits.startsWith(QLatin1StringView("0x"), Qt::CaseInsensitive))
        digits = digits.mid(2);
    return digits;
}

bool isHexDigit(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'f') || (u >= u'A' && u <= u'F');
}

// Value bytes without their leading zero bytes; a zero value gives none.
qsizetype significantBytes(const QByteArray &bytes)
{
    qsizetype first = 0;
    while (first < bytes.size() && bytes.at(first) == '\0')
        ++first;
    return bytes.size() - first;
}

// A hex number of at most maxBytes significant bytes, however many leading
// zeros it is written with.
bool fitsBytes(const QString &token, qsizetype maxBytes)
{
    return isHexToken(token) && significantBytes(bytesFromToken(token)) <= maxBytes;
}

// Exactly width bytes when the value fits: leading zero bytes dropped or
// added. A wider value is kept whole rather than cut.
QByteArray toWidth(QByteArray bytes, qsizetype width)
{
    const qsizetype extra = std::min(bytes.size() - width, bytes.size() - significantBytes(bytes));
    if (extra > 0)
        bytes.remove(0, extra);
    if (bytes.size() < width)
        bytes.prepend(QByteArray(width - bytes.size(), '\0'));
    return bytes;
}

// Block sizes travel in one byte; validation wants a real number up to 0xFF,
// while a running script follows the size rule of the wire format.
bool isBlockSize(const QString &token)
{
    const unsigned size = Utils::fromHexString(token);
    if (size > blockSizeLimit)
        return false;
    // fromHexString() answers 0 for text that is not a number or too wide.
    if (size == 0) {
        QString digits = token;
        digits.remove(QStringLiteral("0x"));
        return !digits.isEmpty() && std::all_of(digits.cbegin(), digits.cend(), [](QChar c) { return c == u'0'; });
    }
    return true;
}

unsigned char runBlockSize(const QString &token)
{
    const unsigned size = Utils::fromHexString(token);
    return size > 0xFFFF ? 0 : static_cast<unsigned char>(size & 0xFF);
}

// A size or count written in hex that fits its parameter; value is 0 when
// it does not, which is what a refused line runs with if run unchecked.
bool hexNumber(const QString &token, unsigned limit, unsigned &value)
{
    value = 0;
    if (!fitsBytes(token, 4))
        return false;
    const unsigned parsed = Utils::uintFromHexBA(bytesFromToken(token));
    if (parsed > limit)
        return false;
    value = parsed;
    return true;
}

// Waits and packet delays: decimal milliseconds up to this many. Anything
// longer, negative or not a number is refused rather than wrapped, cut or
// replaced, so a script never waits other than it says.
constexpr unsigned int longestWaitMs = 65535;

bool milliseconds(const QString &token, unsigned int &value)
{
    value = 0;
    const auto isDigit = [](QChar c) { return c >= u'0' && c <= u'9'; };
    if (token.isEmpty() || !std::all_of(token.cbegin(), token.cend(), isDigit))
        return false;
    bool ok = false;
    const qulonglong parsed = token.toULongLong(&ok, 10);
    if (!ok || parsed > longestWaitMs)
        return false;
    value = static_cast<unsigned int>(parsed);
    return true;
}

enum class Op {
    WaitMs, ReadBulk, WriteBulk, ReadReg, WriteReg, WriteBytes,
    PmbusSendByte, PmbusWriteByte, PmbusReadByte, PmbusWriteWord, PmbusReadWord,
    PmbusWriteBlock, PmbusReadBlock,
};

struct Keyword
{
    QLatin1StringView name;
    Op op;
    qsizetype minTokens; // keyword included
};

constexpr Keyword keywords[] = {
    {i2c_wait_ms, Op::WaitMs, 1},
    {i2c_read_bulk, Op::ReadBulk, 4},
    {i2c_write_bulk, Op::WriteBulk, 4},
    {i2c_read_reg, Op::ReadReg, 3},
    {i2c_write_reg, Op::WriteReg, 3},
    {i2c_write_bytes, Op::WriteBytes, 2},
    {i2c_pmbus_send_byte, Op::PmbusSendByte, 2},
    {i2c_pmbus_write_byte, Op::PmbusWriteByte, 3},
    {i2c_pmbus_read_byte, Op::PmbusReadByte, 2},
    {i2c_pmbus_write_word, Op::PmbusWriteWord, 3},
    {i2c_pmbus_read_word, Op::PmbusReadWord, 2},
    {i2c_pmbus_write_block, Op::PmbusWriteBlock, 4},
    {i2c_pmbus_read_block, Op::PmbusReadBlock, 3},
};

const Keyword *findKeyword(const QString &token)
{
    for (const Keyword &k : keywords) {
        if (token == k.name)
            return &k;
    }
    return nullptr;
}

// Checks the byte arguments at the given token positions.
void checkBytes(unsigned &faults, const QStringList &t, std::initializer_list<qsizetype> positions)
{
    for (const qsizetype i : positions) {
        if (!isHexToken(t.at(i)))
            faults |= InvalidValue;
    }
}

ScriptLine pmbusLine(bool isRead, const QString &code, unsigned char isBlock, const QByteArray &data)
{
    ScriptLine line;
    line.kind = ScriptLine::Pmbus;
    line.pmbus.isRead = isRead;
    line.pmbus.command = bytesFromToken(code).right(1);
    line.pmbus.isBlockProtocol = isBlock;
    line.pmbus.data = data;
    return line;
}

// The one parser: the line as it will run, and the faults validation reports.
ScriptLine analyse(const QString &text, unsigned &faults)
{
    faults = 0;
    QStringList t = parseScriptLine(text.trimmed());
    ScriptLine line;
    if (t.isEmpty())
        return line;
    if (t.first().startsWith(i2c_comment)) {
        line.kind = ScriptLine::Comment;
        line.comment = t.join(u' ');
        return line;
    }
    for (QString &token : t)
        token = token.toLower();

    const Keyword *keyword = findKeyword(t.first());
    if (!keyword || t.size() < keyword->minTokens) {
        faults |= UnrecognizedCommand;
        return line;
    }

    switch (keyword->op) {
    case Op::WaitMs:
        // Accepted without a value, but there is nothing to wait for.
        if (t.size() >= 2) {
            constexpr unsigned int shortest = 1000;
            unsigned int ms = 0;
            if (!milliseconds(t.at(1), ms))
                faults |= InvalidValue;
            line.kind = ScriptLine::WaitMs;
            line.waitMs = std::max(ms, shortest);
        }
        break;
    case Op::ReadBulk: {
        checkBytes(faults, t, {1, 2});
        unsigned size = 0;
        if (!hexNumber(t.at(3), 0xFFFF, size))
            faults |= InvalidValue;
        line.kind = ScriptLine::ReadBulk;
        line.regAddr = bytesFromToken(t.at(1));
        line.command = bytesFromToken(t.at(2));
        line.bulkSize = static_cast<unsigned short>(size);
        break;
    }
    case Op::WriteBulk: {
        const bool noData = t.at(3) == i2c_no_parameter;
        checkBytes(faults, t, {1, 2});
        if (!noData)
            checkBytes(faults, t, {3});
        constexpr unsigned int defaultDelay = 10;
        unsigned int delay = defaultDelay;
        if (t.size() >= 5 && !milliseconds(t.at(4), delay))
            faults |= InvalidValue;
        line.kind = ScriptLine::WriteBulk;
        line.regAddr = bytesFromToken(t.at(1));
        line.command = bytesFromToken(t.at(2));
        line.data = noData ? QByteArray() : bytesFromToken(t.at(3));
        line.packetDelay = delay;
        break;
    }
    case Op::ReadReg: {
        checkBytes(faults, t, {1});
        // The worker takes the size as a signed byte.
        unsigned size = 0;
        if (!hexNumber(t.at(2), 0x7F, size))
            faults |= InvalidValue;
        line.kind = ScriptLine::ReadRegister;
        line.regAddr = bytesFromToken(t.at(1));
        line.readSize = static_cast<signed char>(size);
        break;
    }
    case Op::WriteReg:
        checkBytes(faults, t, {1, 2});
        line.kind = ScriptLine::WriteRegister;
        line.regAddr = bytesFromToken(t.at(1));
        line.data = bytesFromToken(t.at(2));
        break;
    case Op::WriteBytes:
        checkBytes(faults, t, {1});
        line.kind = ScriptLine::WriteRegister;
        line.data = bytesFromToken(t.at(1));
        break;
    default: {
        // PMBus: the command code is one byte, whatever else the line holds.
        if (!fitsBytes(t.at(1), 1))
            faults |= InvalidCommand;
        switch (keyword->op) {
        case Op::PmbusSendByte:
            line = pmbusLine(false, t.at(1), 0, QByteArray());
            break;
        case Op::PmbusWriteByte:
            if (!fitsBytes(t.at(2), 1))
                faults |= InvalidValue;
            line = pmbusLine(false, t.at(1), 0, toWidth(bytesFromToken(t.at(2)), 1));
            break;
        case Op::PmbusReadByte:
            line = pmbusLine(true, t.at(1), 0, QByteArray(1, '\0'));
            break;
        case Op::PmbusWriteWord:
            if (!fitsBytes(t.at(2), 2))
                faults |= InvalidValue;
            line = pmbusLine(false, t.at(1), 0, toWidth(bytesFromToken(t.at(2)), 2));
            break;
        case Op::PmbusReadWord:
            line = pmbusLine(true, t.at(1), 0, QByteArray(2, '\0'));
            break;
        case Op::PmbusWriteBlock: {
            const bool sizeOk = isBlockSize(t.at(2));
            if (!sizeOk)
                faults |= InvalidBlockSize;
            const unsigned char size = runBlockSize(t.at(2));
            // A size that is itself invalid says nothing about the data.
            if (!isHexToken(t.at(3)) || (sizeOk && withoutHexPrefix(t.at(3)).size() > 2 * qsizetype(size)))
                faults |= InvalidValue;
            line = pmbusLine(false, t.at(1), 1, toWidth(bytesFromToken(t.at(3)), size));
            break;
        }
        case Op::PmbusReadBlock:
            if (!isBlockSize(t.at(2)))
                faults |= InvalidBlockSize;
            line = pmbusLine(true, t.at(1), 1, QByteArray(runBlockSize(t.at(2)), '\0'));
            break;
        default:
            break;
        }
        break;
    }
    }
    return line;
}

} // namespace

QStringList parseScriptLine(const QString &line)
{
    // The same split as at i2c_token_seperators, done by hand: a regular
    // expression costs more than the rest of a simulated transfer, and the
    // worker splits every line of every script.
    QStringList tokens;
    qsizetype start = -1;
    for (qsizetype i = 0; i <= line.size(); ++i) {
        const bool separator = i == line.size() || line.at(i) == QLatin1Char(' ')
            || line.at(i) == QLatin1Char('\t');
        if (separator && start >= 0) {
            tokens << line.mid(start, i - start);
            start = -1;
        } else if (!separator && start < 0) {
            start = i;
        }
    }
    return tokens;
}

bool canParseScript(QString &err, const QStringList &lines)
{
    // In the order the checks run: a block size is judged before its data.
    struct Message { Fault fault; const char *text; };
    static constexpr Message messages[] = {
        {UnrecognizedCommand, "Unrecognized command on line %1 (%2)\n"},
        {InvalidCommand, "Invalid command on line %1 (%2)\n"},
        {InvalidBlockSize, "Invalid block size on line %1 (%2)\n"},
        {InvalidValue, "Invalid value on line %1 (%2)\n"},
    };
    for (qsizetype i = 0; i < lines.size(); ++i) {
        unsigned faults = 0;
        analyse(lines.at(i), faults);
        if (!faults)
            continue;
        // A CRLF script shows the same text as its LF twin.
        QString shown = lines.at(i);
        while (shown.endsWith(u'\r'))
            shown.chop(1);
        const QString number = QString::number(i + 1);
        for (const Message &m : messages) {
            // One pass over the template, so a '%' in the line stays as it is.
            if (faults & m.fault)
                err += QLatin1StringView(m.text).arg(number, shown);
        }
    }
    return err.isEmpty();
}

QByteArray bytesFromToken(const QString &token)
{
    return QByteArray::fromHex(withoutHexPrefix(token).toLatin1());
}

bool isHexToken(const QString &token)
{
    const QStringView digits = withoutHexPrefix(token);
    return !digits.isEmpty() && std::all_of(digits.begin(), digits.end(), isHexDigit);
}

ScriptLine compileLine(const QString &line)
{
    unsigned faults = 0;
    return analyse(line, faults);
}

} // namespace I2cScript

#include "utils.h"

#include "crc.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace {

constexpr double kDegreesPerRadian = 57.29577951308232;
constexpr double kRadiansPerDegree = 0.017453292519943295;

QString hexText(unsigned value, int width, bool prefix)
{
    const QString digits = QString::number(value, 16).rightJustified(width, QLatin1Char('0'));
    return prefix ? QStringLiteral("0x") + digits : digits;
}

// File helpers accept local-file URLs as well as plain paths.
QString filePath(const QString &path)
{
    const QUrl url(path);
    return url.isLocalFile() ? url.toLocalFile() : path;
}

QString paramLine(const QString &name, int width, const QString &value)
{
    return QStringLiteral("  ") + name.rightJustified(width, QLatin1Char(' ')) + QStringLiteral(" = ")
        + value + QLatin1Char('\n');
}

// Keeps shifts and 2^total well defined for any format handed in.
int qformatWidth(int intBits, int fracBits)
{
    const qint64 total = qint64(intBits) + qint64(fracBits);
    return int(std::clamp<qint64>(total, 0, 62));
}

double vidStepVolts(int vidStepMv)
{
    return vidStepMv / 1000.0;
}

double vidBaseVolts(int vidStepMv)
{
    return vidStepMv == 5 ? 0.245 : 0.19;
}

} // namespace

Utils *Utils::m_instance = nullptr;

Utils::Utils(QObject *parent)
    : QObject(parent)
{
}

Utils::~Utils()
{
    if (m_instance == this)
        m_instance = nullptr;
}

Utils *Utils::getInstance()
{
    if (!m_instance) {
        m_instance = new Utils;
        static const bool teardownRegistered = [] {
            qAddPostRoutine([] { delete m_instance; });
            return true;
        }();
        Q_UNUSED(teardownRegistered)
    }
    return m_instance;
}

// ---- DAT identifiers

QString Utils::mkDat(const QString &dongleId, const QString &address, const QString &type)
{
    return dongleId + datSeperator + address + datSeperator + type;
}

QStringList Utils::exDat(const QString &dat)
{
    return dat.split(datSeperator, Qt::KeepEmptyParts, Qt::CaseSensitive);
}

bool Utils::goodDat(const QString &dat)
{
    return !dat.isEmpty() && dat.count(datSeperator) == 2;
}

QString Utils::datAddress(const QString &dat)
{
    const QStringList parts = exDat(dat);
    return parts.size() == 3 ? parts.at(1) : QString();
}

QString Utils::datType(const QString &dat)
{
    const QStringList parts = exDat(dat);
    return parts.size() == 3 ? parts.at(2).toLower() : QString();
}

QString Utils::datToKey(const QString &dat)
{
    const qsizetype first = dat.indexOf(datSeperator);
    QString key = dat;
    key.replace(datSeperator, QStringLiteral("_"));
    return first < 0 ? key : key.mid(first);
}

QString Utils::datFromKey(const QString &key)
{
    QString dat = key;
    return dat.replace(QStringLiteral("_"), datSeperator);
}

// ---- Hexadecimal text

QString Utils::toHexString(unsigned value, unsigned char width, bool prefix)
{
    return hexText(value, width, prefix);
}

QString Utils::toHexAddress(unsigned value, unsigned char width)
{
    return hexText(value, width, true);
}

QString Utils::toHexString(const QByteArray &value, unsigned char width, bool prefix)
{
    return hexText(uintFromHexBA(value), width, prefix);
}

QString Utils::toHexAddress(const QByteArray &value, unsigned char width)
{
    const qsizetype digits = width ? qsizetype(width) : value.size() * 2;
    return hexText(uintFromHexBA(value), int(std::min<qsizetype>(digits, std::numeric_limits<int>::max())),
                   true);
}

unsigned Utils::fromHexString(const QString &text)
{
    QString digits = text;
    digits.remove(QStringLiteral("0x"), Qt::CaseSensitive);
    bool ok = false;
    const unsigned value = digits.toUInt(&ok, 16);
    return ok ? value : 0;
}

unsigned Utils::fromHexAddress(const QString &text)
{
    return fromHexString(text);
}

// ---- Byte strings

QByteArray Utils::uintToHexBA(unsigned value, unsigned char digits)
{
    QByteArray text = QByteArray::number(value, 16).rightJustified(digits, '0');
    // An odd digit count becomes a leading half byte.
    if (text.size() % 2)
        text.prepend('0');
    return QByteArray::fromHex(text);
}

unsigned Utils::uintFromHexBA(const QByteArray &bytes)
{
    // Leading zero bytes do not make a number wider.
    qsizetype first = 0;
    while (first < bytes.size() && bytes.at(first) == '\0')
        ++first;
    if (bytes.size() - first > 4)
        return 0;
    unsigned value = 0;
    for (qsizetype i = first; i < bytes.size(); ++i)
        value = (value << 8) | static_cast<unsigned char>(bytes.at(i));
    return value;
}

QByteArray Utils::reverseHexBA(const QByteArray &bytes)
{
    QByteArray reversed = bytes;
    std::reverse(reversed.begin(), reversed.end());
    return reversed;
}

QString Utils::formatHexBA(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex('_'));
}

QString Utils::formatHexList(const QList<unsigned short> &values)
{
    QStringList texts;
    texts.reserve(values.size());
    for (const unsigned short value : values)
        texts.append(QString::number(value, 16));
    return texts.join(QLatin1Char(','));
}

QString Utils::formatHexList(const QList<QByteArray> &values)
{
    QStringList texts;
    texts.reserve(values.size());
    for (const QByteArray &value : values)
        texts.append(QString::fromLatin1(value.toHex()));
    return texts.join(QLatin1Char(','));
}

void Utils::printHexBAMap(const QMap<QByteArray, QByteArray> &map, const QString &title)
{
    qDebug().noquote() << title;
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        qDebug().noquote() << QStringLiteral("%1 = %2").arg(QString::fromLatin1(it.key().toHex()),
                                                            QString::fromLatin1(it.value().toHex()));
}

QString Utils::formatParam(const QString &name, double value, int width, char format)
{
    return paramLine(name, width, QString::number(value, format, 10));
}

QString Utils::formatParam(const QString &name, const QString &text, int width)
{
    return paramLine(name, width, text);
}

// ---- Files

QString Utils::localFileFromUrl(const QUrl &url)
{
    return url.isLocalFile() ? url.toLocalFile() : url.toString();
}

QStringList Utils::readTextFile(const QString &path)
{
    QFile file(filePath(path));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    // Latin-1 like writeTextFile(), so that what we write reads back unchanged.
    return QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'), Qt::KeepEmptyParts);
}

bool Utils::writeTextFile(const QString &path, const QString &text)
{
    QFile file(filePath(path));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return false;
    const QByteArray data = text.toLatin1();
    return file.write(data) == data.size() && file.flush();
}

// ---- Checksums

unsigned char Utils::crc8(const QByteArray &data)
{
    unsigned char crc = 0;
    const auto *bytes = reinterpret_cast<const unsigned char *>(data.constData());
    // CRC8() takes an int length; feed very large arrays in pieces.
    for (qsizetype done = 0; done < data.size();) {
        const int chunk = int(std::min<qsizetype>(data.size() - done, std::numeric_limits<int>::max()));
        crc = CRC8(crc, chunk, bytes + done);
        done += chunk;
    }
    return crc;
}

unsigned int Utils::crc32(const QByteArray &data)
{
    unsigned int crc = 0xFFFFFFFFu;
    const auto *bytes = reinterpret_cast<const unsigned char *>(data.constData());
    const qsizetype words = data.size() / 4;
    for (qsizetype i = 0; i < words; ++i) {
        const unsigned char *w = bytes + 4 * i;
        CRC32Value(&crc, unsigned(w[0]) | unsigned(w[1]) << 8 | unsigned(w[2]) << 16 | unsigned(w[3]) << 24);
    }
    return crc;
}

// ---- Angles and complex values

double Utils::toDegrees(double radians)
{
    return radians * kDegreesPerRadian;
}

double Utils::toRadians(double degrees)
{
    return degrees * kRadiansPerDegree;
}

double Utils::magnitude(const std::complex<double> &z)
{
    return std::abs(z);
}

double Utils::dbMagnitude(const std::complex<double> &z)
{
    return 20.0 * std::log10(magnitude(z));
}

double Utils::angle(const std::complex<double> &z, bool inDegrees)
{
    const double radians = std::atan2(z.imag(), z.real());
    return inDegrees ? toDegrees(radians) : radians;
}

void Utils::generateSineWave(QByteArray &buffer, unsigned short length, unsigned char amplitude,
                             unsigned char offsetDeg, unsigned char stepDeg, unsigned char bytesPerSample)
{
    buffer.resize(length, '\0');
    if (buffer.isEmpty() || bytesPerSample == 0)
        return;
    // The position must be wider than length: a 16-bit counter wraps to 0
    // near 65535 and never reaches the end.
    for (unsigned p = 0; p < length; p += bytesPerSample) {
        const unsigned degrees = (p * stepDeg + offsetDeg) % 360;
        const float s = std::sin(static_cast<float>(degrees * kRadiansPerDegree));
        const auto value = static_cast<qint64>(s * amplitude);
        for (unsigned k = 0; k < bytesPerSample && p + k < length; ++k) {
            // Beyond the width of the value only its sign remains.
            const unsigned shift = std::min(8u * k, 63u);
            buffer[qsizetype(p + k)] = static_cast<char>((value >> shift) & 0xFF);
        }
    }
}

// ---- Fixed point

int Utils::qformatEncode(double value, int intBits, int fracBits, bool isSigned)
{
    if (std::isnan(value))
        return 0;
    const int total = qformatWidth(intBits, fracBits);
    const qint64 hi = (qint64(1) << total) - 1;
    const qint64 lo = isSigned ? -(qint64(1) << total) : 0;
    const double scaled = std::ldexp(value, fracBits);
    const double rounded = std::trunc(scaled >= 0 ? scaled + 0.5 : scaled - 0.5);
    // Saturate before converting: a double beyond the integer range cannot be
    // converted at all.
    qint64 word;
    if (rounded >= double(hi))
        word = hi;
    else if (rounded <= double(lo))
        word = lo;
    else
        word = static_cast<qint64>(rounded);
    const int bits = isSigned ? total + 1 : total;
    const quint64 mask = (quint64(1) << bits) - 1;
    return static_cast<int>(static_cast<quint64>(word) & mask);
}

double Utils::qformatDecode(int raw, int intBits, int fracBits, bool isSigned)
{
    const int total = qformatWidth(intBits, fracBits);
    const qint64 signBit = qint64(1) << total;
    qint64 word = raw;
    if (isSigned && (word & signBit))
        word |= -signBit;
    else
        word &= signBit - 1;
    return std::ldexp(double(word), -fracBits);
}

// ---- Voltage-identification grid

double Utils::calculateVidVoltage(int vidStepMv, int vidTableIdx)
{
    return vidTableIdx * vidStepVolts(vidStepMv) + vidBaseVolts(vidStepMv);
}

int Utils::calculateVidIndex(int vidStepMv, double vidTableVoltage)
{
    // Without a positive step there is no grid to index: 0.
    if (vidStepMv <= 0)
        return 0;
    const double index = std::round((vidTableVoltage - vidBaseVolts(vidStepMv)) / vidStepVolts(vidStepMv));
    if (std::isnan(index))
        return 0;
    return int(std::clamp(index, double(std::numeric_limits<int>::min()),
                          double(std::numeric_limits<int>::max())));
}

double Utils::closestVidVoltage(int vidStepMv, double desiredVidVoltage)
{
    // Without a positive step there is no grid to snap to: the voltage is kept.
    if (vidStepMv <= 0)
        return desiredVidVoltage;
    // Steps of a volt or more are still a regular grid from the same base.
    return calculateVidVoltage(vidStepMv, calculateVidIndex(vidStepMv, desiredVidVoltage));
}

// ---- Comparison

bool Utils::isFuzzySame(double d1, double d2, const char *ctx, bool verbose)
{
    // d1 == d2 rather than d1 - d2 == 0 so that equal infinities also match.
    if (d1 == d2 || d1 == 0.0)
        return true;
    const double diff = std::abs(d1 - d2);
    // Relative to |d1|: a negative reference would otherwise make every
    // difference negative and so "the same".
    const double diffPct = diff / std::abs(d1) * 100.0;
    if (diffPct < 0.000001)
        return true;
    if (verbose) {
        qDebug().noquote() << QStringLiteral("isFuzzySame::false, ctx=%1, d1=%2, d2=%3, diff=%4, diffPct=%5%")
                                  .arg(QString::fromUtf8(ctx), QString::number(d1), QString::number(d2),
                                       QString::number(diff), QString::number(diffPct));
    }
    return false;
}

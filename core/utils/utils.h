#pragma once

#include "panelcore_global.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <complex>

// Identifiers, hexadecimal helpers, checksums and numeric conversions used by
// every layer. Everything is a static, stateless function, safe to call from
// the main thread and the I2C worker thread alike; the singleton instance
// exists only so that QML can reach the invokable ones.
//
// A DAT names one slave: "<adapter id>:<0xNN address>:<device type>", for
// example ":0x70:bvr60600" on the default adapter. Multi-byte values in
// QByteArray are most significant byte first, as written in hexadecimal.
class PANELCORE_EXPORT Utils : public QObject
{
    Q_OBJECT

public:
    static Utils *getInstance();
    ~Utils() override;

    static inline const QString datSeperator = QStringLiteral(":");

    // DAT identifiers
    Q_INVOKABLE static QString mkDat(const QString &dongleId, const QString &address, const QString &type);
    Q_INVOKABLE static QStringList exDat(const QString &dat);
    Q_INVOKABLE static bool goodDat(const QString &dat);
    Q_INVOKABLE static QString datAddress(const QString &dat);
    Q_INVOKABLE static QString datType(const QString &dat);
    // Settings and project files cannot use ':' in keys; the key form drops
    // the adapter id, so datFromKey() gives back a DAT on the default adapter.
    Q_INVOKABLE static QString datToKey(const QString &dat);
    Q_INVOKABLE static QString datFromKey(const QString &key);

    // Hexadecimal text. A width pads with '0' but never cuts a wider value.
    Q_INVOKABLE static QString toHexString(unsigned value, unsigned char width, bool prefix);
    Q_INVOKABLE static QString toHexAddress(unsigned value, unsigned char width);
    Q_INVOKABLE static QString toHexString(const QByteArray &value, unsigned char width, bool prefix);
    // Width 0 means two digits per byte of value.
    Q_INVOKABLE static QString toHexAddress(const QByteArray &value, unsigned char width);
    // Every "0x" is dropped before parsing; text that does not parse or does
    // not fit in 32 bits gives 0.
    Q_INVOKABLE static unsigned fromHexString(const QString &text);
    Q_INVOKABLE static unsigned fromHexAddress(const QString &text);

    // Byte strings
    static QByteArray uintToHexBA(unsigned value, unsigned char digits);
    // 0 for an empty array and for a number that does not fit in 32 bits.
    static unsigned uintFromHexBA(const QByteArray &bytes);
    static QByteArray reverseHexBA(const QByteArray &bytes);
    Q_INVOKABLE static QString formatHexBA(const QByteArray &bytes);
    static QString formatHexList(const QList<unsigned short> &values);
    static QString formatHexList(const QList<QByteArray> &values);
    static void printHexBAMap(const QMap<QByteArray, QByteArray> &map, const QString &title);
    static QString formatParam(const QString &name, double value, int width, char format);
    static QString formatParam(const QString &name, const QString &text, int width);

    // Files. A path may be given as a local-file URL, as file dialogs in QML
    // hand them over; anything else is used as written.
    Q_INVOKABLE static QString localFileFromUrl(const QUrl &url);
    // Lines of the file split at '\n'; an empty list when it cannot be read.
    Q_INVOKABLE static QStringList readTextFile(const QString &path);
    // Writes text as Latin-1, replacing the file. Returns false when the file
    // cannot be opened or fully written; callers may ignore it.
    Q_INVOKABLE static bool writeTextFile(const QString &path, const QString &text);

    // Checksums (see crc.h)
    static unsigned char crc8(const QByteArray &data);
    // Bytes are taken as little-endian 32-bit words; 1 to 3 trailing bytes
    // are ignored.
    static unsigned int crc32(const QByteArray &data);

    // Angles and complex values
    static double toDegrees(double radians);
    static double toRadians(double degrees);
    static double magnitude(const std::complex<double> &z);
    static double dbMagnitude(const std::complex<double> &z);
    static double angle(const std::complex<double> &z, bool inDegrees);

    // Fills buffer (resized to length) with little-endian samples of
    // amplitude * sin((p * stepDeg + offsetDeg) degrees), p being the byte
    // position of each sample.
    static void generateSineWave(QByteArray &buffer, unsigned short length, unsigned char amplitude,
                                 unsigned char offsetDeg, unsigned char stepDeg,
                                 unsigned char bytesPerSample);

    // Fixed point with intBits + fracBits magnitude bits; a signed format
    // carries its sign bit above them. Out-of-range values saturate.
    static int qformatEncode(double value, int intBits, int fracBits, bool isSigned);
    static double qformatDecode(int raw, int intBits, int fracBits, bool isSigned);

    // Voltage-identification grid: index * step + base volts.
    Q_INVOKABLE static double calculateVidVoltage(int vidStepMv, int vidTableIdx);
    Q_INVOKABLE static int calculateVidIndex(int vidStepMv, double vidTableVoltage);
    Q_INVOKABLE static double closestVidVoltage(int vidStepMv, double desiredVidVoltage);

    // True when d2 is within 1e-6 percent of |d1|, or d1 is 0 (no scale to
    // compare against).
    static bool isFuzzySame(double d1, double d2, const char *ctx, bool verbose);

private:
    explicit Utils(QObject *parent = nullptr);

    static Utils *m_instance;
};

#include "production.h"

#include "devices/project.h"
#include "utils/utils.h"

#include <QDebug>

namespace {

// The magic number, the internal version, the length, the CRC, and at least
// one line between them (an image or, with no image, the CRC itself).
constexpr qsizetype minImageLines = 5;
constexpr qsizetype headerLines = 3;

bool parseFailed()
{
    qWarning("Production::fwImageParse, failed parsing");
    return false;
}

} // namespace

Production::Production(QObject *parent)
    : QObject(parent)
{
}

Production::~Production() = default;

bool Production::isProductionKey(const QString &key)
{
    return key.contains(QStringLiteral("header/")) || key.contains(QStringLiteral("data/"))
        || key.contains(QStringLiteral("fw/"));
}

bool Production::read(const QString &filename, QMap<QString, QVariantMap> &sections)
{
    return Project::reportOutcome(Project::readSections(filename, &Production::isProductionKey, sections),
                                  QStringLiteral("Production::read, successfully read from %1"),
                                  QStringLiteral("Production::read, failed reading from %1"), filename);
}

bool Production::write(const QString &filename, const QMap<QString, QVariantMap> &sections)
{
    return Project::reportOutcome(Project::writeSections(filename, &Production::isProductionKey, sections),
                                  QStringLiteral("Production::write, successfully wrote to %1"),
                                  QStringLiteral("Production::write, failed writing to %1"), filename);
}

QStringList Production::fwImageLoad(const QString &filename)
{
    const QStringList lines = Utils::readTextFile(filename);
    if (lines.isEmpty())
        qWarning().noquote() << QStringLiteral("Production::fwImageLoad, failed reading from %1").arg(filename);
    else
        qDebug().noquote() << QStringLiteral("Production::fwImageLoad, successfully read from %1").arg(filename);
    return lines;
}

bool Production::fwImageParse(const QStringList &lines, QVariantMap &fw)
{
    if (lines.size() < minImageLines)
        return parseFailed();

    fw.insert(QStringLiteral("fw/magicNumber"), lines.at(0));
    fw.insert(QStringLiteral("fw/internalVersion"), lines.at(1));
    fw.insert(QStringLiteral("fw/length"), lines.at(2));

    // The length counts the CRC line too. It is read from the file, so it is
    // checked against the lines there are before any of them is touched.
    const qint64 length = Utils::fromHexString(lines.at(2));
    const qint64 wordLines = std::max<qint64>(length - 1, 0);
    if (wordLines > lines.size() - headerLines - 1)
        return parseFailed();

    QByteArray image;
    for (qsizetype i = headerLines; i < headerLines + wordLines; ++i)
        image += Utils::reverseHexBA(QByteArray::fromHex(lines.at(i).toLatin1()));
    const QString crcLine = lines.at(headerLines + wordLines);
    fw.insert(QStringLiteral("fw/image"), image);
    fw.insert(QStringLiteral("fw/crc32"), crcLine);

    const unsigned stored = Utils::fromHexString(crcLine);
    const unsigned calculated = Utils::crc32(image);
    if (stored != calculated) {
        qDebug().noquote() << QStringLiteral("Production::fwImageParse mismatched crc, imageOnlySizeInBytes=%1, "
                                             "imageOnlySizeWord32=%2, storedCrc=%3, calculatedCrc=%4")
                                  .arg(Utils::toHexString(unsigned(image.size()), 8, true),
                                       Utils::toHexString(unsigned(image.size() / 4), 8, true),
                                       Utils::toHexString(stored, 8, true),
                                       Utils::toHexString(calculated, 8, true));
        return parseFailed();
    }
    qDebug("Production::fwImageParse, successfully parsed");
    return true;
}

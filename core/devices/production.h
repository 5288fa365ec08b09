#pragma once

#include "panelcore_global.h"

#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

// Production files carry the part of each device state that production
// needs: the entries grouped under "header/", "data/" and "fw/", in the same
// file format as a project. Firmware images are text files of hexadecimal
// words closed by their CRC-32:
//
//   magic number
//   internal version
//   L (hexadecimal): the count of the lines that follow, CRC line included
//   L - 1 image lines, each most significant byte first
//   CRC-32 of the image words
class PANELCORE_EXPORT Production : public QObject
{
    Q_OBJECT

public:
    explicit Production(QObject *parent = nullptr);
    ~Production() override;

    // Whether a state entry belongs in a production file.
    static bool isProductionKey(const QString &key);

public slots:
    // Merges the file's production entries into sections (DAT -> state);
    // sections stays unchanged on failure.
    virtual bool read(const QString &filename, QMap<QString, QVariantMap> &sections);
    // Replaces the file by the production entries of sections; the previous
    // file stays intact on failure.
    virtual bool write(const QString &filename, const QMap<QString, QVariantMap> &sections);
    // The lines of an image file; none when it cannot be read.
    virtual QStringList fwImageLoad(const QString &filename);
    // Stores the header lines, the image bytes (each word least significant
    // byte first) and the CRC line under "fw/..." in fw; true when the CRC
    // matches. What was stored stays in fw on failure.
    virtual bool fwImageParse(const QStringList &lines, QVariantMap &fw);
};

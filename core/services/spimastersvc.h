#pragma once

#include "panelcore_global.h"

#include <QByteArray>
#include <QLibrary>
#include <QObject>
#include <QVariantMap>

// SPI master for the AVS bus (adaptive voltage scaling). Its SPI adapter
// library is named but never loaded here, so every AVS operation answers
// with a fixed "not loaded" reply; the frame checksum is real.
class PANELCORE_EXPORT SpiMasterSvc : public QObject
{
    Q_OBJECT

public:
    // AVS command types of a frame.
    enum AvsCommand { AvsWriteCommit = 0, AvsRead = 3 };

    static SpiMasterSvc *getInstance();
    ~SpiMasterSvc() override;

    void setup(int, bool);
    void close();

    // 3-bit checksum x^3 + x + 1 over bits 7..1 of every byte.
    static int crc(const QByteArray &data);

    Q_INVOKABLE QVariantMap waitAvsSend(const int &cmdType, const int &group, const int &dataType,
                                        const int &select, const int &data);
    Q_INVOKABLE QVariantMap waitAvsRead(const int &group, const int &dataType, const int &select,
                                        const int &data);
    Q_INVOKABLE QVariantMap waitAvsWrite(const int &group, const int &dataType, const int &select,
                                         const int &data);

private:
    SpiMasterSvc();

    static SpiMasterSvc *m_instance;
    int m_handle = -9999;
    QLibrary m_library;
};

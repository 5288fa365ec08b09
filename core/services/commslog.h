#pragma once

#include "panelcore_global.h"

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

// Every bus transfer and device-level event as a one-line record: kept in a
// history, emitted to the user interface and, while dumping, written to
// commslog.txt next to the log file.
class PANELCORE_EXPORT CommsLog : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool dumpLog READ dumpLog WRITE setDumpLog NOTIFY dumpLogChanged)
    Q_PROPERTY(QString filter READ filter WRITE setFilter NOTIFY filterChanged)

public:
    // The history keeps the newest lines only: the tool polls for days.
    static constexpr int maxHistoryLines = 100000;

    static CommsLog *getInstance();
    ~CommsLog() override;

    bool dumpLog() const { return m_dumpLog; }
    QString filter() const { return m_filter; }
    void setDumpLog(bool dumpLog);
    void setFilter(const QString &filter);

    Q_INVOKABLE QStringList history() const { return m_history; }

    // Devices attach themselves when created and detach when destroyed.
    void logAttach(const QObject *obj);
    void logDetach(const QObject *obj);

    static QString fileName() { return QStringLiteral("commslog.txt"); }
    // Where the dump goes instead of commslog.txt in the log folder; empty
    // for the log folder again. A dump already open moves to the new file.
    static void setDumpFilePath(const QString &path);
    static QString dumpFilePath();
    // Why the dump file lost records since it was opened (a full disk, a
    // vanished folder); empty while every record reached it.
    QString dumpError() const { return m_dumpError; }

public slots:
    void doLogEvent(const QString &src, const QString &dat, const QString &text,
                    const QString &err = QString(), const QString &param1 = QString(),
                    const QString &param2 = QString());

    // Receivers for the producers' signals, named after them.
    void logTxRx(const QString &dat, const QString &txrx, const QString &err);
    void logDeviceAdded(const QString &dat);
    void logDeviceRemoved(const QString &dat);
    void logDeviceConnected(const QString &dat);
    void logDeviceDisconnected(const QString &dat);
    void logModelStateSaved(const QString &dat);
    void logModelStateRestored(const QString &dat);
    void logBulkDataRead(const QString &err, const QString &dat, const QString &name, const QByteArray &value);
    void logBulkDataWrite(const QString &err, const QString &dat, const QString &name, const QByteArray &value);
    void logRegDataRead(const QString &err, const QString &dat, const QString &name, const QByteArray &value);
    void logRegDataWrite(const QString &err, const QString &dat, const QString &name, const QByteArray &value);
    void logPmbusDataRead(const QString &err, const QString &dat, const QString &name, const QByteArray &value);
    void logPmbusDataWrite(const QString &err, const QString &dat, const QString &name, const QByteArray &value);

signals:
    void eventLog(const QString &event, bool isError = false);
    void dumpLogChanged(bool dumpLog);
    void filterChanged(const QString &filter);

private:
    CommsLog();

    void switchDump(bool on);
    void closeDump();
    void writeDump(const QByteArray &record);
    void appendHistory(const QString &line);
    void logDeviceManagerEvent(const QString &dat, const QString &text);
    void logDeviceData(const QString &text, const QString &err, const QString &dat,
                       const QString &name, const QByteArray &value);

    static CommsLog *m_instance;

    bool m_dumpLog = true;
    QString m_filter;
    QStringList m_history;
    QPointer<QFile> m_dumpFile;
    QString m_dumpError;
};

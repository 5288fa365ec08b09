#pragma once

#include "panelcore_global.h"

#include <QFile>
#include <mutex>
#include <QObject>
#include <QString>
#include <QTextStream>

#include <atomic>
#include <memory>

// Redirects the Qt message functions into a log file, one line per message,
// and re-emits every line for the console and the user interface.
//
// Messages may come from any thread. outputted is always emitted on the
// Logger's own thread: QMessageLogContext cannot be copied, so Qt cannot carry
// it through a queued connection, and its pointers would not outlive the
// producer's call anyway. A message from another thread is therefore handed
// over with owned copies of its context, and receivers get a context whose
// pointers are valid for the duration of the call. Connect receivers that live
// on another thread with Qt::DirectConnection.
class PANELCORE_EXPORT Logger : public QObject
{
    Q_OBJECT

public:
    static Logger *getInstance();
    ~Logger() override;

    void start(bool context, bool logEmit);
    void stop();
    bool isStarted() const;
    void setLogEmit(bool logEmit);
    void output(QtMsgType type, const QMessageLogContext &context, const QString &msg);

    Q_INVOKABLE QString logFilename() const;
    Q_INVOKABLE QString logFilepath() const;

    // The log folder, created when missing: nobody else makes the per-user
    // data folder on a fresh machine. Anything that writes next to the log
    // file goes through here.
    static QString ensureLogFolder();

    // "D", "W", "C", "F", "I", or "?" for anything else.
    static QString typeLetter(QtMsgType type);

signals:
    void outputted(QtMsgType type, const QMessageLogContext &context, const QString &msg);

private:
    Logger();

    void emitOwned(QtMsgType type, int line, const QByteArray &file, const QByteArray &function,
                   const QByteArray &category, const QString &msg);

    static Logger *m_instance;

    // Lives as long as the Logger, so a thread that is logging while stop()
    // runs never waits on a destroyed lock. Recursive because receivers of
    // outputted run under it and may ask for the file name.
    // A standard mutex rather than Qt's: the sanitizers can see it.
    mutable std::recursive_mutex m_mutex;
    std::unique_ptr<QFile> m_file;
    std::unique_ptr<QTextStream> m_stream;
    bool m_context = false;
    bool m_logEmit = false;
    std::atomic<QtMessageHandler> m_previousHandler{nullptr};
};

PANELCORE_EXPORT void myMessageOutput(QtMsgType type, const QMessageLogContext &context, const QString &msg);

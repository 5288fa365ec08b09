#include "logger.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QMetaType>
#include <QStandardPaths>
#include <QThread>

#include <cstdio>

Logger *Logger::m_instance = nullptr;

namespace {

// Set while this thread is inside output() or a re-emission. A message raised
// in there (a receiver logging, a failing write warning about itself) must not
// come back into the log, or it would recurse without end.
thread_local bool insideLogger = false;

class ReentryGuard
{
public:
    ReentryGuard() { insideLogger = true; }
    ~ReentryGuard() { insideLogger = false; }
    ReentryGuard(const ReentryGuard &) = delete;
    ReentryGuard &operator=(const ReentryGuard &) = delete;
};

} // namespace

void myMessageOutput(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    Logger::getInstance()->output(type, context, msg);
}

Logger *Logger::getInstance()
{
    if (!m_instance) {
        m_instance = new Logger;
        qAddPostRoutine([] { delete m_instance; });
    }
    return m_instance;
}

Logger::Logger()
{
    qRegisterMetaType<QtMsgType>("QtMsgType");
    qRegisterMetaType<QMessageLogContext>("QMessageLogContext");
}

Logger::~Logger()
{
    stop();
    disconnect();
    m_instance = nullptr;
}

QString Logger::typeLetter(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return QStringLiteral("D");
    case QtWarningMsg:
        return QStringLiteral("W");
    case QtCriticalMsg:
        return QStringLiteral("C");
    case QtFatalMsg:
        return QStringLiteral("F");
    case QtInfoMsg:
        return QStringLiteral("I");
    }
    return QStringLiteral("?");
}

bool Logger::isStarted() const
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_stream != nullptr;
}

void Logger::setLogEmit(bool logEmit)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_logEmit = logEmit;
}

QString Logger::logFilepath() const
{
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        if (m_file)
            return QFileInfo(m_file->fileName()).absolutePath();
    }
    if (!QCoreApplication::organizationName().isEmpty() && !QCoreApplication::applicationName().isEmpty())
        return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    return QStandardPaths::writableLocation(QStandardPaths::TempLocation);
}

QString Logger::logFilename() const
{
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        if (m_file)
            return m_file->fileName();
    }
    QString name = QCoreApplication::applicationName();
    if (name.isEmpty())
        name = QStringLiteral("logger");
    return QStringLiteral("%1/%2").arg(logFilepath(), QStringLiteral("%1.txt").arg(name));
}

QString Logger::ensureLogFolder()
{
    const QString folder = getInstance()->logFilepath();
    if (!QDir().mkpath(folder))
        qWarning().noquote() << QStringLiteral("Log folder %1 cannot be created").arg(folder);
    return folder;
}

void Logger::start(bool context, bool logEmit)
{
    if (isStarted())
        return;

    if (QCoreApplication::organizationName().isEmpty())
        qWarning("QCoreApplication::organizationName is not set but that is ok");
    else if (QCoreApplication::applicationName().isEmpty())
        qWarning("QCoreApplication::applicationName is not set but that is ok");

    ensureLogFolder();
    auto file = std::make_unique<QFile>(logFilename());
    // Logging goes on without a file; only the file lines are lost.
    if (!file->open(QIODevice::WriteOnly | QIODevice::Text | QIODevice::Truncate))
        qWarning().noquote() << QStringLiteral("Log file %1 cannot be opened: %2").arg(file->fileName(), file->errorString());
    const QString name = file->fileName();
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        m_context = context;
        m_logEmit = logEmit;
        m_stream = std::make_unique<QTextStream>(file.get());
        m_file = std::move(file);
    }

    qDebug().noquote() << QStringLiteral("Output is being redirected to log file %1").arg(name);
    QtMessageHandler previous = qInstallMessageHandler(myMessageOutput);
    if (previous != myMessageOutput)
        m_previousHandler = previous;
    qDebug("Logging started...");
}

void Logger::stop()
{
    if (!isStarted())
        return;

    qDebug("Logging stopped...\n");
    // Hand back whatever was installed before us (the default handler in the
    // program, the test framework's handler in tests).
    qInstallMessageHandler(m_previousHandler.exchange(nullptr));
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        m_stream.reset();
        m_file.reset();
    }
    qDebug("Output to the log file has stopped\n");
}

void Logger::output(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    if (insideLogger) {
        if (const QtMessageHandler previous = m_previousHandler.load())
            previous(type, context, msg);
        else
            std::fprintf(stderr, "%s\n", qUtf8Printable(msg));
        return;
    }
    ReentryGuard guard;

    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (!m_stream)
        return;

    // Nothing is written to a file that failed to open: the stream would only
    // warn about it, and that warning would come straight back here.
    if (m_file->isOpen()) {
        QTextStream &out = *m_stream;
        out << '[' << typeLetter(type) << "] ";
        if (m_context) {
            out << (context.file ? context.file : "") << " | " << context.line << " | "
                << (context.function ? context.function : "") << " | ";
        }
        out << msg << '\n';
        out.flush();
    }

    if (!m_logEmit)
        return;
    if (QThread::currentThread() == thread()) {
        emit outputted(type, context, msg);
        return;
    }
    // The producer's context dies with its call; take copies across.
    QMetaObject::invokeMethod(
        this,
        [this, type, line = context.line, file = QByteArray(context.file),
         function = QByteArray(context.function), category = QByteArray(context.category), msg] {
            emitOwned(type, line, file, function, category, msg);
        },
        Qt::QueuedConnection);
}

void Logger::emitOwned(QtMsgType type, int line, const QByteArray &file, const QByteArray &function,
                       const QByteArray &category, const QString &msg)
{
    ReentryGuard guard;
    // QByteArray(nullptr) is null: give back null pointers where there were none.
    const QMessageLogContext context(file.isNull() ? nullptr : file.constData(), line,
                                     function.isNull() ? nullptr : function.constData(),
                                     category.isNull() ? nullptr : category.constData());
    emit outputted(type, context, msg);
}

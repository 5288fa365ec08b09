#include "consolelog.h"

#include "logger.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

ConsoleLog *ConsoleLog::m_instance = nullptr;

ConsoleLog *ConsoleLog::getInstance()
{
    if (!m_instance) {
        m_instance = new ConsoleLog;
        qAddPostRoutine([] { delete m_instance; });
    }
    return m_instance;
}

ConsoleLog::~ConsoleLog()
{
    m_instance = nullptr;
}

void ConsoleLog::to_cout(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    Q_UNUSED(context)
    // A fresh stream each time, flushed at once, so nothing lingers in a
    // buffer when the process dies.
    QTextStream out(stdout);
    out << '[' << Logger::typeLetter(type) << "] " << msg << '\n';
    out.flush();
}

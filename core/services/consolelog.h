#pragma once

#include "panelcore_global.h"

#include <QObject>
#include <QString>

// Echoes the Logger's lines on standard output.
class PANELCORE_EXPORT ConsoleLog : public QObject
{
    Q_OBJECT

public:
    static ConsoleLog *getInstance();
    ~ConsoleLog() override;

public slots:
    void to_cout(QtMsgType type, const QMessageLogContext &context, const QString &msg);

private:
    ConsoleLog() = default;

    static ConsoleLog *m_instance;
};

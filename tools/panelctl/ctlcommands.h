#pragma once

#include "ctloutput.h"
#include "ctlsession.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QStringList>

// What a command gets: the engine, the output, the parsed command line and
// the arguments after the command's name.
struct CtlContext
{
    CtlSession &session;
    CtlOutput &out;
    const QCommandLineParser &parser;
    QString dat;
    QStringList args;
    // Checked before anything opened a file: a closed standard input's
    // descriptor is reused by the first file opened.
    bool stdinClosed = false;
};

struct CtlCommand
{
    QString name;
    QString synopsis;    // the arguments after the name, for the usage line
    QString summary;     // one line for the command list
    QString description; // the rest of the command's help
    QList<QCommandLineOption> options;
    int minArgs = 0;
    int maxArgs = 0;
    // Serving needs an event loop that runs until the program is told to end.
    bool runsUntilInterrupted = false;
    CtlSession::Error (*run)(CtlContext &context) = nullptr;
};

const QList<CtlCommand> &ctlCommands();
const CtlCommand *findCtlCommand(const QString &name);

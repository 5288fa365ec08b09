// I2cWorker running scripts: one line after another, each failure reported.
#include "i2c/i2cworker.h"

#include "i2c/flowcontrol.h"
#include "i2c/i2cscript.h"

void I2cWorker::doRunScript(const QString &ctx, const QString &dat, const QStringList &lines)
{
    m_scriptTimer.restart();
    logText(QStringLiteral("I2cWorker_doRunScript[%1]: starting...").arg(ctx), QString(),
            QtDebugMsg);
    const int count = int(lines.size());
    emit eventProgress(ctx, dat, 0, count);

    // A failing line does not stop the script, but the script reports every
    // failure, one line each, in order.
    QStringList failures;
    QString lost;
    for (int i = 0; i < count; ++i) {
        // Nobody takes the results once the program is ending: the rest of
        // the script would only delay its exit.
        if (m_flow && m_flow->isClosed()) {
            failures << QStringLiteral("Script stopped before line %1 of %2: the program is ending").arg(i + 1).arg(count);
            break;
        }
        const I2cScript::ScriptLine line = I2cScript::compileLine(lines.at(i));
        if (!lost.isEmpty()) {
            // The adapter is gone: the rest fails with the error that said
            // so, each line reported, without waiting on anything.
            if (failLine(ctx, dat, line, lost))
                failures << lost;
            emit eventProgress(ctx, dat, i + 1, count);
            continue;
        }
        QString lineErr;
        switch (line.kind) {
        case I2cScript::ScriptLine::Skip:
            break;
        case I2cScript::ScriptLine::Comment:
            logTxRx(line.comment, QString(), QString());
            break;
        case I2cScript::ScriptLine::WaitMs:
            (void)pause(line.waitMs);
            break;
        case I2cScript::ScriptLine::ReadBulk:
            lineErr = readBulk(ctx, dat, line.regAddr, line.command, line.bulkSize);
            break;
        case I2cScript::ScriptLine::WriteBulk:
            lineErr = writeBulk(ctx, dat, line.regAddr, line.command, line.data, line.packetDelay);
            break;
        case I2cScript::ScriptLine::ReadRegister:
            lineErr = readRegister(ctx, dat, line.regAddr, line.readSize);
            break;
        case I2cScript::ScriptLine::WriteRegister:
            lineErr = writeRegister(ctx, dat, line.regAddr, line.data);
            break;
        case I2cScript::ScriptLine::Pmbus:
            lineErr = pmbusCommands(ctx, dat, { line.pmbus });
            break;
        }
        if (!lineErr.isEmpty())
            failures << lineErr;
        if (hwIsSlaveRemoved(lineErr))
            lost = lineErr;
        emit eventProgress(ctx, dat, i + 1, count);
    }

    const QString err = failures.join(QLatin1Char('\n'));
    logText(QStringLiteral("I2cWorker_doRunScript[%1]: executed %2 in %3 milliseconds")
                .arg(ctx, errState(err))
                .arg(m_scriptTimer.elapsed()),
            err, QtDebugMsg);
    beforeCompletion();
    emit doneRunScript(err, ctx, dat);
}

bool I2cWorker::failLine(const QString &ctx, const QString &dat, const I2cScript::ScriptLine &line,
                         const QString &err)
{
    switch (line.kind) {
    case I2cScript::ScriptLine::Skip:
    case I2cScript::ScriptLine::WaitMs:
        return false;
    case I2cScript::ScriptLine::Comment:
        logTxRx(line.comment, QString(), QString());
        return false;
    case I2cScript::ScriptLine::ReadBulk:
        beforeCompletion();
        emit doneReadBulk(err, ctx, dat, line.regAddr, line.command, QByteArray());
        return true;
    case I2cScript::ScriptLine::WriteBulk:
        beforeCompletion();
        emit doneWriteBulk(err, ctx, dat, line.regAddr, line.command, line.data);
        return true;
    case I2cScript::ScriptLine::ReadRegister:
        beforeCompletion();
        emit doneReadRegister(err, ctx, dat, line.regAddr, QByteArray(qMax(0, int(line.readSize)), '\0'));
        return true;
    case I2cScript::ScriptLine::WriteRegister:
        beforeCompletion();
        emit doneWriteRegister(err, ctx, dat, line.regAddr, line.data);
        return true;
    case I2cScript::ScriptLine::Pmbus:
        beforeCompletion();
        emit donePmbusCommands(err, ctx, dat, { line.pmbus });
        return true;
    }
    return false;
}

#include "testenv.h"

#include "services/consolelog.h"
#include "services/logger.h"

#include <QApplication>
#include <QDir>
#include <QStandardPaths>
#include <QThread>

#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <memory>

// Collects outputted on the main thread and copies what the context points
// to while the call lasts, as any receiver must.
class Receiver : public QObject
{
    Q_OBJECT
public:
    QList<QtMsgType> types;
    QStringList messages;
    QStringList files;
    QList<Qt::HANDLE> threads;

public slots:
    void take(QtMsgType type, const QMessageLogContext &context, const QString &msg)
    {
        types << type;
        messages << msg;
        files << QString::fromLatin1(context.file);
        threads << QThread::currentThreadId();
    }
};

class TestLogger : public QObject
{
    Q_OBJECT

private:
    static QStringList fileLines(const QString &name)
    {
        QFile file(name);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            return {};
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

private slots:
    void init()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("orvane"));
        QCoreApplication::setApplicationName(QStringLiteral("BVR60600"));
    }

    void cleanup()
    {
        delete Logger::getInstance();
        QCoreApplication::setOrganizationName(QStringLiteral("orvane"));
        QCoreApplication::setApplicationName(QStringLiteral("BVR60600"));
    }

    // On a fresh machine nobody has created the per-user data folder; the
    // log file would silently go nowhere.
    void fileNameAndFreshFolder()
    {
        const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
        QDir(folder).removeRecursively();
        Logger *logger = Logger::getInstance();
        QCOMPARE(logger->logFilename(), folder + QStringLiteral("/BVR60600.txt"));
        QCOMPARE(logger->logFilepath(), folder);

        logger->start(false, false);
        QVERIFY(logger->isStarted());
        QCOMPARE(logger->logFilename(), folder + QStringLiteral("/BVR60600.txt"));
        QCOMPARE(logger->logFilepath(), QFileInfo(folder).absoluteFilePath());
        QVERIFY(QFileInfo::exists(logger->logFilename()));
        logger->stop();
        const QStringList lines = fileLines(folder + QStringLiteral("/BVR60600.txt"));
        QVERIFY(lines.size() >= 2);
        QCOMPARE(lines.first(), QStringLiteral("[D] Logging started..."));
        QCOMPARE(lines.last(), QStringLiteral("[D] Logging stopped..."));
    }

    // Qt gives the executable's name for an empty application name while an
    // application object exists, so a missing organisation name is what
    // sends the log to the temporary folder here.
    void missingOrganisationUsesTempFolder()
    {
        const QString temp = TestEnv::home().path() + QStringLiteral("/tmp");
        QDir().mkpath(temp);
        const QByteArray oldTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(temp));
        QCoreApplication::setOrganizationName(QString());
        const QString expected = QDir(temp).absolutePath() + QStringLiteral("/BVR60600.txt");

        Logger *logger = Logger::getInstance();
        QCOMPARE(logger->logFilename(), expected);
        QTest::ignoreMessage(QtWarningMsg, "QCoreApplication::organizationName is not set but that is ok");
        logger->start(false, false);
        QCOMPARE(logger->logFilename(), expected);
        QVERIFY(QFileInfo::exists(expected));
        logger->stop();
        qputenv("TMPDIR", oldTmp);
    }

    void secondStartKeepsFirstFlags()
    {
        Logger *logger = Logger::getInstance();
        Receiver receiver;
        connect(logger, &Logger::outputted, &receiver, &Receiver::take);
        logger->start(false, false);
        logger->start(true, true);
        logger->output(QtWarningMsg, QMessageLogContext("a.cpp", 3, "f", "default"), QStringLiteral("abc"));
        const QString name = logger->logFilename();
        logger->stop();
        QVERIFY(receiver.messages.isEmpty());
        QVERIFY(fileLines(name).contains(QStringLiteral("[W] abc")));
    }

    void lineFormat_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("withContext");
        QTest::addColumn<QString>("expected");
        QTest::addRow("debug") << int(QtDebugMsg) << false << "[D] abc";
        QTest::addRow("warning") << int(QtWarningMsg) << false << "[W] abc";
        QTest::addRow("critical") << int(QtCriticalMsg) << false << "[C] abc";
        QTest::addRow("fatal") << int(QtFatalMsg) << false << "[F] abc";
        QTest::addRow("info") << int(QtInfoMsg) << false << "[I] abc";
        // 7 is the largest value the enum can hold without undefined behaviour.
        QTest::addRow("unknown type") << 7 << false << "[?] abc";
        QTest::addRow("with context") << int(QtWarningMsg) << true << "[W] a.cpp | 12 | fn | abc";
    }

    void lineFormat()
    {
        QFETCH(int, type);
        QFETCH(bool, withContext);
        QFETCH(QString, expected);
        Logger *logger = Logger::getInstance();
        Receiver receiver;
        connect(logger, &Logger::outputted, &receiver, &Receiver::take);
        logger->start(withContext, true);
        logger->output(QtMsgType(type), QMessageLogContext("a.cpp", 12, "fn", "default"), QStringLiteral("abc"));
        const QString name = logger->logFilename();
        logger->stop();
        QVERIFY2(fileLines(name).contains(expected), qPrintable(fileLines(name).join('\n')));
        // Emitted: "Logging started...", the line, "Logging stopped...".
        QCOMPARE(receiver.messages.size(), 3);
        QCOMPARE(receiver.messages.at(1), QStringLiteral("abc"));
        QCOMPARE(receiver.types.at(1), QtMsgType(type));
    }

    void messageFunctionsAreRedirected()
    {
        Logger *logger = Logger::getInstance();
        Receiver receiver;
        connect(logger, &Logger::outputted, &receiver, &Receiver::take);
        logger->start(false, true);
        qWarning("a %s", "warning");
        const QString name = logger->logFilename();
        logger->stop();
        QVERIFY(receiver.messages.contains(QStringLiteral("a warning")));
        QVERIFY(fileLines(name).contains(QStringLiteral("[W] a warning")));
    }

    void nothingAfterStop()
    {
        Logger *logger = Logger::getInstance();
        logger->start(false, true);
        const QString name = logger->logFilename();
        logger->stop();
        Receiver receiver;
        connect(logger, &Logger::outputted, &receiver, &Receiver::take);
        logger->output(QtWarningMsg, QMessageLogContext(), QStringLiteral("late"));
        QTest::ignoreMessage(QtWarningMsg, "late too");
        qWarning("late too");
        QVERIFY(receiver.messages.isEmpty());
        for (const QString &line : fileLines(name))
            QVERIFY(!line.contains(QStringLiteral("late")));
    }

    // A folder where the file should be: logging goes on without the file.
    void unopenableFile()
    {
        Logger *logger = Logger::getInstance();
        const QString name = logger->logFilename();
        QFile::remove(name);
        QVERIFY(QDir().mkpath(name));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("cannot be opened")));
        Receiver receiver;
        connect(logger, &Logger::outputted, &receiver, &Receiver::take);
        logger->start(false, true);
        QVERIFY(logger->isStarted());
        qWarning("still logging");
        logger->stop();
        QVERIFY(QDir(name).removeRecursively());
        QVERIFY(receiver.messages.contains(QStringLiteral("still logging")));
    }

    // The I2C worker logs while the main thread does: every line must arrive
    // whole in the file, and receivers on the main thread must get every
    // message there, with a context that is still valid when they read it.
    void concurrentThreads()
    {
        Logger *logger = Logger::getInstance();
        Receiver receiver;
        connect(logger, &Logger::outputted, &receiver, &Receiver::take);
        logger->start(false, true);
        const QString name = logger->logFilename();
        constexpr int perThread = 500;
        const QString payload(200, QLatin1Char('x'));

        auto produce = [&](int id) {
            for (int i = 0; i < perThread; ++i) {
                // The context's text dies right after the call, scribbled
                // over first so a receiver holding on to it would notice.
                auto file = std::make_unique<char[]>(32);
                std::snprintf(file.get(), 32, "worker%d.cpp", id);
                logger->output(QtWarningMsg, QMessageLogContext(file.get(), i, nullptr, nullptr),
                               QStringLiteral("t%1 %2 %3").arg(id).arg(i).arg(payload));
                std::memset(file.get(), 'Z', 31);
            }
        };
        std::unique_ptr<QThread> first(QThread::create(produce, 1));
        std::unique_ptr<QThread> second(QThread::create(produce, 2));
        first->start();
        second->start();
        for (int i = 0; i < perThread; ++i)
            qWarning("main %d %s", i, qPrintable(payload));
        first->wait();
        second->wait();

        QTRY_COMPARE_WITH_TIMEOUT(receiver.messages.filter(QRegularExpression(QStringLiteral("^t\\d "))).size(),
                                  2 * perThread, 10000);
        logger->stop();

        for (int i = 0; i < receiver.messages.size(); ++i) {
            QCOMPARE(receiver.threads.at(i), QThread::currentThreadId());
            if (receiver.messages.at(i).startsWith(QStringLiteral("t1 ")))
                QCOMPARE(receiver.files.at(i), QStringLiteral("worker1.cpp"));
            else if (receiver.messages.at(i).startsWith(QStringLiteral("t2 ")))
                QCOMPARE(receiver.files.at(i), QStringLiteral("worker2.cpp"));
        }

        const QRegularExpression whole(QStringLiteral("^\\[W\\] (t1|t2|main) \\d+ x{200}$"));
        int count = 0;
        for (const QString &line : fileLines(name)) {
            if (line.startsWith(QStringLiteral("[D] ")))
                continue;
            QVERIFY2(whole.match(line).hasMatch(), qPrintable(line.left(80)));
            ++count;
        }
        QCOMPARE(count, 3 * perThread);
    }

    void consoleLine()
    {
        // Standard output goes to a file for the length of the call.
        const QString name = TestEnv::home().path() + QStringLiteral("/console.txt");
        std::fflush(stdout);
        const int saved = dup(fileno(stdout));
        QVERIFY(std::freopen(QFile::encodeName(name).constData(), "w", stdout));
        ConsoleLog::getInstance()->to_cout(QtCriticalMsg, QMessageLogContext(), QStringLiteral("abc"));
        ConsoleLog::getInstance()->to_cout(QtMsgType(6), QMessageLogContext(), QStringLiteral("def"));
        std::fflush(stdout);
        dup2(saved, fileno(stdout));
        close(saved);
        QCOMPARE(fileLines(name), QStringList({QStringLiteral("[C] abc"), QStringLiteral("[?] def")}));
    }
};

PANEL_TEST_MAIN(TestLogger)
#include "tst_logger.moc"

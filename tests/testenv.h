#pragma once

// Every test process gets a settings store and data folders of its own, so
// tests never read or write the user's real configuration, and tests running
// side by side never see each other's files.

#include <QByteArray>
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

namespace TestEnv {

inline QTemporaryDir &home()
{
    static QTemporaryDir dir;
    return dir;
}

inline void isolate()
{
    QTemporaryDir &dir = home();
    if (!dir.isValid())
        qFatal("cannot create a temporary folder for the test");
    const QString root = dir.path();
    QDir(root).mkpath(QStringLiteral("config"));
    QDir(root).mkpath(QStringLiteral("data"));
    QDir(root).mkpath(QStringLiteral("cache"));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(root + QStringLiteral("/config")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(root + QStringLiteral("/data")));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(root + QStringLiteral("/cache")));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(root));
    // The computer's own I2C buses are no test's business.
    qputenv("PANEL_KERNEL_I2C", "0");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

} // namespace TestEnv

// QTEST_MAIN with the isolation applied before the application object exists.
#define PANEL_TEST_MAIN(TestObject)                                   \
    int main(int argc, char *argv[])                                  \
    {                                                                 \
        TestEnv::isolate();                                           \
        QApplication app(argc, argv);                                 \
        app.setAttribute(Qt::AA_Use96Dpi, true);                      \
        TestObject tc;                                                \
        QTEST_SET_MAIN_SOURCE_PATH                                    \
        return QTest::qExec(&tc, argc, argv);                         \
    }

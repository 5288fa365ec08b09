#include "testenv.h"

#include "services/settings.h"

#include <QApplication>
#include <QJSEngine>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>

class TestSettings : public QObject
{
    Q_OBJECT

private:
    // A fresh instance over whatever the store holds now, as at program start.
    static Settings *reopen()
    {
        delete Settings::getInstance();
        return Settings::getInstance();
    }
    static QVariant stored(const QString &key)
    {
        QSettings store;
        return store.value(key);
    }
    // Runs the real Settings class in a process of its own, which sees only
    // what the previous process left in the file; returns what it printed.
    static QStringList probe(const QStringList &assignments)
    {
        QProcess process;
        process.start(QStringLiteral(PANEL_PROBE), QStringList{QStringLiteral("settings")} + assignments);
        if (!process.waitForFinished(30000) || process.exitCode() != 0) {
            qWarning() << "panelprobe failed:" << process.readAllStandardError();
            return {};
        }
        return QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    static void seed(const QVariantMap &values)
    {
        delete Settings::getInstance();
        QSettings store;
        store.clear();
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            store.setValue(it.key(), it.value());
        store.sync();
    }

private slots:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("orvane"));
        QCoreApplication::setApplicationName(QStringLiteral("BVR60600"));
    }

    void cleanup() { seed({}); }

    void firstRunWritesEveryKey_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("expected");
        QTest::addRow("apiServicePort") << "general/apiServicePort" << QVariant(8888);
        QTest::addRow("apiServiceEnabled") << "general/apiServiceEnabled" << QVariant(false);
        QTest::addRow("collapsing") << "general/collapsing" << QVariant(false);
        QTest::addRow("docking") << "general/docking" << QVariant(false);
        QTest::addRow("i2cSpeed") << "general/i2cSpeed" << QVariant(1000);
        QTest::addRow("i2c8BitAddress") << "general/i2c8BitAddress" << QVariant(false);
        QTest::addRow("immediateMode") << "general/immediateMode" << QVariant(false);
        QTest::addRow("commsDebugMode") << "general/commsDebugMode" << QVariant(false);
        QTest::addRow("deepRead") << "general/deepRead" << QVariant(false);
        QTest::addRow("debugScripts") << "general/debugScripts" << QVariant(false);
        QTest::addRow("logOnStartup") << "general/logOnStartup" << QVariant(true);
        QTest::addRow("lastProduction") << "general/lastProduction" << QVariant(QString());
        QTest::addRow("lastProject") << "general/lastProject" << QVariant(QString());
        QTest::addRow("productionExtension") << "general/productionFileExtension" << QVariant(QStringLiteral("prd"));
        QTest::addRow("projectExtension") << "general/projectFileExtension" << QVariant(QStringLiteral("prj"));
        QTest::addRow("openLastProject") << "general/openLastProject" << QVariant(true);
        QTest::addRow("reloadableOnStartup") << "general/reloadableOnStartup" << QVariant(false);
        QTest::addRow("scanOpen") << "general/scanOpen" << QVariant(false);
        QTest::addRow("scanManual") << "general/scanManual" << QVariant(false);
        QTest::addRow("testPane") << "general/testPane" << QVariant(false);
        QTest::addRow("i2cOpenScanBuses") << "general/i2cOpenScanBuses" << QVariant(QStringList());
        QTest::addRow("windowSize") << "general/windowSize" << QVariant(QSize(1024, 768));
    }

    // After the first run the store must hold every key so a user can edit it.
    void firstRunWritesEveryKey()
    {
        QFETCH(QString, key);
        QFETCH(QVariant, expected);
        seed({});
        QVERIFY(!stored(key).isValid());
        Settings::getInstance();
        QVariant value = stored(key);
        QVERIFY2(value.isValid(), qPrintable(key));
        QVERIFY(value.convert(expected.metaType()));
        QCOMPARE(value, expected);
        QCOMPARE(QSettings().allKeys().size(), 22);
    }

    void storedValueIsRead_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<QVariant>("expected");
        QTest::addRow("port") << "general/apiServicePort" << QVariant(1234) << QByteArray("apiServicePort") << QVariant(1234);
        QTest::addRow("port not a number") << "general/apiServicePort" << QVariant("abc") << QByteArray("apiServicePort") << QVariant(0);
        QTest::addRow("speed") << "general/i2cSpeed" << QVariant(400) << QByteArray("i2cSpeed") << QVariant(400);
        QTest::addRow("comms debug") << "general/commsDebugMode" << QVariant(true) << QByteArray("commsDebugMode") << QVariant(true);
        QTest::addRow("log on startup off") << "general/logOnStartup" << QVariant(false) << QByteArray("logOnStartup") << QVariant(false);
        QTest::addRow("production ext") << "general/productionFileExtension" << QVariant("xyz") << QByteArray("productionExtension") << QVariant("xyz");
        QTest::addRow("project ext") << "general/projectFileExtension" << QVariant("cfg") << QByteArray("projectExtension") << QVariant("cfg");
        QTest::addRow("window size") << "general/windowSize" << QVariant(QSize(800, 600)) << QByteArray("size") << QVariant(QSize(800, 600));
        QTest::addRow("deep read") << "general/deepRead" << QVariant(true) << QByteArray("deepRead") << QVariant(true);
        // The store hands a list written by hand as one text.
        QTest::addRow("open-scan buses by hand") << "general/i2cOpenScanBuses" << QVariant(" i2c-1, i2c-3,")
                                                 << QByteArray("i2cOpenScanBuses") << QVariant(QStringList{ "i2c-1", "i2c-3" });
    }

    void storedValueIsRead()
    {
        QFETCH(QString, key);
        QFETCH(QVariant, value);
        QFETCH(QByteArray, property);
        QFETCH(QVariant, expected);
        seed({{key, value}});
        QCOMPARE(Settings::getInstance()->property(property.constData()), expected);
    }

    void openLastProject_data()
    {
        QTest::addColumn<bool>("open");
        QTest::addColumn<QString>("expected");
        QTest::addRow("reopen") << true << "/work/a.cfg";
        QTest::addRow("do not reopen") << false << "";
    }

    // The path is only hidden, so switching the option back on restores it.
    void openLastProject()
    {
        QFETCH(bool, open);
        QFETCH(QString, expected);
        seed({{QStringLiteral("general/lastProject"), QStringLiteral("/work/a.cfg")},
              {QStringLiteral("general/openLastProject"), open}});
        QCOMPARE(Settings::getInstance()->lastProject(), expected);
        QCOMPARE(stored(QStringLiteral("general/lastProject")).toString(), QStringLiteral("/work/a.cfg"));
    }

    void changeIsWrittenAtOnce_data()
    {
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("value");
        QTest::addRow("size") << QByteArray("size") << "general/windowSize" << QVariant(QSize(640, 480));
        QTest::addRow("apiServicePort") << QByteArray("apiServicePort") << "general/apiServicePort" << QVariant(9000);
        QTest::addRow("apiServiceEnabled") << QByteArray("apiServiceEnabled") << "general/apiServiceEnabled" << QVariant(true);
        QTest::addRow("collapsing") << QByteArray("collapsing") << "general/collapsing" << QVariant(true);
        QTest::addRow("docking") << QByteArray("docking") << "general/docking" << QVariant(true);
        QTest::addRow("i2cSpeed") << QByteArray("i2cSpeed") << "general/i2cSpeed" << QVariant(100);
        QTest::addRow("i2c8BitAddress") << QByteArray("i2c8BitAddress") << "general/i2c8BitAddress" << QVariant(true);
        QTest::addRow("immediateMode") << QByteArray("immediateMode") << "general/immediateMode" << QVariant(true);
        QTest::addRow("commsDebugMode") << QByteArray("commsDebugMode") << "general/commsDebugMode" << QVariant(true);
        QTest::addRow("logOnStartup") << QByteArray("logOnStartup") << "general/logOnStartup" << QVariant(false);
        QTest::addRow("lastProduction") << QByteArray("lastProduction") << "general/lastProduction" << QVariant("/p.prd");
        QTest::addRow("lastProject") << QByteArray("lastProject") << "general/lastProject" << QVariant("/p.cfg");
        QTest::addRow("productionExtension") << QByteArray("productionExtension") << "general/productionFileExtension" << QVariant("pr2");
        QTest::addRow("projectExtension") << QByteArray("projectExtension") << "general/projectFileExtension" << QVariant("cfg");
        QTest::addRow("openLastProject") << QByteArray("openLastProject") << "general/openLastProject" << QVariant(false);
        QTest::addRow("reloadableOnStartup") << QByteArray("reloadableOnStartup") << "general/reloadableOnStartup" << QVariant(true);
        QTest::addRow("scanOpen") << QByteArray("scanOpen") << "general/scanOpen" << QVariant(true);
        QTest::addRow("scanManual") << QByteArray("scanManual") << "general/scanManual" << QVariant(true);
        QTest::addRow("testPane") << QByteArray("testPane") << "general/testPane" << QVariant(true);
        QTest::addRow("debugScripts") << QByteArray("debugScripts") << "general/debugScripts" << QVariant(true);
        QTest::addRow("deepRead") << QByteArray("deepRead") << "general/deepRead" << QVariant(true);
        QTest::addRow("viewLevel, not stored") << QByteArray("viewLevel") << "" << QVariant(1);
        QTest::addRow("debugNoRules, not stored") << QByteArray("debugNoRules") << "" << QVariant(true);
    }

    // An unchanged value emits and writes nothing; a change emits once and
    // reaches the store before the setter returns.
    void changeIsWrittenAtOnce()
    {
        QFETCH(QByteArray, property);
        QFETCH(QString, key);
        QFETCH(QVariant, value);
        Settings *settings = Settings::getInstance();
        const QMetaProperty meta = settings->metaObject()->property(
            settings->metaObject()->indexOfProperty(property.constData()));
        QVERIFY(meta.isValid());
        QSignalSpy spy(settings, meta.notifySignal());

        // Tamper with the store behind the object's back: a write of the
        // unchanged value would overwrite this.
        const QVariant current = settings->property(property.constData());
        if (!key.isEmpty())
            settings->setValue(key, QStringLiteral("untouched"));
        QVERIFY(settings->setProperty(property.constData(), current));
        QCOMPARE(spy.count(), 0);
        if (!key.isEmpty())
            QCOMPARE(stored(key).toString(), QStringLiteral("untouched"));

        QVERIFY(settings->setProperty(property.constData(), value));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0), value);
        QCOMPARE(settings->property(property.constData()), value);
        if (!key.isEmpty()) {
            QVariant written = stored(key);
            QVERIFY(written.convert(value.metaType()));
            QCOMPARE(written, value);
        } else {
            QVERIFY(!QSettings().allKeys().contains(QStringLiteral("general/") + QString::fromLatin1(property)));
        }
    }

    void generalGroupSurvivesRestart_data()
    {
        QTest::addColumn<QByteArray>("file"); // as an earlier run or the user left it
        QTest::addColumn<QStringList>("assignments");
        QTest::addColumn<QStringList>("expected");
        const QStringList changed{QStringLiteral("apiServiceEnabled=true"), QStringLiteral("i2cSpeed=400"),
                                  QStringLiteral("lastProject=/p/a.cfg"), QStringLiteral("size=800x600")};
        QTest::addRow("set in the run before") << QByteArray() << changed << changed;
        QTest::addRow("hand-written [general]")
            << QByteArray("[general]\napiServiceEnabled=true\napiServicePort=9000\n") << QStringList()
            << QStringList{QStringLiteral("apiServiceEnabled=true"), QStringLiteral("apiServicePort=9000")};
        QTest::addRow("a section per earlier run, the last newest")
            << QByteArray("[%General]\napiServicePort=1111\ni2cSpeed=100\n\n[%General]\napiServicePort=2222\n\n"
                          "[themes]\nstyle=Light\n")
            << QStringList() << QStringList{QStringLiteral("apiServicePort=2222"), QStringLiteral("i2cSpeed=100")};
        QTest::addRow("hand edit below the written section")
            << QByteArray("[%General]\napiServiceEnabled=false\n\n[general]\napiServiceEnabled=true\n")
            << QStringList() << QStringList{QStringLiteral("apiServiceEnabled=true")};
        QTest::addRow("written section below the hand edit")
            << QByteArray("[general]\napiServiceEnabled=true\n\n[%General]\napiServiceEnabled=false\n")
            << QStringList() << QStringList{QStringLiteral("apiServiceEnabled=false")};
    }

    // Fault: QSettings writes the group "general" as [%General] and reads that
    // back as "General", so no general setting survived a restart, every start
    // added a section, and a hand-written [general] was not read either.
    // Within one process QSettings answers from its cache: it takes a second.
    void generalGroupSurvivesRestart()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, assignments);
        QFETCH(QStringList, expected);
        delete Settings::getInstance();
        const QString path = QSettings().fileName();
        QFile::remove(path);
        if (!file.isEmpty()) {
            QVERIFY(QDir().mkpath(QFileInfo(path).path()));
            QFile store(path);
            QVERIFY(store.open(QIODevice::WriteOnly) && store.write(file) == file.size());
        }

        const QStringList first = probe(assignments);
        QVERIFY(!first.isEmpty());
        const QStringList second = probe({});
        for (const QString &value : std::as_const(expected))
            QVERIFY2(second.contains(value), qPrintable(second.join(QLatin1Char(' '))));
        if (assignments.isEmpty())
            QCOMPARE(first, second);
        QCOMPARE(probe({}), second);

        QFile store(path);
        QVERIFY(store.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(store.readAll());
        const QRegularExpression section(QStringLiteral("^\\[%?general\\]$"),
                                         QRegularExpression::CaseInsensitiveOption | QRegularExpression::MultilineOption);
        QCOMPARE(text.count(section), 1);
        QCOMPARE(text.count(QRegularExpression(QStringLiteral("^apiServicePort="), QRegularExpression::MultilineOption)), 1);
        if (file.contains("[themes]"))
            QVERIFY2(text.contains(QStringLiteral("[themes]\nstyle=Light")), qPrintable(text));
    }

    // QML assigns one component of a value-type property; the whole size
    // must still come back through the setter and reach the store.
    void sizeComponentFromScript()
    {
        Settings *settings = Settings::getInstance();
        QJSEngine engine;
        QJSEngine::setObjectOwnership(settings, QJSEngine::CppOwnership);
        engine.globalObject().setProperty(QStringLiteral("settings"), engine.newQObject(settings));
        const QJSValue result = engine.evaluate(QStringLiteral("settings.size.width = 1280; settings.size.height = 720;"));
        QVERIFY2(!result.isError(), qPrintable(result.toString()));
        QCOMPARE(settings->size(), QSize(1280, 720));
        QCOMPARE(stored(QStringLiteral("general/windowSize")).toSize(), QSize(1280, 720));
    }
};

PANEL_TEST_MAIN(TestSettings)
#include "tst_settings.moc"

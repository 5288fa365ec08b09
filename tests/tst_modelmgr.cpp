#include "testenv.h"

#include "bvr60600/dmodel.h"
#include "models/modelmgr.h"
#include "services/settings.h"

#include <QPointer>
#include <QTimer>

namespace {

const QStringList testProperties = {
    QStringLiteral("testLabel"),    QStringLiteral("testTextField"), QStringLiteral("testCheckBox"),
    QStringLiteral("testRadioButton"), QStringLiteral("testSwitch"), QStringLiteral("testComboBox"),
    QStringLiteral("testSpinBox"),  QStringLiteral("testSlider"),    QStringLiteral("testDial"),
};

QVariant read(const QObject *object, const QString &name)
{
    return object->property(name.toLatin1().constData());
}

// Collects the debug output of one stretch of a test.
class DebugCapture
{
public:
    DebugCapture() { m_previous = qInstallMessageHandler(&DebugCapture::handle); }
    ~DebugCapture() { qInstallMessageHandler(m_previous); }
    DebugCapture(const DebugCapture &) = delete;
    DebugCapture &operator=(const DebugCapture &) = delete;

    static QStringList &messages()
    {
        static QStringList list;
        return list;
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext &, const QString &message)
    {
        if (type == QtDebugMsg)
            messages().append(message);
    }

    QtMessageHandler m_previous;
};

} // namespace

class TestModelMgr : public QObject
{
    Q_OBJECT

private:
    ModelMgr *m_mgr = nullptr;

    // The demo rule is driven by hand, so that tick numbers are exact.
    void tick(int count)
    {
        for (int i = 0; i < count; ++i)
            QVERIFY(QMetaObject::invokeMethod(m_mgr, "demoValidation"));
    }

private slots:
    void init()
    {
        delete ModelMgr::getInstance();
        m_mgr = ModelMgr::getInstance();
        QTimer *demoTimer = m_mgr->findChild<QTimer *>();
        QVERIFY(demoTimer);
        QVERIFY(demoTimer->isActive());
        QCOMPARE(demoTimer->interval(), 500);
        demoTimer->stop();
        Settings::getInstance()->setTestPane(false);
    }

    void registryDoesNotOwnModels()
    {
        auto *model = new Bvr60600::DModel;
        QPointer<Model> guard = model;
        m_mgr->insertModel(QStringLiteral("bvr60600"), model);
        QCOMPARE(m_mgr->modelTypes(), QStringList{QStringLiteral("bvr60600")});
        QCOMPARE(m_mgr->modelForType(QStringLiteral("bvr60600")).data(), model);
        QVERIFY(m_mgr->modelForType(QStringLiteral("pmbus")).isNull());
        QVERIFY(m_mgr->currentModel().isNull());

        // A fresh manager starts empty and the old one left the model alive.
        delete m_mgr;
        m_mgr = ModelMgr::getInstance();
        QVERIFY(!guard.isNull());
        QVERIFY(m_mgr->modelTypes().isEmpty());

        m_mgr->insertModel(QStringLiteral("bvr60600"), model);
        delete model;
        QVERIFY(m_mgr->modelForType(QStringLiteral("bvr60600")).isNull());
        QVERIFY(m_mgr->modelTypes().isEmpty());
    }

    void insertReplaces()
    {
        Bvr60600::DModel first;
        Bvr60600::DModel second;
        Model other;
        m_mgr->insertModel(QStringLiteral("bvr60600"), &first);
        m_mgr->insertModel(QStringLiteral("pmbus"), &other);
        m_mgr->onCurrentTypeChanged(QStringLiteral("bvr60600"));
        m_mgr->insertModel(QStringLiteral("bvr60600"), &second);
        QCOMPARE(m_mgr->modelForType(QStringLiteral("bvr60600")).data(), &second);
        QCOMPARE(m_mgr->currentModel().data(), &first);
        QCOMPARE(m_mgr->modelTypes(), (QStringList{QStringLiteral("bvr60600"), QStringLiteral("pmbus")}));
    }

    void currentTypeChanged_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<bool>("switches");
        QTest::addRow("filed type") << "bvr60600" << true;
        QTest::addRow("type without a model") << "pmbus" << false;
        QTest::addRow("case differs") << "BVR60600" << false;
        QTest::addRow("empty") << "" << false;
    }

    void currentTypeChanged()
    {
        QFETCH(QString, type);
        QFETCH(bool, switches);
        Bvr60600::DModel bvr;
        Model welcome;
        m_mgr->insertModel(QStringLiteral("bvr60600"), &bvr);
        m_mgr->insertModel(QStringLiteral("welcome"), &welcome);
        m_mgr->onCurrentTypeChanged(QStringLiteral("welcome"));

        DebugCapture::messages().clear();
        {
            DebugCapture capture;
            m_mgr->onCurrentTypeChanged(type);
        }
        QCOMPARE(m_mgr->currentModel().data(), switches ? static_cast<Model *>(&bvr) : &welcome);
        const QStringList expectedLog = switches
            ? QStringList{QStringLiteral("modelMgr_currentTypeChanged: changed current model to bvr60600")}
            : QStringList();
        QCOMPARE(DebugCapture::messages(), expectedLog);
    }

    void demoFollowsTicksWhileOff()
    {
        QSignalSpy labelSpy(m_mgr, &ModelMgr::testLabelChanged);
        tick(30);
        QCOMPARE(labelSpy.count(), 0);
        QCOMPARE(m_mgr->testLabel_help(), QString());

        Settings::getInstance()->setTestPane(true);
        tick(1);
        QCOMPARE(m_mgr->testLabel(), QStringLiteral("31"));
        QCOMPARE(m_mgr->testTextField(), QStringLiteral("31"));
        QCOMPARE(m_mgr->testSpinBox(), 31);
        QCOMPARE(m_mgr->testSlider(), 31);
        QCOMPARE(m_mgr->testDial(), 31.0);
        QCOMPARE(m_mgr->testCheckBox(), false);
        QCOMPARE(m_mgr->testRadioButton(), false);
        QCOMPARE(m_mgr->testSwitch(), false);
        QCOMPARE(m_mgr->testComboBox(), QString());
        QCOMPARE(m_mgr->testLabel_tip(), QStringLiteral("Value is '31'\nState is '0'"));
        QCOMPARE(m_mgr->testDial_tip(), QStringLiteral("Value is '31'\nState is '0'"));
        QCOMPARE(m_mgr->testCheckBox_tip(), QStringLiteral("Value is '0'\nState is '0'"));
        QCOMPARE(m_mgr->testComboBox_tip(), QStringLiteral("Value is ''\nState is '0'"));
        QCOMPARE(m_mgr->testSwitch_help(), QStringLiteral("This is just a sample Switch to exercise the rules engine."));
        QCOMPARE(m_mgr->testComboBox_help(), QStringLiteral("This is just a sample ComboBox to exercise the rules engine."));

        QSignalSpy valueSpy(m_mgr, &ModelMgr::testSliderChanged);
        QSignalSpy sliderStateSpy(m_mgr, &ModelMgr::testSlider_stateChanged);
        QSignalSpy helpSpy(m_mgr, &ModelMgr::testSlider_helpChanged);
        tick(8); // n = 39
        for (const QString &name : testProperties)
            QCOMPARE(read(m_mgr, name + QStringLiteral("_state")), QVariant(0));
        tick(1); // n = 40
        for (const QString &name : testProperties)
            QCOMPARE(read(m_mgr, name + QStringLiteral("_state")), QVariant(17));
        QCOMPARE(sliderStateSpy.count(), 1);
        QCOMPARE(valueSpy.count(), 9);
        QCOMPARE(helpSpy.count(), 0);
        QCOMPARE(m_mgr->testSlider(), 40);
        QCOMPARE(m_mgr->testCheckBox(), true);
    }

    void demoStepsStatesEveryTenTicks()
    {
        Settings::getInstance()->setTestPane(true);
        QSignalSpy checkSpy(m_mgr, &ModelMgr::testCheckBoxChanged);
        tick(9);
        QCOMPARE(m_mgr->testCheckBox(), true);
        tick(1); // n = 10
        for (const QString &name : testProperties) {
            QCOMPARE(read(m_mgr, name + QStringLiteral("_state")), QVariant(1));
            QCOMPARE(read(m_mgr, name + QStringLiteral("_tip")).toString().section(QLatin1Char('\n'), 1),
                     QStringLiteral("State is '1'"));
        }
        QCOMPARE(m_mgr->testCheckBox(), false);
        QCOMPARE(checkSpy.count(), 2);

        // 20: error, ..., 50 and 60: changed with warning, 70: ok again.
        const QList<int> expected = {2, 16, 17, 17, 0};
        for (int state : expected) {
            tick(10);
            QCOMPARE(m_mgr->testDial_state(), state);
        }
    }
};

PANEL_TEST_MAIN(TestModelMgr)
#include "tst_modelmgr.moc"

#include "testenv.h"

#include "models/model.h"
#include "models/rules.h"

#include <QPointer>

namespace {

// A model with one list setting (three rails), a choice list and a scalar
// setting, to exercise the helper conventions beyond what a family uses.
class ListModel : public Model
{
    Q_OBJECT
    Q_PROPERTY(QVariantList rails READ rails WRITE setRails NOTIFY railsChanged)
    Q_PROPERTY(QStringList rails_help READ rails_help WRITE setRails_help NOTIFY rails_helpChanged STORED false)
    Q_PROPERTY(QList<int> rails_state READ rails_state WRITE setRails_state NOTIFY rails_stateChanged STORED false)
    Q_PROPERTY(QStringList rails_dirty READ rails_dirty WRITE setRails_dirty NOTIFY rails_dirtyChanged)
    Q_PROPERTY(QStringList mode_keys READ mode_keys WRITE setMode_keys NOTIFY mode_keysChanged STORED false)
    Q_PROPERTY(QVariantList mode_values READ mode_values WRITE setMode_values NOTIFY mode_valuesChanged STORED false)
    Q_PROPERTY(int code READ code WRITE setCode NOTIFY codeChanged)
    Q_PROPERTY(int code_state READ code_state WRITE setCode_state NOTIFY code_stateChanged STORED false)

public:
    ListModel()
    {
        m_rails = {1.0, 1.2, 0.9};
        m_mode_keys = {QStringLiteral("auto"), QStringLiteral("forced"), QStringLiteral("off"), QStringLiteral("test")};
        initializePropertyListCount();
        initializePropertyHelpers();
    }

    QVariantList rails() const { return m_rails; }
    QStringList rails_help() const { return m_rails_help; }
    QList<int> rails_state() const { return m_rails_state; }
    QStringList rails_dirty() const { return m_rails_dirty; }
    QStringList mode_keys() const { return m_mode_keys; }
    QVariantList mode_values() const { return m_mode_values; }
    int code() const { return m_code; }
    int code_state() const { return m_code_state; }

    void setRails(const QVariantList &v) { assignProperty(this, m_rails, v, &ListModel::railsChanged); }
    void setRails_help(const QStringList &v) { assignProperty(this, m_rails_help, v, &ListModel::rails_helpChanged); }
    void setRails_state(const QList<int> &v) { assignProperty(this, m_rails_state, v, &ListModel::rails_stateChanged); }
    void setRails_dirty(const QStringList &v) { assignProperty(this, m_rails_dirty, v, &ListModel::rails_dirtyChanged); }
    void setMode_keys(const QStringList &v) { assignProperty(this, m_mode_keys, v, &ListModel::mode_keysChanged); }
    void setMode_values(const QVariantList &v) { assignProperty(this, m_mode_values, v, &ListModel::mode_valuesChanged); }
    void setCode(int v) { assignProperty(this, m_code, v, &ListModel::codeChanged); }
    void setCode_state(int v) { assignProperty(this, m_code_state, v, &ListModel::code_stateChanged); }

signals:
    void railsChanged(const QVariantList &);
    void rails_helpChanged(const QStringList &);
    void rails_stateChanged(const QList<int> &);
    void rails_dirtyChanged(const QStringList &);
    void mode_keysChanged(const QStringList &);
    void mode_valuesChanged(const QVariantList &);
    void codeChanged(int);
    void code_stateChanged(int);

private:
    QVariantList m_rails;
    QStringList m_rails_help;
    QList<int> m_rails_state;
    QStringList m_rails_dirty;
    QStringList m_mode_keys;
    QVariantList m_mode_values;
    int m_code = 0;
    int m_code_state = 0;
};

// Counts its runs and leaves a trace in the model, so a test can tell
// whether validation ran before a state was read or after it was loaded.
class CountingRules : public Rules
{
public:
    using Rules::Rules;

    int doValidation() override
    {
        ++calls;
        codeSeen = model()->property("code").toInt();
        model()->setUnitTestProperty_dirty(QStringLiteral("validated %1").arg(calls));
        return 0;
    }

    int calls = 0;
    int codeSeen = -1;
};

} // namespace

class TestModel : public QObject
{
    Q_OBJECT

private slots:
    void basePropertyName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("base");
        QTest::addRow("dirty helper") << "voutControl_dirty" << "voutControl";
        QTest::addRow("base itself") << "voutControl" << "voutControl";
        QTest::addRow("two suffixes") << "rails_state_tip" << "rails";
        QTest::addRow("values list") << "mode_values" << "mode";
        QTest::addRow("keys are a base") << "mode_keys" << "mode_keys";
        QTest::addRow("case-sensitive") << "rails_Help" << "rails_Help";
        QTest::addRow("suffix inside the name") << "a_tipb" << "ab";
    }

    void basePropertyName()
    {
        QFETCH(QString, name);
        QFETCH(QString, base);
        QCOMPARE(Model::basePropertyName(name), base);
    }

    void listHelpersFollowTheirSetting()
    {
        ListModel model;
        QCOMPARE(model.sizePropertyListFor(QStringLiteral("rails")), 3);
        QCOMPARE(model.sizePropertyListFor(QStringLiteral("code")), 0);
        QCOMPARE(model.sizePropertyListFor(QStringLiteral("nothing")), 0);
        QCOMPARE(model.rails_help(), QStringList(3));
        QCOMPARE(model.rails_dirty(), QStringList(3));
        QCOMPARE(model.rails_state(), QList<int>(3, 0));
        QCOMPARE(model.mode_values(), (QVariantList{0, 1, 2, 3}));
        QCOMPARE(model.emptyStringListFor(QStringLiteral("rails_tip")), QStringList(3));
        QCOMPARE(model.emptyIntListFor(QStringLiteral("rails_state")), QList<int>(3, 0));
        QCOMPARE(model.emptyIntListFor(QStringLiteral("code_state")), QList<int>());

        // A list setting that shrank to nothing still has list helpers, not
        // lists holding one stray empty text.
        model.setRails({});
        model.initializePropertyListCount();
        model.initializePropertyHelpers();
        QCOMPARE(model.rails_help(), QStringList());
        QCOMPARE(model.rails_state(), QList<int>());
    }

    void clearPropertyStatesKeepsListShape()
    {
        ListModel model;
        model.setRails_state({Model::StateError, Model::StateOk, Model::StateWarning | Model::StateChanged});
        model.setCode_state(Model::StateWarning);
        model.setUnitTestProperty_state(Model::StateChanged);
        model.setCode(7);
        model.clearPropertyStates();
        QCOMPARE(model.rails_state(), QList<int>(3, 0));
        QCOMPARE(model.code_state(), 0);
        QCOMPARE(model.unitTestProperty_state(), 0);
        QCOMPARE(model.code(), 7);
    }

    void unknownKeysLiveAsDynamicProperties()
    {
        ListModel model;
        model.setState({{QStringLiteral("foo"), 42}, {QStringLiteral("code"), 5}});
        QCOMPARE(model.property("foo"), QVariant(42));
        QCOMPARE(model.getState().value(QStringLiteral("foo")), QVariant(42));

        // A state without "foo" must not carry the old key along.
        model.setState({{QStringLiteral("bar"), QStringLiteral("x")}});
        QVERIFY(!model.property("foo").isValid());
        const QVariantMap state = model.getState();
        QVERIFY(!state.contains(QStringLiteral("foo")));
        QCOMPARE(state.value(QStringLiteral("bar")), QVariant(QStringLiteral("x")));
        // Keys missing from a state leave their settings alone.
        QCOMPARE(model.code(), 5);
    }

    void setStateConvertsToThePropertyType_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<int>("code");
        QTest::addRow("text") << QVariant(QStringLiteral("60")) << 60;
        QTest::addRow("double") << QVariant(41.0) << 41;
        QTest::addRow("unconvertible text keeps the value") << QVariant(QStringLiteral("sixty")) << 9;
    }

    void setStateConvertsToThePropertyType()
    {
        QFETCH(QVariant, value);
        QFETCH(int, code);
        ListModel model;
        model.setCode(9);
        model.setState({{QStringLiteral("code"), value}});
        QCOMPARE(model.code(), code);
        QCOMPARE(model.getState().value(QStringLiteral("code")).typeId(), QMetaType::Int);
    }

    void stateHoldsOnlyStoredProperties()
    {
        ListModel model;
        model.setProperty("extra", true);
        const QStringList keys = model.getState().keys();
        QCOMPARE(keys, (QStringList{QStringLiteral("code"), QStringLiteral("extra"), QStringLiteral("rails"),
                                    QStringLiteral("rails_dirty"), QStringLiteral("unitTestProperty"),
                                    QStringLiteral("unitTestProperty_dirty")}));
    }

    void range_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("step");
        QTest::addColumn<QVariantList>("expected");
        QTest::addRow("step two") << 5 << 3 << 2 << QVariantList{5, 7, 9};
        QTest::addRow("empty") << 0 << 0 << 1 << QVariantList();
        QTest::addRow("negative count") << 0 << -3 << 1 << QVariantList();
        QTest::addRow("downwards") << 3 << 3 << -1 << QVariantList{3, 2, 1};
    }

    void range()
    {
        QFETCH(int, start);
        QFETCH(int, count);
        QFETCH(int, step);
        QFETCH(QVariantList, expected);
        QCOMPARE(Model::range(start, count, step), expected);
    }

    void emptyStringListOfSize()
    {
        QCOMPARE(Model::emptyStringListOfSize(2), (QStringList{QString(), QString()}));
        QCOMPARE(Model::emptyStringListOfSize(-1), QStringList());
    }

    void logMetaPropertiesFormat()
    {
        Model model;
        const QString expected = QStringLiteral(
            "Properties defined for our model are as follows:\n"
            "   STORED:\n"
            "      name=objectName          , type=QString\n"
            "      name=unitTestProperty    , type=bool\n"
            "      name=unitTestProperty_dirty, type=QString\n"
            "\n"
            "   OTHER:\n"
            "      name=unitTestProperty_help, type=QString\n"
            "      name=unitTestProperty_tip, type=QString\n"
            "      name=unitTestProperty_state, type=int\n"
            "      name=elapsedSeconds      , type=int\n"
            "      name=plotTimerMilliseconds, type=int\n"
            "      name=telemTimerPaused    , type=bool\n"
            "      name=telemTimeVisible    , type=bool\n"
            "\n");
        QTest::ignoreMessage(QtDebugMsg, expected.toUtf8().constData());
        model.logMetaProperties();
    }

    void validationRunsAroundLoadAndSave()
    {
        // Lives far shorter than one timer period, like the device's
        // conversion models, and must still be validated both ways.
        ListModel model;
        auto *rules = new CountingRules(&model);
        model.setRules(rules);

        model.setState({{QStringLiteral("code"), 60}});
        QCOMPARE(rules->calls, 1);
        QCOMPARE(rules->codeSeen, 60);

        const QVariantMap state = model.getState();
        QCOMPARE(rules->calls, 2);
        QCOMPARE(state.value(QStringLiteral("unitTestProperty_dirty")), QVariant(QStringLiteral("validated 2")));
    }

    void validationRunsOnTheTimer()
    {
        ListModel model;
        auto *rules = new CountingRules(&model);
        model.setRules(rules);
        QCOMPARE(rules->calls, 0);
        QTRY_VERIFY_WITH_TIMEOUT(rules->calls >= 2, 2000);
    }

    void modelOwnsItsRules()
    {
        auto *model = new ListModel;
        QPointer<Rules> first = new CountingRules(model);
        model->setRules(first);
        QPointer<Rules> second = new CountingRules(model);
        model->setRules(second);
        QVERIFY(first.isNull());
        model->setRules(second); // installing the same engine again keeps it
        QVERIFY(!second.isNull());
        delete model;
        QVERIFY(second.isNull());
    }
};

PANEL_TEST_MAIN(TestModel)
#include "tst_model.moc"

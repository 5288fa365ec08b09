#include "testenv.h"

#include "bvr60600/dmodel.h"
#include "bvr60600/drules.h"

#include <QMetaProperty>
#include <QPointer>

using Bvr60600::DModel;

namespace {

// Every helper property of the model that is not saved: what a rules engine
// may write and what loading a state must leave alone.
QVariantMap derivedHelpers(const DModel &model)
{
    QVariantMap helpers;
    for (const QMetaProperty &property : model.metaProperties()) {
        const QString name = QString::fromLatin1(property.name());
        if (name.endsWith(QLatin1String("_state")) || name.endsWith(QLatin1String("_help"))
            || name.endsWith(QLatin1String("_tip")))
            helpers.insert(name, property.read(&model));
    }
    return helpers;
}

} // namespace

class TestDModel : public QObject
{
    Q_OBJECT

private slots:
    void newModelState()
    {
        DModel model;
        QCOMPARE(model.myType(), QStringLiteral("bvr60600"));
        QVERIFY(qobject_cast<Bvr60600::DRules *>(model.rules()));
        for (const QVariant &helper : derivedHelpers(model)) {
            QVERIFY(helper == QVariant(0) || helper == QVariant(QString()));
        }

        const QVariantMap state = model.getState();
        const QVariantMap expected = {
            {QStringLiteral("unitTestProperty"), false},
            {QStringLiteral("unitTestProperty_dirty"), QString()},
            {QStringLiteral("voutControl"), 0},
            {QStringLiteral("voutControl_dirty"), QString()},
            {QStringLiteral("autoPwm"), true},
            {QStringLiteral("autoPwm_dirty"), QString()},
            {QStringLiteral("forcedPwm"), false},
            {QStringLiteral("forcedPwm_dirty"), QString()},
            {QStringLiteral("passThrough"), false},
            {QStringLiteral("passThrough_dirty"), QString()},
        };
        QCOMPARE(state, expected);
    }

    void setStateSignalsOnlyChanges()
    {
        DModel model;
        QSignalSpy vout(&model, &DModel::voutControlChanged);
        QSignalSpy dirty(&model, &DModel::voutControl_dirtyChanged);
        QSignalSpy autoPwm(&model, &DModel::autoPwmChanged);
        const QVariantMap state = {{QStringLiteral("voutControl"), 60}, {QStringLiteral("autoPwm"), true}};

        model.setState(state);
        QCOMPARE(vout.count(), 1);
        QCOMPARE(vout.first().first(), QVariant(60));
        QCOMPARE(autoPwm.count(), 0);

        model.setState(state);
        QCOMPARE(vout.count(), 1);
        QCOMPARE(dirty.count(), 0);
    }

    void stateRoundTrip()
    {
        // What a project saves for a device must come back unchanged,
        // including notes and keys this version does not know.
        DModel source;
        source.setVoutControl(95);
        source.setAutoPwm(false);
        source.setPassThrough(true);
        source.setVoutControl_dirty(QStringLiteral("Reserved value read from device."));
        source.setProperty("fromNewerVersion", QStringLiteral("kept"));
        const QVariantMap saved = source.getState();

        DModel target;
        target.setForcedPwm(true);
        target.setVoutControl_dirty(QStringLiteral("stale"));
        target.setState(saved);
        QCOMPARE(target.voutControl(), 95);
        QCOMPARE(target.autoPwm(), false);
        QCOMPARE(target.forcedPwm(), false);
        QCOMPARE(target.voutControl_dirty(), QStringLiteral("Reserved value read from device."));
        QCOMPARE(target.getState(), saved);
    }

    void loadingLeavesHelpersAlone()
    {
        DModel model;
        model.setVoutControl_state(DModel::StateChanged | DModel::StateWarning);
        model.setForcedPwm_help(QStringLiteral("help"));
        model.setPassThrough_tip(QStringLiteral("tip"));
        const QVariantMap before = derivedHelpers(model);

        model.setState({{QStringLiteral("voutControl"), 41}, {QStringLiteral("forcedPwm"), true},
                        {QStringLiteral("passThrough"), true}});
        QCOMPARE(derivedHelpers(model), before);
        QCOMPARE(model.rules()->doValidation(), 0);
        QCOMPARE(derivedHelpers(model), before);
    }

    void rulesDieWithTheModel()
    {
        auto *model = new DModel;
        QPointer<Rules> rules = model->rules();
        QVERIFY(!rules.isNull());
        delete model;
        QVERIFY(rules.isNull());
    }
};

PANEL_TEST_MAIN(TestDModel)
#include "tst_dmodel.moc"

#include "modelmgr.h"

#include "services/settings.h"

#include <QCoreApplication>
#include <QDebug>
#include <QLocale>
#include <QTimer>

#include <array>

ModelMgr *ModelMgr::m_instance = nullptr;

namespace {

// The states the demo steps through, one step every ten ticks. The last one
// repeats, so "changed with warning" is shown twice as long.
struct ValidationState
{
    static constexpr std::array<int, 6> m_states = {
        Model::StateOk,
        Model::StateWarning,
        Model::StateError,
        Model::StateChanged,
        Model::StateChanged | Model::StateWarning,
        Model::StateChanged | Model::StateWarning,
    };
};

// How a demo value reads in its tooltip: booleans as 1 or 0, numbers in
// decimal, texts as they are.
QString tipText(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case QMetaType::Double:
        return QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
    default:
        return value.toString();
    }
}

} // namespace

ModelMgr *ModelMgr::getInstance()
{
    if (!m_instance) {
        m_instance = new ModelMgr;
        qAddPostRoutine([] { delete m_instance; });
    }
    return m_instance;
}

ModelMgr::ModelMgr()
    : m_demoTimer(new QTimer(this))
{
    connect(m_demoTimer, &QTimer::timeout, this, &ModelMgr::demoValidation);
    m_demoTimer->start(500);
    // DeviceMgr connects its currentTypeChanged to onCurrentTypeChanged.
}

ModelMgr::~ModelMgr()
{
    m_demoTimer->stop();
    disconnect();
    m_instance = nullptr;
    delete m_demoTimer;
}

void ModelMgr::insertModel(const QString &type, Model *model)
{
    m_models.insert(type, model);
}

QPointer<Model> ModelMgr::modelForType(const QString &type) const
{
    return m_models.value(type);
}

QStringList ModelMgr::modelTypes() const
{
    // A model destroyed after it was filed no longer counts.
    QStringList types;
    for (auto it = m_models.cbegin(); it != m_models.cend(); ++it) {
        if (it.value())
            types.append(it.key());
    }
    return types;
}

void ModelMgr::onCurrentTypeChanged(const QString &type)
{
    const auto found = m_models.constFind(type);
    if (found == m_models.cend())
        return;
    m_currentModel = found.value();
    qDebug().noquote() << QStringLiteral("modelMgr_currentTypeChanged: changed current model to %1").arg(type);
}

void ModelMgr::demoValidation()
{
    // The tick counts even while the demo is off, so the values shown when it
    // is switched on follow the time since start-up.
    const int n = ++m_demoTicks;
    if (!Settings::getInstance()->testPane())
        return;

    const bool stepState = n % 10 == 0;
    const int state = ValidationState::m_states[std::size_t((n / 10) % int(ValidationState::m_states.size()))];
    const bool evenDecade = (n / 10) % 2 == 0;
    const QString number = QString::number(n);

    struct Demo
    {
        const char *name;
        const char *control;
        QVariant value; // invalid: the demo leaves the value alone
    };
    const std::array<Demo, 9> demos = {{
        {"testLabel", "Label", number},
        {"testTextField", "TextField", number},
        {"testCheckBox", "CheckBox", evenDecade},
        {"testRadioButton", "RadioButton", evenDecade},
        {"testSwitch", "Switch", evenDecade},
        {"testComboBox", "ComboBox", QVariant()},
        {"testSpinBox", "SpinBox", n % 100},
        {"testSlider", "Slider", n % 100},
        {"testDial", "Dial", double(n % 100)},
    }};

    // Every write goes through the property's setter, so only real changes
    // are announced.
    for (const Demo &demo : demos) {
        const QByteArray name(demo.name);
        if (demo.value.isValid())
            setProperty(name, demo.value);
        if (stepState)
            setProperty(name + "_state", state);
        setProperty(name + "_tip", QStringLiteral("Value is '%1'\nState is '%2'")
                                       .arg(tipText(property(name)), QString::number(property(name + "_state").toInt())));
        setProperty(name + "_help", QStringLiteral("This is just a sample %1 to exercise the rules engine.")
                                        .arg(QLatin1String(demo.control)));
    }
}

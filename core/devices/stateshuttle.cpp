#include "devices/stateshuttle.h"

#include "devices/device.h"
#include "devices/deviceroster.h"
#include "devices/dfactory.h"
#include "models/model.h"
#include "models/modelmgr.h"
#include "utils/utils.h"

#include <QDebug>
#include <QMetaProperty>

#include <memory>

namespace {

QPointer<Model> modelFor(const QString &dat)
{
    return ModelMgr::getInstance()->modelForType(Utils::datType(dat));
}

// Entries of a state that a model of the type could never take: a declared
// setting given a value that does not convert to its type. Such entries
// would sit in the saved state and reach the chip as zeros.
QStringList unconvertibleEntries(const Model &model, const QVariantMap &state)
{
    QStringList bad;
    for (const QMetaProperty &property : model.projectMetaProperties()) {
        const auto found = state.constFind(QString::fromLatin1(property.name()));
        if (found == state.cend() || found->metaType() == property.metaType())
            continue;
        QVariant value = *found;
        if (!value.convert(property.metaType()))
            bad << found.key();
    }
    return bad;
}

} // namespace

StateShuttle::StateShuttle(DeviceRoster &roster, QObject *parent)
    : QObject(parent)
    , m_roster(roster)
{
}

bool StateShuttle::getModelState(const QString &dat)
{
    // The model only holds this device's state when it was the last loaded.
    if (dat.isEmpty() || !m_roster.contains(dat) || dat != m_modelStateDat)
        return false;
    const QPointer<Model> model = modelFor(dat);
    if (!model)
        return false;
    m_roster.setState(dat, model->getState());
    emit modelStateSaved(dat);
    return true;
}

bool StateShuttle::setModelState(const QString &dat)
{
    if (dat.isEmpty())
        return false;
    m_modelStateDat = dat;
    const QPointer<Model> model = modelFor(dat);
    if (!model)
        return false;
    model->setState(m_roster.state(dat));
    emit modelStateRestored(dat);
    return true;
}

bool StateShuttle::getDeviceState(const QString &dat)
{
    Device *device = dat.isEmpty() ? nullptr : m_roster.device(dat);
    if (!device)
        return false;
    const DeviceState state = device->getState();
    if (state.isEmpty())
        return false;
    // Merged, not replaced: the chip knows nothing of the alias or the
    // production entries kept in the same state.
    m_roster.mergeState(dat, state);
    if (dat == m_roster.currentDat())
        setModelState(dat);
    emit deviceStateSaved(dat);
    return true;
}

bool StateShuttle::setDeviceState(const QString &dat)
{
    Device *device = dat.isEmpty() ? nullptr : m_roster.device(dat);
    if (!device)
        return false;
    device->setState(m_roster.state(dat));
    emit deviceStateRestored(dat);
    return true;
}

bool StateShuttle::hasValidDeviceState(const QString &dat) const
{
    return !m_roster.state(dat).isEmpty();
}

void StateShuttle::showModelState(const QString &dat)
{
    getModelState(m_modelStateDat);
    setModelState(dat);
}

void StateShuttle::mergeIntoShownState(const QString &dat, const QVariantMap &state)
{
    // The model holds the state of one device only; another device's state
    // is merged where it is kept and the model is left alone.
    const bool shown = m_modelStateDat == dat;
    if (shown)
        getModelState(dat);
    if (!state.isEmpty())
        m_roster.mergeState(dat, state);
    if (shown)
        setModelState(dat);
}

void StateShuttle::forgetDevice(const QString &dat)
{
    if (m_modelStateDat == dat)
        m_modelStateDat.clear();
}

QVariantMap StateShuttle::shownState(const QString &dat) const
{
    const QPointer<Model> model = modelFor(dat);
    if (dat == m_roster.currentDat() && dat == m_modelStateDat && model)
        return model->getState();
    return m_roster.state(dat);
}

QVariantMap StateShuttle::acceptedState(const QString &dat, const QVariantMap &state, QVariantMap *defaults)
{
    if (!DFactory::supportsType(Utils::datType(dat)))
        return state;
    DFactory factory;
    const std::unique_ptr<Model> model(factory.newDerivedModel(Utils::datType(dat)));
    if (defaults)
        *defaults = model->getState();
    QVariantMap accepted = state;
    const QStringList bad = unconvertibleEntries(*model, state);
    for (const QString &key : bad) {
        qWarning().noquote() << QStringLiteral("DevMgr, device %1: %2 cannot take the value %3, ignored")
                                    .arg(dat, key, state.value(key).toString());
        accepted.remove(key);
    }
    return accepted;
}

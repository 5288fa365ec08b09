#include "devices/dfactory.h"

#include "bvr60600/ddevice.h"
#include "bvr60600/dmodel.h"
#include "bvr60600/dvslave.h"
#include "devices/devicetypes.h"
#include "i2c/i2cworker.h"
#include "utils/utils.h"

#include <QCoreApplication>

namespace {

// The bus makes simulated slaves without knowing the families; it gets
// theirs from here whenever an application object is made, before any
// worker exists. Other types have none.
void installSimulatedChips()
{
    I2cWorker::setDefaultVSlaveFactory([](const QString &dat) -> VSlave * {
        return DFactory::supportsDat(dat) ? DFactory().newDerivedVSlave(dat) : nullptr;
    });
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(installSimulatedChips)

DFactory::DFactory() = default;

DFactory::~DFactory() = default;

bool DFactory::supportsDat(const QString &dat)
{
    return dat.toLower().endsWith(Utils::datSeperator + type_bvr60600);
}

bool DFactory::supportsType(const QString &type)
{
    return type.compare(type_bvr60600, Qt::CaseInsensitive) == 0;
}

QStringList DFactory::newableDerivedDeviceTypes()
{
    return { type_bvr60600 };
}

Model *DFactory::newDerivedModel(const QString &type)
{
    if (!supportsType(type))
        qFatal("Attempted to create model for unrecognized type.");
    return new Bvr60600::DModel();
}

Device *DFactory::newDerivedDevice(const QString &dat)
{
    if (!supportsDat(dat))
        qFatal("Attempted to create derived device for unrecognized type.");
    return new Bvr60600::DDevice(dat);
}

VSlave *DFactory::newDerivedVSlave(const QString &dat)
{
    if (!supportsDat(dat))
        qFatal("Attempted to create derived vslave for unrecognized type.");
    auto *slave = new Bvr60600::DVSlave(dat);
    slave->init();
    return slave;
}

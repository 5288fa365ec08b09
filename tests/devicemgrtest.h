#pragma once

// Common ground for the device-manager tests: settings that keep the manager
// from acting on its own (no reopened project, no immediate writes, no scans
// unless a test asks), and the chip model filed with the model manager, as
// start-up does.

#include "bvr60600/dmodel.h"
#include "i2c/i2csvc.h"
#include "models/modelmgr.h"
#include "services/settings.h"

namespace DeviceMgrTest {

inline Bvr60600::DModel *quietStart(bool scanManual = false)
{
    Settings *settings = Settings::getInstance();
    settings->setOpenLastProject(false);
    settings->setImmediateMode(false);
    settings->setScanOpen(false);
    settings->setScanManual(scanManual);
    settings->setCommsDebugMode(false);
    settings->setI2c8BitAddress(false);
    settings->setDebugScripts(false);
    // The first adapter scan loads the vendor libraries, and the bus thread
    // logs whether they are there. Qt Test's message handler reads the
    // current test's name unguarded, so a message from another thread while
    // a test function ends can crash it: that first scan happens here, and
    // the empty script waits for it.
    I2cSvc *svc = I2cSvc::getInstance();
    emit svc->doScanForDongles();
    QString err;
    svc->waitRunScript(QString(), {}, err);
    auto *model = new Bvr60600::DModel;
    ModelMgr::getInstance()->insertModel(model->myType(), model);
    return model;
}

} // namespace DeviceMgrTest

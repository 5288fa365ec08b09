#pragma once

// Common ground for the device-manager tests: settings that keep the manager
// from acting on its own (no reopened project, no immediate writes, no scans
// unless a test asks), and the chip model filed with the model manager, as
// start-up does.

#include "bvr60600/dmodel.h"
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
    auto *model = new Bvr60600::DModel;
    ModelMgr::getInstance()->insertModel(model->myType(), model);
    return model;
}

} // namespace DeviceMgrTest

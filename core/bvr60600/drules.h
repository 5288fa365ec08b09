#pragma once

#include "models/rules.h"

namespace Bvr60600 {

class DModel;

// The bvr60600 has no rules across its settings: the voltage codes offered
// are limited by the controls, and the one warning of the family (a reserved
// code read back) comes from the device class in voutControl_dirty.
class PANELCORE_EXPORT DRules : public Rules
{
    Q_OBJECT

public:
    explicit DRules(DModel *model);
    ~DRules() override;

    int doValidation() override;
};

} // namespace Bvr60600

#include "drules.h"

#include "dmodel.h"

namespace Bvr60600 {

DRules::DRules(DModel *model)
    : Rules(model)
{
}

DRules::~DRules() = default;

int DRules::doValidation()
{
    // Nothing to check, and the helpers keep what the model and the device
    // class put there.
    return 0;
}

} // namespace Bvr60600

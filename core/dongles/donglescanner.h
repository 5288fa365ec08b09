#pragma once

#include "donglemgr.h"

namespace Dongles {

// Adapts an adapter class's static Scan to the registry's scan function.
template<typename T>
struct DongleScanner
{
    DongleList operator()(const DongleMgr &mgr) const { return T::Scan(mgr); }
};

} // namespace Dongles

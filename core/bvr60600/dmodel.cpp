#include "dmodel.h"

#include "drules.h"

namespace Bvr60600 {

DModel::DModel(QObject *parent)
    : Model(parent)
{
    // The base constructor only saw the properties of Model.
    initializePropertyListCount();
    initializePropertyHelpers();
    setRules(new DRules(this));
}

DModel::~DModel() = default;

QString DModel::myType() const
{
    return QStringLiteral("bvr60600");
}

} // namespace Bvr60600

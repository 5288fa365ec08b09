#pragma once

#include "panelcore_global.h"

#include <QMetaType>
#include <QString>
#include <QVariantMap>

// The saved state of one device. Its keys belong to the device family and its
// model; the device manager only stores, merges and hands these maps on.
typedef QVariantMap DeviceState;

// Device type keys: the third field of a DAT. Only type_bvr60600 has an
// implementation; type_welcome is what the user interface shows while no
// device is current.
inline const QString type_welcome = QStringLiteral("welcome");
inline const QString type_bvr60100 = QStringLiteral("bvr60100");
inline const QString type_bvr60200 = QStringLiteral("bvr60200");
inline const QString type_bvr60300 = QStringLiteral("bvr60300");
inline const QString type_bvr60400 = QStringLiteral("bvr60400");
inline const QString type_unknownPmbus = QStringLiteral("pmbus");
inline const QString type_bvr60500 = QStringLiteral("bvr60500");
inline const QString type_bvr60600 = QStringLiteral("bvr60600");
inline const QString type_bvr60700 = QStringLiteral("bvr60700");

namespace DeviceTypes {
// Lets DeviceState travel through queued connections and QVariant under its
// own name. Safe to call more than once.
PANELCORE_EXPORT void registerMetaTypes();
} // namespace DeviceTypes

#pragma once

#include "panelcore_global.h"

#include <QString>
#include <QStringList>

class Device;
class Model;
class VSlave;

// Turns a DAT or a type key into an object of the right device family. The
// callers check the type first (with the model manager's list, or with
// supportsDat/supportsType); an unsupported type here is a broken
// precondition and goes to the fatal message handler.
class PANELCORE_EXPORT DFactory
{
public:
    DFactory();
    virtual ~DFactory();

    virtual QStringList newableDerivedDeviceTypes();
    // The caller owns every object made here.
    virtual Model *newDerivedModel(const QString &type);
    virtual Device *newDerivedDevice(const QString &dat);
    // The simulated chip already holds its power-on image.
    virtual VSlave *newDerivedVSlave(const QString &dat);

    // The non-fatal type tests, for callers that handle user input.
    static bool supportsDat(const QString &dat);
    static bool supportsType(const QString &type);
};

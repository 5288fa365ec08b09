#pragma once

// A device whose answers a test sets: its saved state, its function and
// monitor events and its scripts. It counts its own destruction, for the
// tests of who deletes a device.

#include "devices/device.h"
#include "utils/utils.h"

class StubDevice : public Device
{
public:
    explicit StubDevice(const QString &dat, int *deaths = nullptr)
        : Device(dat)
        , m_deaths(deaths)
    {
    }
    ~StubDevice() override
    {
        if (m_deaths)
            ++*m_deaths;
    }

    QString myType() const override { return Utils::datType(dat()); }
    DeviceState getState() override { return state; }
    QVariantMap getFunctionEvent(const QString &) override { return functionEvent; }
    QVariantMap getMonitorEvent(const QString &) override { return monitorEvent; }
    QStringList getMonitorScript(const QString &) override { return script; }
    QStringList getReadConfigurationScript() override { return script; }

    DeviceState state;
    QVariantMap functionEvent;
    QVariantMap monitorEvent;
    QStringList script{QStringLiteral("read_register 41 1")};

private:
    int *m_deaths;
};

#pragma once

#include "models/model.h"

namespace Bvr60600 {

// The settings of a bvr60600 chip: the output-voltage code and the operating
// mode. The three mode flags describe one choice (automatic PWM, forced PWM,
// pass-through) but are not kept exclusive here; the device class decides
// how they map to the control register.
class PANELCORE_EXPORT DModel : public Model
{
    Q_OBJECT
    Q_PROPERTY(int voutControl READ voutControl WRITE setVoutControl NOTIFY voutControlChanged)
    Q_PROPERTY(QString voutControl_help READ voutControl_help WRITE setVoutControl_help NOTIFY voutControl_helpChanged STORED false)
    Q_PROPERTY(QString voutControl_tip READ voutControl_tip WRITE setVoutControl_tip NOTIFY voutControl_tipChanged STORED false)
    Q_PROPERTY(int voutControl_state READ voutControl_state WRITE setVoutControl_state NOTIFY voutControl_stateChanged STORED false)
    Q_PROPERTY(QString voutControl_dirty READ voutControl_dirty WRITE setVoutControl_dirty NOTIFY voutControl_dirtyChanged)
    Q_PROPERTY(bool autoPwm READ autoPwm WRITE setAutoPwm NOTIFY autoPwmChanged)
    Q_PROPERTY(QString autoPwm_help READ autoPwm_help WRITE setAutoPwm_help NOTIFY autoPwm_helpChanged STORED false)
    Q_PROPERTY(QString autoPwm_tip READ autoPwm_tip WRITE setAutoPwm_tip NOTIFY autoPwm_tipChanged STORED false)
    Q_PROPERTY(int autoPwm_state READ autoPwm_state WRITE setAutoPwm_state NOTIFY autoPwm_stateChanged STORED false)
    Q_PROPERTY(QString autoPwm_dirty READ autoPwm_dirty WRITE setAutoPwm_dirty NOTIFY autoPwm_dirtyChanged)
    Q_PROPERTY(bool forcedPwm READ forcedPwm WRITE setForcedPwm NOTIFY forcedPwmChanged)
    Q_PROPERTY(QString forcedPwm_help READ forcedPwm_help WRITE setForcedPwm_help NOTIFY forcedPwm_helpChanged STORED false)
    Q_PROPERTY(QString forcedPwm_tip READ forcedPwm_tip WRITE setForcedPwm_tip NOTIFY forcedPwm_tipChanged STORED false)
    Q_PROPERTY(int forcedPwm_state READ forcedPwm_state WRITE setForcedPwm_state NOTIFY forcedPwm_stateChanged STORED false)
    Q_PROPERTY(QString forcedPwm_dirty READ forcedPwm_dirty WRITE setForcedPwm_dirty NOTIFY forcedPwm_dirtyChanged)
    Q_PROPERTY(bool passThrough READ passThrough WRITE setPassThrough NOTIFY passThroughChanged)
    Q_PROPERTY(QString passThrough_help READ passThrough_help WRITE setPassThrough_help NOTIFY passThrough_helpChanged STORED false)
    Q_PROPERTY(QString passThrough_tip READ passThrough_tip WRITE setPassThrough_tip NOTIFY passThrough_tipChanged STORED false)
    Q_PROPERTY(int passThrough_state READ passThrough_state WRITE setPassThrough_state NOTIFY passThrough_stateChanged STORED false)
    Q_PROPERTY(QString passThrough_dirty READ passThrough_dirty WRITE setPassThrough_dirty NOTIFY passThrough_dirtyChanged)

public:
    explicit DModel(QObject *parent = nullptr);
    ~DModel() override;

    QString myType() const override;

    int voutControl() const { return m_voutControl; }
    QString voutControl_help() const { return m_voutControl_help; }
    QString voutControl_tip() const { return m_voutControl_tip; }
    int voutControl_state() const { return m_voutControl_state; }
    QString voutControl_dirty() const { return m_voutControl_dirty; }

    bool autoPwm() const { return m_autoPwm; }
    QString autoPwm_help() const { return m_autoPwm_help; }
    QString autoPwm_tip() const { return m_autoPwm_tip; }
    int autoPwm_state() const { return m_autoPwm_state; }
    QString autoPwm_dirty() const { return m_autoPwm_dirty; }

    bool forcedPwm() const { return m_forcedPwm; }
    QString forcedPwm_help() const { return m_forcedPwm_help; }
    QString forcedPwm_tip() const { return m_forcedPwm_tip; }
    int forcedPwm_state() const { return m_forcedPwm_state; }
    QString forcedPwm_dirty() const { return m_forcedPwm_dirty; }

    bool passThrough() const { return m_passThrough; }
    QString passThrough_help() const { return m_passThrough_help; }
    QString passThrough_tip() const { return m_passThrough_tip; }
    int passThrough_state() const { return m_passThrough_state; }
    QString passThrough_dirty() const { return m_passThrough_dirty; }
    void setVoutControl(int value) { assignProperty(this, m_voutControl, value, &DModel::voutControlChanged); }
    void setVoutControl_help(const QString &value) { assignProperty(this, m_voutControl_help, value, &DModel::voutControl_helpChanged); }
    void setVoutControl_tip(const QString &value) { assignProperty(this, m_voutControl_tip, value, &DModel::voutControl_tipChanged); }
    void setVoutControl_state(int value) { assignProperty(this, m_voutControl_state, value, &DModel::voutControl_stateChanged); }
    void setVoutControl_dirty(const QString &value) { assignProperty(this, m_voutControl_dirty, value, &DModel::voutControl_dirtyChanged); }

    void setAutoPwm(bool value) { assignProperty(this, m_autoPwm, value, &DModel::autoPwmChanged); }
    void setAutoPwm_help(const QString &value) { assignProperty(this, m_autoPwm_help, value, &DModel::autoPwm_helpChanged); }
    void setAutoPwm_tip(const QString &value) { assignProperty(this, m_autoPwm_tip, value, &DModel::autoPwm_tipChanged); }
    void setAutoPwm_state(int value) { assignProperty(this, m_autoPwm_state, value, &DModel::autoPwm_stateChanged); }
    void setAutoPwm_dirty(const QString &value) { assignProperty(this, m_autoPwm_dirty, value, &DModel::autoPwm_dirtyChanged); }

    void setForcedPwm(bool value) { assignProperty(this, m_forcedPwm, value, &DModel::forcedPwmChanged); }
    void setForcedPwm_help(const QString &value) { assignProperty(this, m_forcedPwm_help, value, &DModel::forcedPwm_helpChanged); }
    void setForcedPwm_tip(const QString &value) { assignProperty(this, m_forcedPwm_tip, value, &DModel::forcedPwm_tipChanged); }
    void setForcedPwm_state(int value) { assignProperty(this, m_forcedPwm_state, value, &DModel::forcedPwm_stateChanged); }
    void setForcedPwm_dirty(const QString &value) { assignProperty(this, m_forcedPwm_dirty, value, &DModel::forcedPwm_dirtyChanged); }

    void setPassThrough(bool value) { assignProperty(this, m_passThrough, value, &DModel::passThroughChanged); }
    void setPassThrough_help(const QString &value) { assignProperty(this, m_passThrough_help, value, &DModel::passThrough_helpChanged); }
    void setPassThrough_tip(const QString &value) { assignProperty(this, m_passThrough_tip, value, &DModel::passThrough_tipChanged); }
    void setPassThrough_state(int value) { assignProperty(this, m_passThrough_state, value, &DModel::passThrough_stateChanged); }
    void setPassThrough_dirty(const QString &value) { assignProperty(this, m_passThrough_dirty, value, &DModel::passThrough_dirtyChanged); }
signals:
    void voutControlChanged(int voutControl);
    void voutControl_helpChanged(const QString &voutControl_help);
    void voutControl_tipChanged(const QString &voutControl_tip);
    void voutControl_stateChanged(int voutControl_state);
    void voutControl_dirtyChanged(const QString &voutControl_dirty);

    void autoPwmChanged(bool autoPwm);
    void autoPwm_helpChanged(const QString &autoPwm_help);
    void autoPwm_tipChanged(const QString &autoPwm_tip);
    void autoPwm_stateChanged(int autoPwm_state);
    void autoPwm_dirtyChanged(const QString &autoPwm_dirty);

    void forcedPwmChanged(bool forcedPwm);
    void forcedPwm_helpChanged(const QString &forcedPwm_help);
    void forcedPwm_tipChanged(const QString &forcedPwm_tip);
    void forcedPwm_stateChanged(int forcedPwm_state);
    void forcedPwm_dirtyChanged(const QString &forcedPwm_dirty);

    void passThroughChanged(bool passThrough);
    void passThrough_helpChanged(const QString &passThrough_help);
    void passThrough_tipChanged(const QString &passThrough_tip);
    void passThrough_stateChanged(int passThrough_state);
    void passThrough_dirtyChanged(const QString &passThrough_dirty);

private:
    int m_voutControl = 0;
    QString m_voutControl_help;
    QString m_voutControl_tip;
    int m_voutControl_state = StateOk;
    QString m_voutControl_dirty;

    bool m_autoPwm = true;
    QString m_autoPwm_help;
    QString m_autoPwm_tip;
    int m_autoPwm_state = StateOk;
    QString m_autoPwm_dirty;

    bool m_forcedPwm = false;
    QString m_forcedPwm_help;
    QString m_forcedPwm_tip;
    int m_forcedPwm_state = StateOk;
    QString m_forcedPwm_dirty;

    bool m_passThrough = false;
    QString m_passThrough_help;
    QString m_passThrough_tip;
    int m_passThrough_state = StateOk;
    QString m_passThrough_dirty;
};

} // namespace Bvr60600

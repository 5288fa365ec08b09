#pragma once

#include "panelcore_global.h"

#include <QList>
#include <QMap>
#include <QMetaProperty>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

class Rules;

// The change-only rule every model property follows: store and announce a
// value only when it differs, so that bindings and validation loops settle.
template <typename Object, typename T, typename Arg>
inline void assignProperty(Object *object, T &member, const T &value, void (Object::*changed)(Arg))
{
    if (member == value)
        return;
    member = value;
    emit (object->*changed)(member);
}

// The user interface's view of one device type: its settings are Qt
// properties, each setting X accompanied by the helpers X_help, X_tip,
// X_state and X_dirty that the smart controls bind to. A helper of a list
// setting holds one element per element of the setting.
//
// Base settings and "_dirty" notes are STORED and make up the saved state;
// help, tip and validation state are derived and never saved. Keys of a
// loaded state that the model does not declare are kept as dynamic
// properties, so that they survive a save and load.
class PANELCORE_EXPORT Model : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool unitTestProperty READ unitTestProperty WRITE setUnitTestProperty NOTIFY unitTestPropertyChanged)
    Q_PROPERTY(QString unitTestProperty_help READ unitTestProperty_help WRITE setUnitTestProperty_help NOTIFY unitTestProperty_helpChanged STORED false)
    Q_PROPERTY(QString unitTestProperty_tip READ unitTestProperty_tip WRITE setUnitTestProperty_tip NOTIFY unitTestProperty_tipChanged STORED false)
    Q_PROPERTY(int unitTestProperty_state READ unitTestProperty_state WRITE setUnitTestProperty_state NOTIFY unitTestProperty_stateChanged STORED false)
    Q_PROPERTY(QString unitTestProperty_dirty READ unitTestProperty_dirty WRITE setUnitTestProperty_dirty NOTIFY unitTestProperty_dirtyChanged)
    // Plain values for the telemetry plots of families that have them.
    Q_PROPERTY(int elapsedSeconds READ elapsedSeconds WRITE setElapsedSeconds NOTIFY elapsedSecondsChanged STORED false)
    Q_PROPERTY(int plotTimerMilliseconds READ plotTimerMilliseconds WRITE setPlotTimerMilliseconds NOTIFY plotTimerMillisecondsChanged STORED false)
    Q_PROPERTY(bool telemTimerPaused READ telemTimerPaused WRITE setTelemTimerPaused NOTIFY telemTimerPausedChanged STORED false)
    Q_PROPERTY(bool telemTimeVisible READ telemTimeVisible WRITE setTelemTimeVisible NOTIFY telemTimeVisibleChanged STORED false)

public:
    // Validation state bits of the "_state" helpers; they combine by or.
    static constexpr int StateOk = 0x00;
    static constexpr int StateWarning = 0x01;
    static constexpr int StateError = 0x02;
    static constexpr int StateChanged = 0x10;

    explicit Model(QObject *parent = nullptr);
    ~Model() override;

    virtual QString myType() const;

    // The setting a helper belongs to: the name without its helper suffixes.
    static QString basePropertyName(const QString &name);
    // Every property in index order, inherited ones (objectName too) first.
    QList<QMetaProperty> metaProperties() const;
    // The stored properties without objectName: what a saved state holds.
    QList<QMetaProperty> projectMetaProperties() const;
    void logMetaProperties() const;

    // Records the element count of every setting. A subclass calls this and
    // initializePropertyHelpers() again once its members are set, because the
    // base constructor only sees the properties of Model.
    void initializePropertyListCount();
    void initializePropertyHelpers();
    int sizePropertyListFor(const QString &name) const;
    QStringList emptyStringListFor(const QString &name) const;
    static QStringList emptyStringListOfSize(int n);
    QList<int> emptyIntListFor(const QString &name) const;
    static QVariantList range(int start, int count, int step);
    void clearPropertyStates();

    Rules *rules() const { return m_rules; }
    // Takes ownership and deletes the engine installed before.
    void setRules(Rules *rules);

    bool unitTestProperty() const { return m_unitTestProperty; }
    QString unitTestProperty_help() const { return m_unitTestProperty_help; }
    QString unitTestProperty_tip() const { return m_unitTestProperty_tip; }
    int unitTestProperty_state() const { return m_unitTestProperty_state; }
    QString unitTestProperty_dirty() const { return m_unitTestProperty_dirty; }
    int elapsedSeconds() const { return m_elapsedSeconds; }
    int plotTimerMilliseconds() const { return m_plotTimerMilliseconds; }
    bool telemTimerPaused() const { return m_telemTimerPaused; }
    bool telemTimeVisible() const { return m_telemTimeVisible; }

    void setUnitTestProperty(bool value) { assignProperty(this, m_unitTestProperty, value, &Model::unitTestPropertyChanged); }
    void setUnitTestProperty_help(const QString &value) { assignProperty(this, m_unitTestProperty_help, value, &Model::unitTestProperty_helpChanged); }
    void setUnitTestProperty_tip(const QString &value) { assignProperty(this, m_unitTestProperty_tip, value, &Model::unitTestProperty_tipChanged); }
    void setUnitTestProperty_state(int value) { assignProperty(this, m_unitTestProperty_state, value, &Model::unitTestProperty_stateChanged); }
    void setUnitTestProperty_dirty(const QString &value) { assignProperty(this, m_unitTestProperty_dirty, value, &Model::unitTestProperty_dirtyChanged); }
    void setElapsedSeconds(int value) { assignProperty(this, m_elapsedSeconds, value, &Model::elapsedSecondsChanged); }
    void setPlotTimerMilliseconds(int value) { assignProperty(this, m_plotTimerMilliseconds, value, &Model::plotTimerMillisecondsChanged); }
    void setTelemTimerPaused(bool value) { assignProperty(this, m_telemTimerPaused, value, &Model::telemTimerPausedChanged); }
    void setTelemTimeVisible(bool value) { assignProperty(this, m_telemTimeVisible, value, &Model::telemTimeVisibleChanged); }

public slots:
    // Both validate first (getState) or last (setState), so that a model that
    // lives shorter than one validation period is still checked.
    virtual QVariantMap getState();
    virtual void setState(const QVariantMap &state);

signals:
    void unitTestPropertyChanged(bool unitTestProperty);
    void unitTestProperty_helpChanged(const QString &unitTestProperty_help);
    void unitTestProperty_tipChanged(const QString &unitTestProperty_tip);
    void unitTestProperty_stateChanged(int unitTestProperty_state);
    void unitTestProperty_dirtyChanged(const QString &unitTestProperty_dirty);
    void elapsedSecondsChanged(int elapsedSeconds);
    void plotTimerMillisecondsChanged(int plotTimerMilliseconds);
    void telemTimerPausedChanged(bool telemTimerPaused);
    void telemTimeVisibleChanged(bool telemTimeVisible);

private:
    // The value a helper starts from (and a "_state" helper returns to).
    QVariant initialHelperValue(const QMetaProperty &property) const;
    void validate();

    bool m_unitTestProperty = false;
    QString m_unitTestProperty_help;
    QString m_unitTestProperty_tip;
    int m_unitTestProperty_state = StateOk;
    QString m_unitTestProperty_dirty;
    int m_elapsedSeconds = 0;
    int m_plotTimerMilliseconds = 1000;
    bool m_telemTimerPaused = false;
    bool m_telemTimeVisible = false;

    QMap<QString, int> m_propertyListCount;
    Rules *m_rules = nullptr;
};

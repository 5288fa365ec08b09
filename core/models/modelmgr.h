#pragma once

#include "models/model.h"

#include <QMap>
#include <QPointer>
#include <QString>
#include <QStringList>

class QTimer;

// The registry of device-type models: one long-lived model per type key,
// and the model of the type currently selected in the user interface. The
// models are not owned; a filed model that is destroyed reads as null.
//
// It also carries one property of every smart-control kind, with helpers,
// for the test pane; a demo rule cycles their values and validation states
// while the test pane is on.
class PANELCORE_EXPORT ModelMgr : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString testLabel READ testLabel WRITE setTestLabel NOTIFY testLabelChanged)
    Q_PROPERTY(QString testLabel_help READ testLabel_help WRITE setTestLabel_help NOTIFY testLabel_helpChanged STORED false)
    Q_PROPERTY(QString testLabel_tip READ testLabel_tip WRITE setTestLabel_tip NOTIFY testLabel_tipChanged STORED false)
    Q_PROPERTY(int testLabel_state READ testLabel_state WRITE setTestLabel_state NOTIFY testLabel_stateChanged STORED false)
    Q_PROPERTY(QString testLabel_dirty READ testLabel_dirty WRITE setTestLabel_dirty NOTIFY testLabel_dirtyChanged)
    Q_PROPERTY(QString testTextField READ testTextField WRITE setTestTextField NOTIFY testTextFieldChanged)
    Q_PROPERTY(QString testTextField_help READ testTextField_help WRITE setTestTextField_help NOTIFY testTextField_helpChanged STORED false)
    Q_PROPERTY(QString testTextField_tip READ testTextField_tip WRITE setTestTextField_tip NOTIFY testTextField_tipChanged STORED false)
    Q_PROPERTY(int testTextField_state READ testTextField_state WRITE setTestTextField_state NOTIFY testTextField_stateChanged STORED false)
    Q_PROPERTY(QString testTextField_dirty READ testTextField_dirty WRITE setTestTextField_dirty NOTIFY testTextField_dirtyChanged)
    Q_PROPERTY(bool testCheckBox READ testCheckBox WRITE setTestCheckBox NOTIFY testCheckBoxChanged)
    Q_PROPERTY(QString testCheckBox_help READ testCheckBox_help WRITE setTestCheckBox_help NOTIFY testCheckBox_helpChanged STORED false)
    Q_PROPERTY(QString testCheckBox_tip READ testCheckBox_tip WRITE setTestCheckBox_tip NOTIFY testCheckBox_tipChanged STORED false)
    Q_PROPERTY(int testCheckBox_state READ testCheckBox_state WRITE setTestCheckBox_state NOTIFY testCheckBox_stateChanged STORED false)
    Q_PROPERTY(QString testCheckBox_dirty READ testCheckBox_dirty WRITE setTestCheckBox_dirty NOTIFY testCheckBox_dirtyChanged)
    Q_PROPERTY(bool testRadioButton READ testRadioButton WRITE setTestRadioButton NOTIFY testRadioButtonChanged)
    Q_PROPERTY(QString testRadioButton_help READ testRadioButton_help WRITE setTestRadioButton_help NOTIFY testRadioButton_helpChanged STORED false)
    Q_PROPERTY(QString testRadioButton_tip READ testRadioButton_tip WRITE setTestRadioButton_tip NOTIFY testRadioButton_tipChanged STORED false)
    Q_PROPERTY(int testRadioButton_state READ testRadioButton_state WRITE setTestRadioButton_state NOTIFY testRadioButton_stateChanged STORED false)
    Q_PROPERTY(QString testRadioButton_dirty READ testRadioButton_dirty WRITE setTestRadioButton_dirty NOTIFY testRadioButton_dirtyChanged)
    Q_PROPERTY(bool testSwitch READ testSwitch WRITE setTestSwitch NOTIFY testSwitchChanged)
    Q_PROPERTY(QString testSwitch_help READ testSwitch_help WRITE setTestSwitch_help NOTIFY testSwitch_helpChanged STORED false)
    Q_PROPERTY(QString testSwitch_tip READ testSwitch_tip WRITE setTestSwitch_tip NOTIFY testSwitch_tipChanged STORED false)
    Q_PROPERTY(int testSwitch_state READ testSwitch_state WRITE setTestSwitch_state NOTIFY testSwitch_stateChanged STORED false)
    Q_PROPERTY(QString testSwitch_dirty READ testSwitch_dirty WRITE setTestSwitch_dirty NOTIFY testSwitch_dirtyChanged)
    Q_PROPERTY(QString testComboBox READ testComboBox WRITE setTestComboBox NOTIFY testComboBoxChanged)
    Q_PROPERTY(QString testComboBox_help READ testComboBox_help WRITE setTestComboBox_help NOTIFY testComboBox_helpChanged STORED false)
    Q_PROPERTY(QString testComboBox_tip READ testComboBox_tip WRITE setTestComboBox_tip NOTIFY testComboBox_tipChanged STORED false)
    Q_PROPERTY(int testComboBox_state READ testComboBox_state WRITE setTestComboBox_state NOTIFY testComboBox_stateChanged STORED false)
    Q_PROPERTY(QString testComboBox_dirty READ testComboBox_dirty WRITE setTestComboBox_dirty NOTIFY testComboBox_dirtyChanged)
    Q_PROPERTY(int testSpinBox READ testSpinBox WRITE setTestSpinBox NOTIFY testSpinBoxChanged)
    Q_PROPERTY(QString testSpinBox_help READ testSpinBox_help WRITE setTestSpinBox_help NOTIFY testSpinBox_helpChanged STORED false)
    Q_PROPERTY(QString testSpinBox_tip READ testSpinBox_tip WRITE setTestSpinBox_tip NOTIFY testSpinBox_tipChanged STORED false)
    Q_PROPERTY(int testSpinBox_state READ testSpinBox_state WRITE setTestSpinBox_state NOTIFY testSpinBox_stateChanged STORED false)
    Q_PROPERTY(QString testSpinBox_dirty READ testSpinBox_dirty WRITE setTestSpinBox_dirty NOTIFY testSpinBox_dirtyChanged)
    Q_PROPERTY(int testSlider READ testSlider WRITE setTestSlider NOTIFY testSliderChanged)
    Q_PROPERTY(QString testSlider_help READ testSlider_help WRITE setTestSlider_help NOTIFY testSlider_helpChanged STORED false)
    Q_PROPERTY(QString testSlider_tip READ testSlider_tip WRITE setTestSlider_tip NOTIFY testSlider_tipChanged STORED false)
    Q_PROPERTY(int testSlider_state READ testSlider_state WRITE setTestSlider_state NOTIFY testSlider_stateChanged STORED false)
    Q_PROPERTY(QString testSlider_dirty READ testSlider_dirty WRITE setTestSlider_dirty NOTIFY testSlider_dirtyChanged)
    Q_PROPERTY(double testDial READ testDial WRITE setTestDial NOTIFY testDialChanged)
    Q_PROPERTY(QString testDial_help READ testDial_help WRITE setTestDial_help NOTIFY testDial_helpChanged STORED false)
    Q_PROPERTY(QString testDial_tip READ testDial_tip WRITE setTestDial_tip NOTIFY testDial_tipChanged STORED false)
    Q_PROPERTY(int testDial_state READ testDial_state WRITE setTestDial_state NOTIFY testDial_stateChanged STORED false)
    Q_PROPERTY(QString testDial_dirty READ testDial_dirty WRITE setTestDial_dirty NOTIFY testDial_dirtyChanged)

public:
    static ModelMgr *getInstance();
    ~ModelMgr() override;

    // Replaces whatever was filed under the type; the current model stays.
    void insertModel(const QString &type, Model *model);
    QPointer<Model> modelForType(const QString &type) const;
    QPointer<Model> currentModel() const { return m_currentModel; }
    // In ascending order; the user interface takes the first as the type of
    // its single device.
    Q_INVOKABLE QStringList modelTypes() const;

    QString testLabel() const { return m_testLabel; }
    QString testLabel_help() const { return m_testLabel_help; }
    QString testLabel_tip() const { return m_testLabel_tip; }
    int testLabel_state() const { return m_testLabel_state; }
    QString testLabel_dirty() const { return m_testLabel_dirty; }

    QString testTextField() const { return m_testTextField; }
    QString testTextField_help() const { return m_testTextField_help; }
    QString testTextField_tip() const { return m_testTextField_tip; }
    int testTextField_state() const { return m_testTextField_state; }
    QString testTextField_dirty() const { return m_testTextField_dirty; }

    bool testCheckBox() const { return m_testCheckBox; }
    QString testCheckBox_help() const { return m_testCheckBox_help; }
    QString testCheckBox_tip() const { return m_testCheckBox_tip; }
    int testCheckBox_state() const { return m_testCheckBox_state; }
    QString testCheckBox_dirty() const { return m_testCheckBox_dirty; }

    bool testRadioButton() const { return m_testRadioButton; }
    QString testRadioButton_help() const { return m_testRadioButton_help; }
    QString testRadioButton_tip() const { return m_testRadioButton_tip; }
    int testRadioButton_state() const { return m_testRadioButton_state; }
    QString testRadioButton_dirty() const { return m_testRadioButton_dirty; }

    bool testSwitch() const { return m_testSwitch; }
    QString testSwitch_help() const { return m_testSwitch_help; }
    QString testSwitch_tip() const { return m_testSwitch_tip; }
    int testSwitch_state() const { return m_testSwitch_state; }
    QString testSwitch_dirty() const { return m_testSwitch_dirty; }

    QString testComboBox() const { return m_testComboBox; }
    QString testComboBox_help() const { return m_testComboBox_help; }
    QString testComboBox_tip() const { return m_testComboBox_tip; }
    int testComboBox_state() const { return m_testComboBox_state; }
    QString testComboBox_dirty() const { return m_testComboBox_dirty; }

    int testSpinBox() const { return m_testSpinBox; }
    QString testSpinBox_help() const { return m_testSpinBox_help; }
    QString testSpinBox_tip() const { return m_testSpinBox_tip; }
    int testSpinBox_state() const { return m_testSpinBox_state; }
    QString testSpinBox_dirty() const { return m_testSpinBox_dirty; }

    int testSlider() const { return m_testSlider; }
    QString testSlider_help() const { return m_testSlider_help; }
    QString testSlider_tip() const { return m_testSlider_tip; }
    int testSlider_state() const { return m_testSlider_state; }
    QString testSlider_dirty() const { return m_testSlider_dirty; }

    double testDial() const { return m_testDial; }
    QString testDial_help() const { return m_testDial_help; }
    QString testDial_tip() const { return m_testDial_tip; }
    int testDial_state() const { return m_testDial_state; }
    QString testDial_dirty() const { return m_testDial_dirty; }

    void setTestLabel(const QString &value) { assignProperty(this, m_testLabel, value, &ModelMgr::testLabelChanged); }
    void setTestLabel_help(const QString &value) { assignProperty(this, m_testLabel_help, value, &ModelMgr::testLabel_helpChanged); }
    void setTestLabel_tip(const QString &value) { assignProperty(this, m_testLabel_tip, value, &ModelMgr::testLabel_tipChanged); }
    void setTestLabel_state(int value) { assignProperty(this, m_testLabel_state, value, &ModelMgr::testLabel_stateChanged); }
    void setTestLabel_dirty(const QString &value) { assignProperty(this, m_testLabel_dirty, value, &ModelMgr::testLabel_dirtyChanged); }

    void setTestTextField(const QString &value) { assignProperty(this, m_testTextField, value, &ModelMgr::testTextFieldChanged); }
    void setTestTextField_help(const QString &value) { assignProperty(this, m_testTextField_help, value, &ModelMgr::testTextField_helpChanged); }
    void setTestTextField_tip(const QString &value) { assignProperty(this, m_testTextField_tip, value, &ModelMgr::testTextField_tipChanged); }
    void setTestTextField_state(int value) { assignProperty(this, m_testTextField_state, value, &ModelMgr::testTextField_stateChanged); }
    void setTestTextField_dirty(const QString &value) { assignProperty(this, m_testTextField_dirty, value, &ModelMgr::testTextField_dirtyChanged); }

    void setTestCheckBox(bool value) { assignProperty(this, m_testCheckBox, value, &ModelMgr::testCheckBoxChanged); }
    void setTestCheckBox_help(const QString &value) { assignProperty(this, m_testCheckBox_help, value, &ModelMgr::testCheckBox_helpChanged); }
    void setTestCheckBox_tip(const QString &value) { assignProperty(this, m_testCheckBox_tip, value, &ModelMgr::testCheckBox_tipChanged); }
    void setTestCheckBox_state(int value) { assignProperty(this, m_testCheckBox_state, value, &ModelMgr::testCheckBox_stateChanged); }
    void setTestCheckBox_dirty(const QString &value) { assignProperty(this, m_testCheckBox_dirty, value, &ModelMgr::testCheckBox_dirtyChanged); }

    void setTestRadioButton(bool value) { assignProperty(this, m_testRadioButton, value, &ModelMgr::testRadioButtonChanged); }
    void setTestRadioButton_help(const QString &value) { assignProperty(this, m_testRadioButton_help, value, &ModelMgr::testRadioButton_helpChanged); }
    void setTestRadioButton_tip(const QString &value) { assignProperty(this, m_testRadioButton_tip, value, &ModelMgr::testRadioButton_tipChanged); }
    void setTestRadioButton_state(int value) { assignProperty(this, m_testRadioButton_state, value, &ModelMgr::testRadioButton_stateChanged); }
    void setTestRadioButton_dirty(const QString &value) { assignProperty(this, m_testRadioButton_dirty, value, &ModelMgr::testRadioButton_dirtyChanged); }

    void setTestSwitch(bool value) { assignProperty(this, m_testSwitch, value, &ModelMgr::testSwitchChanged); }
    void setTestSwitch_help(const QString &value) { assignProperty(this, m_testSwitch_help, value, &ModelMgr::testSwitch_helpChanged); }
    void setTestSwitch_tip(const QString &value) { assignProperty(this, m_testSwitch_tip, value, &ModelMgr::testSwitch_tipChanged); }
    void setTestSwitch_state(int value) { assignProperty(this, m_testSwitch_state, value, &ModelMgr::testSwitch_stateChanged); }
    void setTestSwitch_dirty(const QString &value) { assignProperty(this, m_testSwitch_dirty, value, &ModelMgr::testSwitch_dirtyChanged); }

    void setTestComboBox(const QString &value) { assignProperty(this, m_testComboBox, value, &ModelMgr::testComboBoxChanged); }
    void setTestComboBox_help(const QString &value) { assignProperty(this, m_testComboBox_help, value, &ModelMgr::testComboBox_helpChanged); }
    void setTestComboBox_tip(const QString &value) { assignProperty(this, m_testComboBox_tip, value, &ModelMgr::testComboBox_tipChanged); }
    void setTestComboBox_state(int value) { assignProperty(this, m_testComboBox_state, value, &ModelMgr::testComboBox_stateChanged); }
    void setTestComboBox_dirty(const QString &value) { assignProperty(this, m_testComboBox_dirty, value, &ModelMgr::testComboBox_dirtyChanged); }

    void setTestSpinBox(int value) { assignProperty(this, m_testSpinBox, value, &ModelMgr::testSpinBoxChanged); }
    void setTestSpinBox_help(const QString &value) { assignProperty(this, m_testSpinBox_help, value, &ModelMgr::testSpinBox_helpChanged); }
    void setTestSpinBox_tip(const QString &value) { assignProperty(this, m_testSpinBox_tip, value, &ModelMgr::testSpinBox_tipChanged); }
    void setTestSpinBox_state(int value) { assignProperty(this, m_testSpinBox_state, value, &ModelMgr::testSpinBox_stateChanged); }
    void setTestSpinBox_dirty(const QString &value) { assignProperty(this, m_testSpinBox_dirty, value, &ModelMgr::testSpinBox_dirtyChanged); }

    void setTestSlider(int value) { assignProperty(this, m_testSlider, value, &ModelMgr::testSliderChanged); }
    void setTestSlider_help(const QString &value) { assignProperty(this, m_testSlider_help, value, &ModelMgr::testSlider_helpChanged); }
    void setTestSlider_tip(const QString &value) { assignProperty(this, m_testSlider_tip, value, &ModelMgr::testSlider_tipChanged); }
    void setTestSlider_state(int value) { assignProperty(this, m_testSlider_state, value, &ModelMgr::testSlider_stateChanged); }
    void setTestSlider_dirty(const QString &value) { assignProperty(this, m_testSlider_dirty, value, &ModelMgr::testSlider_dirtyChanged); }

    void setTestDial(double value) { assignProperty(this, m_testDial, value, &ModelMgr::testDialChanged); }
    void setTestDial_help(const QString &value) { assignProperty(this, m_testDial_help, value, &ModelMgr::testDial_helpChanged); }
    void setTestDial_tip(const QString &value) { assignProperty(this, m_testDial_tip, value, &ModelMgr::testDial_tipChanged); }
    void setTestDial_state(int value) { assignProperty(this, m_testDial_state, value, &ModelMgr::testDial_stateChanged); }
    void setTestDial_dirty(const QString &value) { assignProperty(this, m_testDial_dirty, value, &ModelMgr::testDial_dirtyChanged); }

public slots:
    // Follows the device manager's current device type. A type without a
    // model leaves the current model as it is.
    void onCurrentTypeChanged(const QString &type);

signals:
    void testLabelChanged(const QString &testLabel);
    void testLabel_helpChanged(const QString &testLabel_help);
    void testLabel_tipChanged(const QString &testLabel_tip);
    void testLabel_stateChanged(int testLabel_state);
    void testLabel_dirtyChanged(const QString &testLabel_dirty);

    void testTextFieldChanged(const QString &testTextField);
    void testTextField_helpChanged(const QString &testTextField_help);
    void testTextField_tipChanged(const QString &testTextField_tip);
    void testTextField_stateChanged(int testTextField_state);
    void testTextField_dirtyChanged(const QString &testTextField_dirty);

    void testCheckBoxChanged(bool testCheckBox);
    void testCheckBox_helpChanged(const QString &testCheckBox_help);
    void testCheckBox_tipChanged(const QString &testCheckBox_tip);
    void testCheckBox_stateChanged(int testCheckBox_state);
    void testCheckBox_dirtyChanged(const QString &testCheckBox_dirty);

    void testRadioButtonChanged(bool testRadioButton);
    void testRadioButton_helpChanged(const QString &testRadioButton_help);
    void testRadioButton_tipChanged(const QString &testRadioButton_tip);
    void testRadioButton_stateChanged(int testRadioButton_state);
    void testRadioButton_dirtyChanged(const QString &testRadioButton_dirty);

    void testSwitchChanged(bool testSwitch);
    void testSwitch_helpChanged(const QString &testSwitch_help);
    void testSwitch_tipChanged(const QString &testSwitch_tip);
    void testSwitch_stateChanged(int testSwitch_state);
    void testSwitch_dirtyChanged(const QString &testSwitch_dirty);

    void testComboBoxChanged(const QString &testComboBox);
    void testComboBox_helpChanged(const QString &testComboBox_help);
    void testComboBox_tipChanged(const QString &testComboBox_tip);
    void testComboBox_stateChanged(int testComboBox_state);
    void testComboBox_dirtyChanged(const QString &testComboBox_dirty);

    void testSpinBoxChanged(int testSpinBox);
    void testSpinBox_helpChanged(const QString &testSpinBox_help);
    void testSpinBox_tipChanged(const QString &testSpinBox_tip);
    void testSpinBox_stateChanged(int testSpinBox_state);
    void testSpinBox_dirtyChanged(const QString &testSpinBox_dirty);

    void testSliderChanged(int testSlider);
    void testSlider_helpChanged(const QString &testSlider_help);
    void testSlider_tipChanged(const QString &testSlider_tip);
    void testSlider_stateChanged(int testSlider_state);
    void testSlider_dirtyChanged(const QString &testSlider_dirty);

    void testDialChanged(double testDial);
    void testDial_helpChanged(const QString &testDial_help);
    void testDial_tipChanged(const QString &testDial_tip);
    void testDial_stateChanged(int testDial_state);
    void testDial_dirtyChanged(const QString &testDial_dirty);

private slots:
    void demoValidation();

private:
    ModelMgr();

    static ModelMgr *m_instance;

    QMap<QString, QPointer<Model>> m_models;
    QPointer<Model> m_currentModel;
    QTimer *m_demoTimer;
    int m_demoTicks = 0;

    QString m_testLabel;
    QString m_testLabel_help;
    QString m_testLabel_tip;
    int m_testLabel_state = Model::StateOk;
    QString m_testLabel_dirty;

    QString m_testTextField;
    QString m_testTextField_help;
    QString m_testTextField_tip;
    int m_testTextField_state = Model::StateOk;
    QString m_testTextField_dirty;

    bool m_testCheckBox = false;
    QString m_testCheckBox_help;
    QString m_testCheckBox_tip;
    int m_testCheckBox_state = Model::StateOk;
    QString m_testCheckBox_dirty;

    bool m_testRadioButton = false;
    QString m_testRadioButton_help;
    QString m_testRadioButton_tip;
    int m_testRadioButton_state = Model::StateOk;
    QString m_testRadioButton_dirty;

    bool m_testSwitch = false;
    QString m_testSwitch_help;
    QString m_testSwitch_tip;
    int m_testSwitch_state = Model::StateOk;
    QString m_testSwitch_dirty;

    QString m_testComboBox;
    QString m_testComboBox_help;
    QString m_testComboBox_tip;
    int m_testComboBox_state = Model::StateOk;
    QString m_testComboBox_dirty;

    int m_testSpinBox = 0;
    QString m_testSpinBox_help;
    QString m_testSpinBox_tip;
    int m_testSpinBox_state = Model::StateOk;
    QString m_testSpinBox_dirty;

    int m_testSlider = 0;
    QString m_testSlider_help;
    QString m_testSlider_tip;
    int m_testSlider_state = Model::StateOk;
    QString m_testSlider_dirty;

    double m_testDial = 0.0;
    QString m_testDial_help;
    QString m_testDial_tip;
    int m_testDial_state = Model::StateOk;
    QString m_testDial_dirty;
};

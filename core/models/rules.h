#pragma once

#include "panelcore_global.h"

#include <QObject>

class Model;
class QTimer;

// Checks the settings of one model and reports through its helper
// properties. A family supplies doValidation(); the base runs it every
// 250 ms, and the model runs it when a state is loaded or saved. Because
// model setters are change-only, validating unchanged settings emits nothing.
class PANELCORE_EXPORT Rules : public QObject
{
    Q_OBJECT

public:
    // The model is not owned; the model owns its rules engine instead.
    explicit Rules(Model *model);
    // Pure so that only a family's engine is ever made.
    ~Rules() override = 0;

    // 0 when the model's settings are valid. Immediate-mode writes to the
    // chip only go ahead on 0.
    virtual int doValidation() = 0;

    Model *model() const { return m_model; }

private:
    Model *m_model;
    QTimer *m_timer;
};

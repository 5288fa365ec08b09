#include "rules.h"

#include <QTimer>

Rules::Rules(Model *model)
    : QObject(nullptr)
    , m_model(model)
    , m_timer(new QTimer(this))
{
    m_timer->setInterval(250);
    connect(m_timer, &QTimer::timeout, this, &Rules::doValidation);
    m_timer->start();
}

Rules::~Rules()
{
    // Gone before the QObject base runs, so no tick reaches a half-destroyed
    // engine.
    delete m_timer;
}

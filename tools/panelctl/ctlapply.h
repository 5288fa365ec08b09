#pragma once

#include "ctlsession.h"

struct CtlContext;

// panelctl apply: writes the saved configuration of one device of a project
// file to the chip at that device's address, then reads it back.
CtlSession::Error runApply(CtlContext &c);

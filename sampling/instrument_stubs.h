// Stand-ins for the CTD, optode and radiometer drivers, so that the sample
// cycle builds before those drivers exist.  Each state machine finishes at
// once and leaves a fixed text in its driver's buffer.  This file pair goes
// away when the real drivers are added.
#pragma once

#include "instruments/ocr.h"

struct optodeDriver {
    int state;
    unsigned int old_tick10ms;
    unsigned int new_tick10ms;
    char buf[128];
};

struct ctdDriver {
    int state;
    unsigned int old_tick10ms;
    unsigned int new_tick10ms;
    char buf[128];
};

extern optodeDriver optode;
extern ctdDriver ctd;

// Start with 1; call again with the returned state until it returns 0.
int optode_stateMachine(int state);
int ctd_stateMachine(int state);
int ocr_stateMachine(int state);

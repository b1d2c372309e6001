// CTD state machine: its start and the dispatch to the two instrument
// types, and the QA test.  Calls go one way: this file calls the types
// (ctd_sbe37_microcat, ctd_aand5860), and they call the shared port and
// operator code (ctd_base).
#include "board/board_util.h"
#include "instruments/ctd_base.h"
#include "platform/platform.h"
#include "records/system_data.h"
#include "serial/uartstdio.h"
#include "serial/user_io.h"

#include <cstdio>

namespace {

// Refuses a configured type without a driver.  The supply goes off again
// and buf says why, so the record does not carry an earlier reply.
int ctd_refuse_type(unsigned int type)
{
    uprintf("Error: sys_data.data_cfg[CFG_CTD] = %u, no driver for this CTD type, Config -> Data Fields\r\n",
            type);
    std::snprintf(ctd.buf, sizeof ctd.buf, "CTD Err: no driver for CTD type %u, Config -> Data Fields", type);
    wait_consoleTx();
    ctd_close();
    ctd.state = 0;
    return 0;
}

int ctd_start()
{
    ctd_init();
    ctd_open();
    ms_delay(1);
    ctd_flushRx();
    ctd_flushTx(true);
    ctd.old_tick10ms = static_cast<uint32_t>(Timer_10ms(0));
    ctd.type = 0;
    // No reading of this transaction yet: a failure must not leave the
    // values, or the salinity the external pH uses, of an earlier sample.
    ctd.tempC = 0.0f;
    ctd.salt = 0.0f;
    ctd.condo = 0.0f;
    sys_samp.sensor_sal = sys_data.default_sal;
    unsigned int configured = sys_data.data_cfg[CFG_CTD];
    switch (configured) {
    case CTD_TYPE_SBE37:
        ctd.type = 1;
        return ST_CTD_SBE37_CMD;
    case CTD_TYPE_AAND5860:
        ctd.type = 2;
        return ST_CTD_PWR_RESP;
    default:
        return ctd_refuse_type(configured);
    }
}

} // namespace

int ctd_stateMachine(int ctdState)
{
    ctd.state = ctdState;
    switch (ctdState) {
    case ST_CTD_IDLE:
        ctd.state = 0;
        return 0;
    case ST_CTD_INIT:
        return ctd_start();
    case ST_CTD_SBE37_CMD:
    case ST_CTD_SBE37_RX:
        return ctd_microCat_step(ctdState);
    case ST_CTD_PWR_RESP:
    case ST_CTD_AAND_RX:
        return ctd_Aand5860_step(ctdState);
    default:
        ctd.type = 0;
        return ctd_fail("CTD driver Err: statemachine in an unknown state");
    }
}

uint32_t ctd_qa_test()
{
    int st = ctd_stateMachine(ST_CTD_INIT);
    while (st != 0) {
        st = ctd_stateMachine(st);
    }
    return ctd.state != -1 ? 1 : 0;
}

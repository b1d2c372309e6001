// Stand-in instrument drivers: no port is opened, no instrument is powered;
// every reading finishes at once with the text "no driver".
#include "sampling/instrument_stubs.h"

#include <cstdio>

optodeDriver optode;
ctdDriver ctd;

namespace {

constexpr const char* NO_DRIVER = "no driver";

} // namespace

int optode_stateMachine(int /*state*/)
{
    std::snprintf(optode.buf, sizeof optode.buf, "%s", NO_DRIVER);
    return 0;
}

int ctd_stateMachine(int /*state*/)
{
    std::snprintf(ctd.buf, sizeof ctd.buf, "%s", NO_DRIVER);
    return 0;
}

int ocr_stateMachine(int /*state*/)
{
    std::snprintf(ocr.buf, sizeof ocr.buf, "%s", NO_DRIVER);
    return 0;
}

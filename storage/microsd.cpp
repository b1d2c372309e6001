// microSD data logging and the error file.
//
// The card driver and file system are not linked yet: no card is ever
// mounted (microSD_flg stays 0), so there is nowhere to append to.
#include "storage/microsd.h"

void Init_SDCard() {}

void error_store(const char* /*text*/) {}

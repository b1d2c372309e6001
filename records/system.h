// Persistence of the configuration record (EEPROM) and the progress record
// (FRAM), and the clock-to-calendar function of the sample time stamp.
#pragma once

#include "records/system_data.h"

#include <cstdint>
#include <ctime>

// EEPROM placement of the configuration record.  The record's image starts at
// byte address 1024; the chip's EEPROM ends at 2047, so the first 1024 bytes
// of the image fill addresses 1024..2047 and its last 248 bytes (the end of
// deploy_note and the QA record) are held at addresses 0..247, which nothing
// else uses.
constexpr uint32_t SYS_DATA_EEPROM_ADDR = 1024;
constexpr uint32_t SYS_DATA_HEAD_BYTES = 1024;
constexpr uint32_t SYS_DATA_TAIL_EEPROM_ADDR = 0;
constexpr uint32_t SYS_DATA_TAIL_BYTES = sizeof(systemData) - SYS_DATA_HEAD_BYTES;
static_assert(SYS_DATA_TAIL_BYTES == 248);

// Reads both records; a progress record without its validity marker is
// initialised (and stored).
void retrieveSysDataVariables();
// Reads the configuration record alone, changing nothing.
void retrieveSysDataEEPROMVariables();
// Stores both records; returns the EEPROM status (0 = success).
uint32_t storeSysDataVariables();
void retrieveSysSampFRAMVariables();
void initSysSampFRAMVariables();
void storeSysSampFRAMVariables();

// The data file's remembered end (FRAM).  retrieve returns false when the
// record is blank or damaged (magic or check value wrong); store fills in
// the magic and the check value.
bool retrieveAppendPosition(appendPosition* rec);
void storeAppendPosition(appendPosition* rec);

// Local calendar time of the RTC (static storage).
struct tm* get_RTC_time();

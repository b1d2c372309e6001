// I2C0 bus driver and the FRAM that keeps the deployment-progress record.
#pragma once

#include "records/system_data.h"

#include <cstdint>

constexpr int FRAM_I2C_ADDRESS = 0x50;
constexpr int FRAM_PROBE_OFFSET = 0;
constexpr int FRAM_SYS_SAMP_OFFSET = 64;
constexpr int FRAM_APPEND_POS_OFFSET = 128; // after the progress record (64..123)
constexpr uint32_t FRAM_PROBE_OK = 0xAA55AA55;

void i2c0_init(int bFast);
void i2c0_write(int uiSlave_add, unsigned char* ucData, int uiCount, int ucStart_add);
void i2c0_read(int uiSlave_add, unsigned char* ucRec_Data, int uiCount, int ucStart_add, int bDummyRead);

void fram_init();
uint32_t fram_probe();
void fram_sys_samp_store();
void fram_sys_samp_retrieve();
void fram_append_pos_store(const appendPosition& rec);
void fram_append_pos_retrieve(appendPosition* rec);

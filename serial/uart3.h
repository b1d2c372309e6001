// Buffered serial port on UART3 (sensor-port driver).
#pragma once

#include "serial/uart_ring.h"

UART_PORT_OPERATIONS(3)
// Blocking read of exactly ui32Len bytes (no terminator, no NUL added).
int uart3_rx_buf(char* pcBuf, uint32_t ui32Len);

// Buffered serial port on UART5 (sensor-port driver).
#pragma once

#include "serial/uart_ring.h"

UART_PORT_OPERATIONS(5)

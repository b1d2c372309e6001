// Console driver on UART0: buffered, interrupt-driven, with echo and line
// editing.
#pragma once

#include <cstdint>

void UARTStdioConfig(uint32_t ui32PortNum, uint32_t ui32Baud, uint32_t ui32SrcClock);
int UARTwrite(const char* pcBuf, uint32_t ui32Len);
int UARTgets(char* pcBuf, uint32_t ui32Len);
unsigned char UARTgetc();
int UARTRxBytesAvail();
int UARTTxBytesFree();
int UARTPeek(unsigned char ucChar);
void UARTFlushRx();
void UARTFlushTx(bool bDiscard);
void UARTEchoSet(bool bEnable);
unsigned char UART_isTxEmpty();
void wait_consoleTx();
void UARTStdioIntHandler();
// Pushes queued console output out by polling the UART for up to `ms`
// milliseconds; for the fault handler, where the console interrupt cannot run.
void UARTTxDrainPolled(uint32_t ms);

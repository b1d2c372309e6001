#include "records/print_buffer.h"

char prnBuf[1024];

// microSD data logging: card bus set-up and volume registration, result
// names, appending to the data file, formatted writes and the error file
// "Error.txt".
#pragma once

#include "storage/fatfs/ff.h"

// Sets up SSI0 for the card and registers the volume (mounted on first use).
void Init_SDCard();
// Name of a file system result code ("FR_OK", ..., "UNKNOWN ERROR CODE").
const char* StringFromFresult(FRESULT fresult);
// Appends the NUL-terminated text to the data file sys_data.fileName.
void appendBufferToSDCard(const char* buffer);
// printf into the open file `fil` (output cut to 255 characters); returns
// the number of bytes written.
int sd_fprintf(FIL* fil, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Appends "\r\n", the local date and time and `error_buff` to "Error.txt".
void error_store(const char* error_buff);
// Opens `path` for writing (created when absent) positioned at its end.
// On failure no file is left open.
FRESULT open_append(FIL* fp, const char* path);

// microSD data logging: card bus set-up and volume registration, result
// names, appending to the data file, formatted writes and the error file
// "Error.txt".
#pragma once

#include "storage/fatfs/ff.h"

// Sets up SSI0 for the card and registers the volume (mounted on first use).
// 1 when the card was found and set up at start-up (or later from the menu).
extern int microSD_flg;

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
// The data file's appends.  Opening and seeking to the end use the end
// position remembered in FRAM from the previous append to `name` (the FAT
// module checks it against the card and walks the file's cluster chain when
// it does not hold), so an append costs the same however long the file is.
// data_file_open: f_open with `mode` (plus the remembered volume position).
FRESULT data_file_open(FIL* fp, const char* name, BYTE mode);
// f_lseek to the end of the file.
FRESULT data_file_seek_end(FIL* fp, const char* name);
// After a complete append, before f_close: writes the file's pending data
// and entry (as f_sync) and remembers where it ends.  A failure is left to
// f_close to report (the file keeps it).
void data_file_remember_end(FIL* fp, const char* name);
// Writes `text` at the position of the open data file `fp` (its end): a
// text the card cannot take whole is reported and cut back off, so the
// file holds whole records only (`*cut` says so); a complete one is
// remembered as the file's end.  Returns f_write's result.
FRESULT data_file_append(FIL* fp, const char* name, const char* text, bool* cut);
// After a text was cut back off: the error file's "Card full" line.
void data_file_note_full(const char* name);

// True when `name` (at most `size` bytes, terminated within them) is a
// valid 8.3 file name for the data file: one to eight name characters, an
// optional dot with one to three more, characters a FAT short name
// allows, and not the error file's name.
bool data_file_name_valid(const char* name, unsigned size);

// Opens `path` for writing (created when absent) positioned at its end.
// On failure no file is left open.
FRESULT open_append(FIL* fp, const char* path);

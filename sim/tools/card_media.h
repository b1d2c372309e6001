// File-backed media for the FAT file system module in the card tool: the
// media functions of storage/fatfs/diskio.h read and write sectors of an
// image file on the host.
#pragma once

#include "tools/common/status.h"

#include <cstdint>
#include <string>

namespace cardtool {

// Opens the image (read-write, or read-only when that is all that is
// allowed).
varve::Status media_open(const std::string& path);
void media_close();
bool media_writable();

} // namespace cardtool

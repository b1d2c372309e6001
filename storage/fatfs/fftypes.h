// Integer types shared by the FAT file system module and the media interface.
#pragma once

#include <cstdint>

typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef unsigned int UINT;
typedef char TCHAR;
typedef DWORD FSIZE_t; // file size and offset (FAT limits files to 4 GiB - 1)
typedef DWORD LBA_t;   // sector number

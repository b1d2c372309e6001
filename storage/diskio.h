// SPI-mode block driver of the microSD card on SSI0 (chip select PA3).
//
// Provides the media functions of the FAT file system module (declared in
// storage/fatfs/diskio.h) for physical drive 0 with 512-byte sectors, the
// card's 10 ms housekeeping step and the FAT time stamp.
#pragma once

#include "storage/fatfs/diskio.h"

// More control codes of disk_ioctl for this driver.
constexpr BYTE CTRL_POWER = 5;   // buff[0]: 0 off, 1 on, 2 read state into buff[1]
constexpr BYTE MMC_GET_CSD = 11; // copy the 16-byte CSD register into buff
constexpr BYTE MMC_GET_CID = 12; // copy the 16-byte CID register into buff

// Card type bits (disk_card_type).
constexpr BYTE CT_MMC = 0x01;   // MultiMediaCard
constexpr BYTE CT_SD = 0x02;    // SD card (version 1, or version 2 byte-addressed)
constexpr BYTE CT_BLOCK = 0x04; // block addressing (high-capacity card)

// Counts the two wait timers down; called every 10 ms from the system tick.
void disk_timerproc();

// Type of the card identified by the last disk_initialize (0 = none).
BYTE disk_card_type();

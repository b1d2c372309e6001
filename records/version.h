// Version of this firmware build, shown in the main menu and stored in the
// configuration record by board QA.
#pragma once

constexpr char FIRMWARE_VERSION_STR[] = "v4.1.2 Varve revB";
static_assert(sizeof(FIRMWARE_VERSION_STR) == 18);

// Hibernation and wake decoding.
#pragma once

#include <cstdint>

// Stores both records and hibernates; returns only when storing failed.
void sleep(int state, uint32_t wake_time);
// The idle action of the operator menus (IdleLimit, operator/user_io.h):
// sleeps as idle; returns only when the records could not be stored.
void sleep_idle();
// Decodes why the controller woke (WAKE_NOTSET, WAKE_PIN, WAKE_RTC).
uint32_t sleep_handler();

// Hibernation and wake decoding.
#pragma once

#include <cstdint>

// Stores both records and hibernates; returns only when storing failed.
void sleep(int state, uint32_t wake_time);
// Decodes why the controller woke (WAKE_NOTSET, WAKE_PIN, WAKE_RTC).
uint32_t sleep_handler();

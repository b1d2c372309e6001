// Hibernation and wake decoding.
#pragma once

#include <cstdint>

// Stores both records and hibernates; returns only when storing failed.
void sleep(int state, uint32_t wake_time);
// Waits for console input; after `idle_s` without any, goes to sleep as
// idle (and, should storing the records fail, waits another period).
// Input already waiting ends the wait at once.
void wait_input_or_sleep(unsigned idle_s);
// Decodes why the controller woke (WAKE_NOTSET, WAKE_PIN, WAKE_RTC).
uint32_t sleep_handler();

// microSD data logging and the error file.
#pragma once

// Mounts the card and opens the data file.
void Init_SDCard();
// Appends a time-stamped line to "Error.txt" on the card (when mounted).
void error_store(const char* text);

// Configuration module: record defaults (and, as they are built, the
// configuration menus and the record editor).
#pragma once

// Factory defaults of the whole configuration record (all but pump_spare and
// spare[4..63]), and a reset of the deployment progress.  Does not store.
void config_sys_data_default_init();
// Default data rates and trial counts of the isolated converter channels.
void ads1248_sampling_defaults();
// Clears the board QA results.
void config_qa_data_init();
// Asks for the deployment note, waiting at most `timeout` seconds for it;
// without a reply the note is a single space.  Returns non-zero.
int enter_deployment_note(int timeout);

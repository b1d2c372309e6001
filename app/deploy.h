// Deployment cycle and deployed command interpreter.
#pragma once

#include <cstdint>

// One step of a deployment in the given deploy_state: START begins one
// (dialogue, headers), DEPLOYED takes the due sample of a timed deployment,
// COMMAND serves a polled one.  Every step ends in sleep; it returns only
// when the records could not be stored, or after a stop in COMMAND.
void deploy(int state);
// Next timed wake (also kept in sys_samp.nextWakeUp).
uint32_t compute_nextWakeUp();
// "dump": deployment state on the debug output (switches it on).
void state_dump();
// Serves deployed commands, each line within `timeout` seconds; returns 0
// when the deployment was stopped, 1 when it resumes.
uint32_t exec_command(uint32_t timeout);

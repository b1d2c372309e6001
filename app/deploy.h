// Deployment cycle and deployed command interpreter.
#pragma once

// Runs the deployment cycle in the given deploy_state.
void deploy(int state);
// Serves deployed commands; returns 0 when the operator stopped the
// deployment, 1 when it resumes.
int exec_command(int timeout);

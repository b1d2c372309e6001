// Deployment cycle and deployed command interpreter.
//
// Not built yet: until they are, a controller found in a deployment state
// returns to the idle state and the main menu, so that it never spins or
// sleeps in a deployment that nothing can serve.
#include "app/deploy.h"

#include "records/system_data.h"

void deploy(int /*state*/)
{
    sys_samp.state = IDLE;
}

int exec_command(int /*timeout*/)
{
    return 0;
}

// varve-sim plan: how long the deployment a board is configured for lasts.
// Runs one simulated day of it on a copy of the board folder and turns the
// run's statistics into samples, awake time, charge and card bytes per day,
// the days until the low-battery end and until the card is full.
#pragma once

namespace sim {

// argv[0] is "plan".  Returns the exit status (0 success, 1 failure,
// 2 usage error).
int plan_main(int argc, char** argv);

// argv[0] is "power": prints the power table in force for a board.
int power_main(int argc, char** argv);

} // namespace sim

// Start-up configuration of the board lines.
#pragma once

void init_TM4C123GH6PGE_144pin();

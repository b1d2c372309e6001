// The board hibernates: nothing runs until a wake event.  The runner moves
// the run's clock from one event to the next: console bytes (lost, as the
// console UART is unpowered; the first one wakes the board when the pin
// wake is armed), script entries, the RTC match, the end of the run.
#pragma once

namespace sim {

enum class Wake { Pin, Rtc, Reset, PowerCycle, RunOver, Quit };

Wake hibernate_until_wake();

} // namespace sim

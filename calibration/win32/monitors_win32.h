// What the choice of the run's monitor reads of the system: its monitors and the pen mapping.
#pragma once

#include <vector>

#include "calibration/monitor_choice.h"

namespace tactra::calib {

// Every monitor of the desktop, in the system's order, with the interface paths of what each
// display shows. Empty when the system lists none.
std::vector<Monitor> ReadMonitors();

// Every value of the pen-to-monitor mapping that holds text; empty without the key.
std::vector<MonitorMapping> ReadMonitorMappings();

}  // namespace tactra::calib

#pragma once

namespace Basalt {

// Major version 6 or later: Task Scheduler 2.0, "IsolatedCommand", values deleted rather than emptied.
bool IsVistaOrLater();

}  // namespace Basalt

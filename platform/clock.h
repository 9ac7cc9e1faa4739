// The local date and time, as the console reads them. Tests may point the clock at a
// fixed moment (or any other source); everything that reads the local date asks here.
#pragma once

#include <ctime>
#include <functional>

namespace platform {

std::tm LocalNow();
// Replaces the clock; an empty function restores the system's local time.
void SetLocalClock(std::function<std::tm()> clock);

}  // namespace platform

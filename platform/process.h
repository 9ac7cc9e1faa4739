// Starting another program without waiting for it.
#pragma once

#include <string>

namespace platform {

// Runs the command line (words separated by blanks; the first is the program's path) as a
// separate process and returns at once. true when the program was started.
bool StartProgram(const std::string& commandLine);

}  // namespace platform

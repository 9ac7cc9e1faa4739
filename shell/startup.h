// The program entry of the console.
#pragma once

#include <string>

namespace shell {

// True when the command line is exactly "/qr", letter case aside.
bool IsQuickRun(const std::string& commandLine);

// Runs the console with its command line (the arguments joined by single spaces).
// Returns 1 after a normal end, 0 when start-up failed or stopped early. A failure of the
// quick run's work is said on standard error and kept in Shell().exitStatus.
int ProgramEntry(const std::string& commandLine);
// The process exit status for ProgramEntry's result (ExitStatus, shell/main_window.h).
int ExitStatusOf(int programEntryResult);

}  // namespace shell

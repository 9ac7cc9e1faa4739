// Where an installation lives. Three environment variables place it:
//   VELDANA_PROGRAM_DIR  program directory (lists, databases, USER.LST); default: the
//                        directory of the running executable
//   VELDANA_WINDOWS_DIR  Windows directory (WIN.INI, IVD.INI, SYSTEM/); default:
//                        <program dir>/windows
//   VELDANA_REGISTRY     registry store file; default: <windows dir>/registry.db
// Directories are returned without a trailing '/'. The values are read on every call,
// so a test may change the variables between calls.
#pragma once

#include <string>

namespace platform {

std::string ProgramDirectory();
std::string WindowsDirectory();
std::string RegistryStorePath();

// The directory of the running executable (readlink of /proc/self/exe).
std::string ExecutableDirectory();

}  // namespace platform

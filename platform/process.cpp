#include "platform/process.h"

#include <spawn.h>
#include <sys/wait.h>

#include <sstream>
#include <thread>
#include <vector>

extern char** environ;

namespace platform {

bool StartProgram(const std::string& commandLine) {
    std::istringstream words(commandLine);
    std::vector<std::string> args;
    for (std::string w; words >> w;) args.push_back(w);
    if (args.empty()) return false;
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
    // The caller does not wait; a detached reaper keeps the child from lingering as a zombie.
    std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
    return true;
}

}  // namespace platform

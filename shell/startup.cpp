#include "shell/startup.h"

#include <cstdio>

#include "policy/policy.h"

namespace shell {

bool IsQuickRun(const std::string& commandLine) {
    return commandLine.size() == 3 && commandLine[0] == '/' &&
           (commandLine[1] | 0x20) == 'q' && (commandLine[2] | 0x20) == 'r';
}

int ProgramEntry(const std::string& commandLine) {
    bool quickRun = IsQuickRun(commandLine);

    // The policy values reach the filter first, whatever else start-up does.
    policy::PublishPolicy(1, 0, 0);

    if (!quickRun) {
        std::fprintf(stderr,
                     "veldana: the policy is published; the console window is not part of "
                     "this build yet, so the console ends here.\n");
    }
    return 1;
}

}  // namespace shell

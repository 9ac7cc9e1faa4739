// veldana: the administrator console. "veldana /qr" does the start-up work and ends.
#include <string>

#include "shell/startup.h"

int main(int argc, char** argv) {
    std::string commandLine;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) commandLine += ' ';
        commandLine += argv[i];
    }
    return shell::ExitStatusOf(shell::ProgramEntry(commandLine));
}

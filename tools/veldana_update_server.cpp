// veldana-update-server: serves list files under the update contract (see
// docs/update-server.md and tools/update_server.h).
#include <cstdio>
#include <string>
#include <vector>

#include "tools/update_server.h"

namespace {

constexpr const char* kUsage =
    "usage: veldana-update-server [--config FILE] [--listen HOST:PORT] --file NUMBER=PATH...\n"
    "           [--name NUMBER=NAME] [--upgrade Y|N] [--message TEXT] [--log FILE]\n"
    "           [--port-file FILE] [--idle SECONDS] [--max-connections N]\n"
    "Serves GET /filedown/NUMBER with the file configured for NUMBER and the vd-* headers.\n"
    "Default listen address 127.0.0.1:8080; port 0 picks a free port (see --port-file).\n";

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    for (const auto& a : args) {
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    updateserver::ServerConfig config;
    std::string error;
    if (!updateserver::ParseArguments(args, config, error)) {
        std::fprintf(stderr, "veldana-update-server: %s\n%s", error.c_str(), kUsage);
        return 2;
    }
    if (config.files.empty())
        std::fprintf(stderr,
                     "veldana-update-server: warning: no --file given; every request gets 404\n");
    return updateserver::RunServer(config);
}

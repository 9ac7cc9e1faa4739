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
    "           [--port-file FILE] [--from DIR] [--rate BYTES] [--user NAME]\n"
    "           [--head-timeout SECONDS] [--idle SECONDS] [--min-rate BYTES]\n"
    "           [--max-connections N] [--max-per-address N] [--retry-after SECONDS]\n"
    "           [--workers N]\n"
    "Serves GET /filedown/NUMBER with the file configured for NUMBER and the vd-* headers.\n"
    "Default listen address 127.0.0.1:8080; port 0 picks a free port (see --port-file).\n"
    "SIGHUP reads the options and config files again. See docs/update-server.md.\n";

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
    // SIGHUP reads everything again as it was first read: the command line and the config
    // files it names.
    auto reload = [args](updateserver::ServerConfig& next, std::string& why) {
        return updateserver::ParseArguments(args, next, why);
    };
    return updateserver::RunServer(config, nullptr, reload);
}

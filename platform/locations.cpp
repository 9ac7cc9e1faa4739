#include "platform/locations.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace platform {
namespace {

std::string FromEnv(const char* name) {
    const char* v = std::getenv(name);
    if (v == nullptr || *v == '\0') return {};
    std::string s = v;
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

}  // namespace

std::string ExecutableDirectory() {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return ".";
    return exe.parent_path().string();
}

std::string ProgramDirectory() {
    std::string dir = FromEnv("VELDANA_PROGRAM_DIR");
    return dir.empty() ? ExecutableDirectory() : dir;
}

std::string WindowsDirectory() {
    std::string dir = FromEnv("VELDANA_WINDOWS_DIR");
    return dir.empty() ? ProgramDirectory() + "/windows" : dir;
}

std::string RegistryStorePath() {
    std::string path = FromEnv("VELDANA_REGISTRY");
    return path.empty() ? WindowsDirectory() + "/registry.db" : path;
}

}  // namespace platform

#include "tests/support/temp_install.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "platform/process_state.h"

#ifndef VELDANA_BUILD_DIR
#error "VELDANA_BUILD_DIR must name the build tree"
#endif

namespace testsupport {

void ResetAllState() { platform::ResetProcessState(); }

TempInstall::TempInstall() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "veldana-test-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    root_ = tmpl;
    std::filesystem::create_directories(windowsDir() + "/SYSTEM");
    setenv("VELDANA_PROGRAM_DIR", programDir().c_str(), 1);
    setenv("VELDANA_WINDOWS_DIR", windowsDir().c_str(), 1);
    setenv("VELDANA_REGISTRY", registryPath().c_str(), 1);
    ResetAllState();
}

TempInstall::~TempInstall() {
    ResetAllState();
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
    unsetenv("VELDANA_PROGRAM_DIR");
    unsetenv("VELDANA_WINDOWS_DIR");
    unsetenv("VELDANA_REGISTRY");
}

void TempInstall::writeFile(const std::string& path, const std::string& content) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

std::string TempInstall::readFile(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

namespace {
std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
}  // namespace

int RunCommand(const std::string& command, std::string* out, std::string* err) {
    char outName[] = "/tmp/veldana-cmd-out-XXXXXX";
    char errName[] = "/tmp/veldana-cmd-err-XXXXXX";
    int outFd = mkstemp(outName), errFd = mkstemp(errName);
    close(outFd);
    close(errFd);
    std::string full = "(" + command + ") >" + outName + " 2>" + errName;
    int status = std::system(full.c_str());
    if (out) *out = Slurp(outName);
    if (err) *err = Slurp(errName);
    unlink(outName);
    unlink(errName);
    if (status == -1 || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

std::string RawNameList(const std::vector<std::pair<std::string, std::uint32_t>>& names) {
    std::string out;
    for (int i = 0; i < 4; ++i) out += static_cast<char>(names.size() >> (8 * i));
    for (const auto& [name, value] : names) {
        out += static_cast<char>(name.size());
        out += name;
        for (int i = 0; i < 4; ++i) out += static_cast<char>(value >> (8 * i));
    }
    return out;
}

std::string RawNameList(const std::string& name, std::uint32_t value) {
    return RawNameList({{name, value}});
}

int MakeListFile(const std::string& source, const std::string& out, std::string* err) {
    char name[] = "/tmp/veldana-list-src-XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) return -1;
    const bool written = ::write(fd, source.data(), source.size()) ==
                         static_cast<ssize_t>(source.size());
    close(fd);
    const int status = written ? RunCommand(BuiltProgram("veldana-list") + " make '" + name +
                                                "' '" + out + "'",
                                            nullptr, err)
                               : -1;
    unlink(name);
    return status;
}

std::string BuiltProgram(const std::string& name) {
    for (const char* dir : {"/shell/", "/tools/", "/tests/"}) {
        std::string p = std::string(VELDANA_BUILD_DIR) + dir + name;
        if (access(p.c_str(), X_OK) == 0) return p;
    }
    return std::string(VELDANA_BUILD_DIR) + "/" + name;
}

std::size_t CountOccurrences(std::string_view text, std::string_view what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string_view::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

}  // namespace testsupport

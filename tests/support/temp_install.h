// A throw-away installation for a test: a fresh temporary directory that the three
// location variables point into (program directory, Windows directory, registry store),
// with every subsystem's state reset on the way in and on the way out.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace testsupport {

class TempInstall {
public:
    TempInstall();
    ~TempInstall();
    TempInstall(const TempInstall&) = delete;
    TempInstall& operator=(const TempInstall&) = delete;

    const std::string& root() const { return root_; }
    std::string programDir() const { return root_ + "/prog"; }
    std::string windowsDir() const { return root_ + "/prog/windows"; }
    std::string registryPath() const { return root_ + "/prog/windows/registry.db"; }
    // A path in the program directory.
    std::string file(const std::string& name) const { return programDir() + "/" + name; }

    void writeFile(const std::string& path, const std::string& content) const;
    std::string readFile(const std::string& path) const;

private:
    std::string root_;
};

// Resets the state of every module linked into the test (platform::ResetProcessState), as
// a fresh process would have it.
void ResetAllState();

// Runs a command through /bin/sh with the current environment; returns its exit status
// and puts standard output (and error, if `err` is given) into the strings.
int RunCommand(const std::string& command, std::string* out = nullptr, std::string* err = nullptr);

// A raw name list (DNSRAW.NOT, DNSRAW.YES) of one name: a count, then length-prefixed names
// with a 4-byte value each.
std::string RawNameList(const std::string& name, std::uint32_t value);
std::string RawNameList(const std::vector<std::pair<std::string, std::uint32_t>>& names);

// Compiles a list source (docs/list-source-format.md) with "veldana-list make" into `out`,
// a category list as the console downloads it: the command's exit status (0 when made),
// its standard error in `err` when given.
int MakeListFile(const std::string& source, const std::string& out, std::string* err = nullptr);

// Path of a program built in this tree (veldana, veldana-reg, ...).
std::string BuiltProgram(const std::string& name);

// How many times `what` occurs in `text` (overlapping ones too).
std::size_t CountOccurrences(std::string_view text, std::string_view what);

}  // namespace testsupport

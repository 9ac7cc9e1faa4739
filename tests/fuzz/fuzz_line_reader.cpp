// Local text files of sites may hold anything: lines of any length, CRs, NULs.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "sitelists/line_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static std::string path = [] {
        char tmpl[] = "/tmp/veldana-fuzz-lines-XXXXXX";
        int fd = mkstemp(tmpl);
        close(fd);
        return std::string(tmpl);
    }();
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        if (size) std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    int slot = sitelists::OpenLineFile(path);
    std::vector<char> buffer(size % 300 + 1);
    std::string line;
    for (int n = 0, i = 0; n >= 0 && i < 100000; ++i)
        n = (i & 1) ? sitelists::ReadLine(slot, buffer) : sitelists::ReadLine(slot, line, 128);
    sitelists::CloseLineFile(slot);
    return 0;
}

// Runs a fuzz target over saved inputs, so that ordinary builds (without libFuzzer)
// replay the corpus as a regression test: every argument is a file or a directory of
// files, each passed once to LLVMFuzzerTestOneInput. An argument that is neither, or a
// file that cannot be read, fails the run, so a mistyped corpus path cannot pass unseen.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {
bool RunFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "replay: cannot read %s\n", p.c_str());
        return false;
    }
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    return true;
}
}  // namespace

int main(int argc, char** argv) {
    int runs = 0;
    bool ok = true;
    auto run = [&](const std::filesystem::path& p) {
        if (RunFile(p))
            ++runs;
        else
            ok = false;
    };
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path p = argv[i];
        std::error_code ec;
        if (std::filesystem::is_directory(p, ec)) {
            for (const auto& e : std::filesystem::recursive_directory_iterator(p))
                if (e.is_regular_file()) run(e.path());
        } else if (std::filesystem::is_regular_file(p, ec)) {
            run(p);
        } else {
            std::fprintf(stderr, "replay: %s is neither a file nor a directory\n", argv[i]);
            ok = false;
        }
    }
    // The empty input is always worth one run.
    LLVMFuzzerTestOneInput(nullptr, 0);
    std::printf("replayed %d inputs\n", runs + 1);
    return ok ? 0 : 1;
}

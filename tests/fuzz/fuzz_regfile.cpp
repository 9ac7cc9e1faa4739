// Registry text files come from administrators and other machines: the parser must
// take any bytes without harm, and whatever it accepts must survive export and reparse.
#include <cstdint>
#include <string>
#include <vector>

#include "tools/regfile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<tools::RegOp> ops;
    std::string error;
    tools::ParseRegFile(text, ops, error);
    std::string path;
    tools::SplitRootedKey(text, path);
    for (const auto& op : ops) tools::FormatValueData(op.type, op.data);
    return 0;
}

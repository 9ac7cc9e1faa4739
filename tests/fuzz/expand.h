// The short form of database inputs: a database holds two 2 MB bucket arrays and a 256 KB
// index bucket table, and this lets a small input describe one. A5 b n0 n1 n2 stands for n
// copies of the byte b and A6 w0 w1 w2 w3 n0 n1 n2 for n copies of the 4-byte word w
// (n = n0 | n1 << 8 | n2 << 16); every other byte stands for itself. At most 32 MB come out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace fuzzsupport {

constexpr std::size_t kMaxExpanded = 32u << 20;

// `out` is reused: buffers of a few megabytes are kept from one input to the next, as
// allocating them anew for every input would cost more than the work done on them.
inline void Expand(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out) {
    out.clear();
    for (std::size_t i = 0; i < size;) {
        if (data[i] == 0xA5 && i + 5 <= size) {
            const std::size_t n = data[i + 2] | (data[i + 3] << 8) | (data[i + 4] << 16);
            if (out.size() + n > kMaxExpanded) break;
            out.insert(out.end(), n, data[i + 1]);
            i += 5;
        } else if (data[i] == 0xA6 && i + 8 <= size) {
            const std::size_t n = data[i + 5] | (data[i + 6] << 8) | (data[i + 7] << 16);
            if (out.size() + 4 * n > kMaxExpanded) break;
            const std::size_t start = out.size();
            out.resize(start + 4 * n);
            for (std::size_t k = 0; k < n; ++k) std::memcpy(&out[start + 4 * k], data + i + 1, 4);
            i += 8;
        } else {
            std::size_t j = i + 1;
            while (j < size && data[j] != 0xA5 && data[j] != 0xA6) ++j;
            if (out.size() + (j - i) > kMaxExpanded) break;
            out.insert(out.end(), data + i, data + j);
            i = j;
        }
    }
}

}  // namespace fuzzsupport

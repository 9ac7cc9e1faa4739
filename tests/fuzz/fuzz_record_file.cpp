// Fuzzes the database reader and the record file engine on arbitrary files.
//
// An input is a file's bytes, except that A5 b n0 n1 n2 stands for n copies of the byte b
// and A6 w0 w1 w2 w3 n0 n1 n2 for n copies of the 4-byte word w (n = n0 | n1 << 8 |
// n2 << 16): a database holds two 2 MB bucket arrays and a 256 KB index bucket table, and
// this lets a small input describe one (the seeds are engine-made databases written so).
//
// Each input is read with the inspector's reports (info, dump, lookups), then opened with
// RdbOpen; when it opens, a few inserts and an index build run on it. A build that
// succeeds must leave a file that the reader accepts and dumps completely.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dbbuild/record_file.h"
#include "dbbuild/record_reader.h"

namespace {

constexpr std::size_t kMaxExpanded = 32u << 20;

// Buffers of a few megabytes are kept from one input to the next: allocating them anew
// for every input would cost more than the work done on them.
void Expand(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out) {
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

void Inspect(const std::vector<std::uint8_t>& bytes) {
    dbbuild::DatabaseImage image;
    std::string error, out;
    if (!dbbuild::OpenImage(bytes, image, error)) return;
    for (auto format : {dbbuild::ReportFormat::kText, dbbuild::ReportFormat::kJson}) {
        dbbuild::ReportInfo(image, format, out, error);
        dbbuild::ReportDump(image, format, out, error);
        dbbuild::ReportLookup(image, "www.example.com", std::nullopt, format, out, error);
    }
    // Look up an address the index holds, so that the bucket walk finds something.
    dbbuild::AddressEntry entry;
    if (image.addressEntries > 0 && dbbuild::ReadAddressEntry(image, 0, entry, error)) {
        const std::string dotted = dbbuild::DottedAddress(entry.address);
        dbbuild::ReportLookup(image, dotted, std::string_view("/a/b"), dbbuild::ReportFormat::kText,
                              out, error);
    }
}

// An in-memory file that RdbOpen can open by name.
int MemoryFile() {
    static const int fd = memfd_create("fuzz_record_file", 0);
    return fd;
}

bool Store(int fd, const std::vector<std::uint8_t>& bytes) {
    if (ftruncate(fd, static_cast<off_t>(bytes.size())) != 0) return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void Load(int fd, std::vector<std::uint8_t>& bytes) {
    bytes.resize(static_cast<std::size_t>(lseek(fd, 0, SEEK_END)));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    bytes.resize(done);
}

void Exercise(const std::vector<std::uint8_t>& bytes) {
    const int fd = MemoryFile();
    if (fd < 0 || !Store(fd, bytes)) return;
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    dbbuild::ResetRecordFile();
    if (dbbuild::RdbOpen(path) != 1) return;
    std::vector<std::uint8_t> block;
    const std::uint8_t key[] = {'a', 'b'};
    dbbuild::AddPathItem(block, 1, key);
    dbbuild::RdbPutAddress(0x04030201, 1, 0, block);
    dbbuild::RdbPutAddress(0x04030201, 2, dbbuild::kFlagOpposite);
    dbbuild::RdbPutName("www.example.com", 1, 0);
    dbbuild::RdbAddAlias(0x04030201, 0x08070605);
    const bool built = dbbuild::RdbBuildIndexes(0, 0xFFFF) == 1;
    const bool closed = dbbuild::RdbClose() == 1;
    if (!built || !closed) return;

    static std::vector<std::uint8_t> result;
    Load(fd, result);
    dbbuild::DatabaseImage image;
    std::string error, out;
    if (!dbbuild::OpenImage(result, image, error) ||
        !dbbuild::ReportDump(image, dbbuild::ReportFormat::kText, out, error))
        std::abort();  // the engine wrote a file its own reader refuses
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static std::vector<std::uint8_t> bytes;
    Expand(data, size, bytes);
    Inspect(bytes);
    Exercise(bytes);
    return 0;
}

// Fuzzes the database reader and the record file engine on arbitrary files.
//
// An input is a file's bytes in the short form of tests/fuzz/expand.h (the seeds are
// engine-made databases written so).
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
#include "dbread/record_reader.h"
#include "dbread/text.h"
#include "tests/fuzz/expand.h"
#include "tools/db_reports.h"

namespace {

void Inspect(const std::vector<std::uint8_t>& bytes) {
    dbread::DatabaseImage image;
    std::string error, out;
    if (!dbread::OpenImage(bytes, image, error)) return;
    for (auto format : {dbreports::ReportFormat::kText, dbreports::ReportFormat::kJson}) {
        dbreports::ReportInfo(image, format, out, error);
        dbreports::ReportDump(image, format, out, error);
        dbreports::ReportLookup(image, "www.example.com", std::nullopt, format, out, error);
    }
    // Look up an address the index holds, so that the bucket walk finds something.
    dbread::AddressEntry entry;
    if (image.addressEntries > 0 && dbread::ReadAddressEntry(image, 0, entry, error)) {
        const std::string dotted = dbread::DottedAddress(entry.address);
        dbreports::ReportLookup(image, dotted, std::string_view("/a/b"),
                                dbreports::ReportFormat::kText, out, error);
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
    dbread::DatabaseImage image;
    std::string error, out;
    if (!dbread::OpenImage(result, image, error) ||
        !dbreports::ReportDump(image, dbreports::ReportFormat::kText, out, error))
        std::abort();  // the engine wrote a file its own reader refuses
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static std::vector<std::uint8_t> bytes;
    fuzzsupport::Expand(data, size, bytes);
    Inspect(bytes);
    Exercise(bytes);
    return 0;
}

// Fuzzes the reader library alone, as the filter links it: every input is read as a filter
// database (in the short form of tests/fuzz/expand.h), as a DNSHASH.DAT and as the
// unscrambled content of a category list. Nothing may read past the input (every entry of
// a database is read and looked up again by its key, however damaged the file), and:
//  - in a DNSHASH.DAT that passes the whole-file check, every record reads and is found by
//    its name;
//  - a list that reads is written again and reads back the same.
// The replay runs over the saved inputs of the database, DNSHASH.DAT and list fuzzers.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "dbread/dns_hash_reader.h"
#include "dbread/list_file.h"
#include "dbread/record_reader.h"
#include "tests/fuzz/expand.h"

namespace {

void ReadDatabase(const std::vector<std::uint8_t>& bytes) {
    dbread::DatabaseImage image;
    std::string error;
    if (!dbread::OpenImage(bytes, image, error)) return;
    // A damaged index may hold an entry outside its address's bucket, or names out of order,
    // so a lookup may miss what the walk read.
    for (std::uint32_t e = 0; e < image.addressEntries; ++e) {
        dbread::AddressEntry entry, found;
        if (dbread::ReadAddressEntry(image, e, entry, error))
            dbread::FindAddress(image, entry.address, found, error);
    }
    const std::uint32_t names = image.nameIndexBuilt ? image.nameIndex.count : 0;
    for (std::uint32_t i = 0; i < names; ++i) {
        dbread::NameEntry entry, found;
        if (dbread::ReadNameEntry(image, i, entry, error))
            dbread::FindName(image, entry.key, found, error);
    }
}

void ReadDnsHash(std::span<const std::uint8_t> bytes) {
    dbread::DnsHashImage image;
    dbread::DnsHashSummary summary;
    std::string error;
    if (!dbread::OpenDnsHashBytes(bytes, image, error)) return;
    const bool whole = dbread::CheckDnsHash(image, summary, error);
    for (std::uint32_t i = 0; i < image.header.recordCount; ++i) {
        dbread::DnsNameRecord record;
        dbread::DnsLookupResult result;
        if (!dbread::ReadDnsRecord(image, i, record, error)) {
            if (whole) std::abort();  // the whole-file check passed every record
            continue;
        }
        const bool looked = dbread::LookupDnsName(image, record.Name(), result, error);
        if (whole && (!looked || !result.found || result.record.Name() != record.Name()))
            std::abort();
    }
}

void ReadList(const std::vector<std::uint8_t>& content) {
    for (const char* name : {"VELDA.NOT", "VELDA.YES"}) {
        dbread::ListContent list, back;
        dbread::ListLayout layout;
        std::string why;
        if (!dbread::DecodeListFile(name, content, dbread::kAnyListKind, list, layout, why))
            continue;
        std::vector<std::uint8_t> again;
        // Writing again may grow a list past a limit (see fuzz_list_file): then nothing to check.
        if (!dbread::EncodeListFile(list, again, why)) continue;
        if (!dbread::DecodeListFile(name, again, dbread::kAnyListKind, back, layout, why))
            std::abort();
        back.namesReadable = list.namesReadable;
        if (!(back == list)) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static std::vector<std::uint8_t> expanded;
    fuzzsupport::Expand(data, size, expanded);
    ReadDatabase(expanded);
    ReadDnsHash(std::span(data, size));
    if (size <= dbread::kMaxListFileSize + 1)
        ReadList(std::vector<std::uint8_t>(data, data + size));
    return 0;
}

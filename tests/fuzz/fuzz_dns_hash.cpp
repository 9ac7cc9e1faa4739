// Fuzzes the DNS resolving database: every input is read as a DNSHASH.DAT by the reader
// (info, dump and lookups, from memory and from a file), and every input that does not
// begin with the database's magic is also the raw name list DNSRAW.NOT of a build in a
// scratch program directory. The build must succeed, and the reader must accept what it
// wrote and find every record it holds by its name.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "dbbuild/dns_hash.h"
#include "dbread/dns_hash_reader.h"
#include "resolve/resolvers.h"
#include "tools/db_reports.h"
#include "ui/window.h"

namespace {

// A scratch program directory for the builds, removed when the process ends.
struct ScratchDirectory {
    std::string path;
    ScratchDirectory() {
        // On tmpfs when there is one: every build ends with an fsync.
        for (std::string base : {"/dev/shm", "/tmp"}) {
            std::string tmpl = base + "/fuzz_dns_hash-XXXXXX";
            if (mkdtemp(tmpl.data())) {
                path = tmpl;
                break;
            }
        }
        if (path.empty()) std::abort();
        setenv("VELDANA_PROGRAM_DIR", path.c_str(), 1);
        setenv("VELDANA_WINDOWS_DIR", (path + "/windows").c_str(), 1);
    }
    ~ScratchDirectory() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

const std::string& ProgramDir() {
    static const ScratchDirectory dir;
    return dir.path;
}

void Write(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

void Fail(const char* what, const std::string& error) {
    std::fprintf(stderr, "fuzz_dns_hash: %s: %s\n", what, error.c_str());
    std::abort();
}

void Inspect(const dbread::DnsHashImage& image) {
    std::string out, error;
    dbreports::DnsHashInfoText(image, out, error);
    dbreports::DnsHashInfoJson(image, out, error);
    dbreports::DnsHashDumpText(image, out, error);
    dbreports::DnsHashDumpJson(image, out, error);
    for (const char* name : {"www.example.com", "a", "example.com"}) {
        dbreports::DnsHashLookupText(image, name, out, error);
        dbreports::DnsHashLookupJson(image, name, out, error);
    }
    // The first record's own name walks a ring that holds something.
    dbread::DnsNameRecord record;
    if (dbread::ReadDnsRecord(image, 0, record, error)) {
        dbread::DnsLookupResult result;
        dbread::LookupDnsName(image, record.Name(), result, error);
    }
}

void Build(const std::uint8_t* data, std::size_t size) {
    const std::string dir = ProgramDir();
    Write(dir + "/DNSRAW.NOT", data, size);
    const std::string path = dir + "/DNSHASH.TMP";
    if (dbbuild::BuildDnsHash(path, resolve::LookupOrResolve) != 1) Fail("build", "failed");

    dbread::DnsHashImage image;
    dbread::DnsHashSummary summary;
    std::string error;
    if (!dbread::OpenDnsHashFile(path, image, error) ||
        !dbread::CheckDnsHash(image, summary, error))
        Fail("the built file is refused", error);
    // A record takes at least 6 bytes of the list, after its 4-byte count.
    if (image.header.recordCount > (size > 4 ? (size - 4) / 6 : 0)) Fail("records", "too many");
    for (std::uint32_t i = 0; i < image.header.recordCount; ++i) {
        dbread::DnsNameRecord record;
        dbread::DnsLookupResult result;
        if (!dbread::ReadDnsRecord(image, i, record, error) ||
            !dbread::LookupDnsName(image, record.Name(), result, error))
            Fail("reading back", error);
        if (!result.found || result.index != i) Fail("lookup", std::string(record.Name()));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    dbread::DnsHashImage image;
    std::string error;
    if (dbread::OpenDnsHashBytes(std::span(data, size), image, error)) Inspect(image);
    const std::string file = ProgramDir() + "/input.dat";
    Write(file, data, size);
    if (dbread::OpenDnsHashFile(file, image, error)) Inspect(image);

    // A build costs a progress window and an fsync: inputs made from a database (they keep
    // its magic) go to the reader only.
    if (size >= 2 && data[0] == 0x72 && data[1] == 0x74) return 0;
    Build(data, size);
    // Nothing runs the message loop here: drop what the progress window left queued.
    ui::ResetWindowLayer();
    return 0;
}

// veldana-db: the administrator's inspector for the filter databases (VeldaNOT.BIN, ...).
//   veldana-db info FILE                     header, table descriptors, counts, indexes
//   veldana-db dump FILE                     every address index entry, then the name index
//   veldana-db lookup FILE ADDRESS [PATH]    the address index entry (by bucket), the path
//                                            items that apply to PATH, and the name index
//   veldana-db lookup FILE NAME              the name index entries (by binary search) of
//                                            NAME and its parent domains, as domains are
//                                            stored (labels reversed), plain and restricted
// On a DNS resolving database (DNSHASH.DAT, told by its first bytes):
//   veldana-db info FILE                     header, buckets, records, longest ring
//   veldana-db dump FILE                     every record: name, address, bucket, next
//   veldana-db lookup FILE NAME              the record of NAME, found by hash and ring
// --json (anywhere) prints JSON instead of text. Exit status 0 on success, 1 when the file
// cannot be read or is damaged (the reason on stderr), 2 for a usage error.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "dbread/dns_hash_reader.h"
#include "dbread/record_reader.h"
#include "dbread/text.h"
#include "tools/db_reports.h"

namespace {

int Usage() {
    std::fputs(
        "usage: veldana-db [--json] info FILE\n"
        "       veldana-db [--json] dump FILE\n"
        "       veldana-db [--json] lookup FILE ADDRESS|NAME [PATH]\n"
        "ADDRESS is a dotted IPv4 address; PATH (with an ADDRESS) is a URL path whose\n"
        "matching path items are shown. NAME is a host or domain name (www.example.com).\n",
        stderr);
    return 2;
}

}  // namespace

// The same commands on a DNSHASH.DAT.
int DnsHashCommand(const std::string& command, const std::vector<std::string>& args, bool json) {
    const std::string& file = args[1];
    if (command == "lookup" && args.size() != 3) return Usage();
    dbread::DnsHashImage image;
    std::string out, error;
    if (!dbread::OpenDnsHashFile(file, image, error)) {
        std::fprintf(stderr, "veldana-db: %s: damaged or not a DNS database: %s\n", file.c_str(),
                     error.c_str());
        return 1;
    }
    bool ok = false;
    if (command == "info")
        ok = json ? dbreports::DnsHashInfoJson(image, out, error)
                  : dbreports::DnsHashInfoText(image, out, error);
    else if (command == "dump")
        ok = json ? dbreports::DnsHashDumpJson(image, out, error)
                  : dbreports::DnsHashDumpText(image, out, error);
    else
        ok = json ? dbreports::DnsHashLookupJson(image, args[2], out, error)
                  : dbreports::DnsHashLookupText(image, args[2], out, error);
    if (!ok) {
        std::fprintf(stderr, "veldana-db: %s: %s\n", file.c_str(), error.c_str());
        return 1;
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

int main(int argc, char** argv) {
    bool json = false;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--json")
            json = true;
        else if (a == "-h" || a == "--help")
            return Usage();
        else
            args.push_back(a);
    }
    if (args.size() < 2) return Usage();
    const std::string& command = args[0];
    const bool lookup = command == "lookup";
    if (command != "info" && command != "dump" && !lookup) return Usage();
    if (lookup ? (args.size() < 3 || args.size() > 4) : args.size() != 2) return Usage();
    if (dbread::HasDnsHashMagic(args[1])) return DnsHashCommand(command, args, json);
    std::uint32_t address = 0;
    if (lookup && args.size() == 4 && !dbread::ParseDottedAddress(args[2], address)) {
        std::fputs("veldana-db: a PATH goes with an ADDRESS only\n", stderr);
        return 2;
    }

    const std::string& file = args[1];
    std::vector<std::uint8_t> bytes;
    std::string error;
    dbread::DatabaseImage image;
    if (!dbread::LoadFile(file, bytes, error)) {
        std::fprintf(stderr, "veldana-db: %s\n", error.c_str());
        return 1;
    }
    if (!dbread::OpenImage(bytes, image, error)) {
        std::fprintf(stderr, "veldana-db: %s: damaged or not a database: %s\n", file.c_str(),
                     error.c_str());
        return 1;
    }

    const auto format = json ? dbreports::ReportFormat::kJson : dbreports::ReportFormat::kText;
    std::string out;
    bool ok = false;
    if (command == "info") {
        ok = dbreports::ReportInfo(image, format, out, error);
    } else if (command == "dump") {
        ok = dbreports::ReportDump(image, format, out, error);
    } else {
        std::optional<std::string_view> path;
        if (args.size() == 4) path = args[3];
        ok = dbreports::ReportLookup(image, args[2], path, format, out, error);
    }
    if (!ok) {
        std::fprintf(stderr, "veldana-db: %s: damaged index: %s\n", file.c_str(), error.c_str());
        return 1;
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

// The filter's databases, opened read-only and mapped: the four filter databases and the
// DNS resolving database that the policy names. A set is opened whole or not at all, and it
// stays usable for as long as it is held, also after the console has replaced its files
// (a mapping keeps the file it was made from).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <span>
#include <string>

#include "dbread/dns_hash_reader.h"
#include "dbread/record_reader.h"
#include "filter/published_policy.h"

namespace filter {

// A regular file mapped read-only (an empty file maps to no bytes).
//
// A file is meant to be replaced by rename, never rewritten in place; one that is cut short
// in place would make a read of its lost pages fault (SIGBUS). Every mapping is therefore
// watched: such a fault puts a page of zeros in place, so that the read goes on (the readers
// take any bytes), and counts in MappingFaults(), so that the caller throws away what it
// decided from those bytes and opens the files again.
class MappedFile {
  public:
    MappedFile() = default;
    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&& other) noexcept;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    ~MappedFile();

    bool Open(const std::string& path, std::string& error);
    std::span<const std::uint8_t> bytes() const { return {data_, size_}; }

  private:
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

// Faults on watched mappings since the process started.
std::uint64_t MappingFaults();

// What tells one version of a file from the next: a replaced file has a new inode.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::timespec modified{};
    bool operator==(const FileIdentity&) const;
};
// False when the file cannot be examined.
bool IdentifyFile(const std::string& path, FileIdentity& identity);

// How a database stores path keys: lower-case text, or running CRC-32 values per segment.
enum class KeyForm { kText, kSegments };
// Whether a database restricts (its entries block) or approves (its entries allow).
enum class Sense { kRestricting, kApproving };

// The key form of a database, told by the path item of its sentinel (address
// 255.255.255.255, key "TEST"); `fallback` when the sentinel is missing or unlike both.
KeyForm DetectKeyForm(const dbread::DatabaseImage& image, KeyForm fallback);

struct OpenDatabase {
    std::string path;
    FileIdentity identity;
    MappedFile file;
    dbread::DatabaseImage image;
    KeyForm keyForm = KeyForm::kText;
    Sense sense = Sense::kRestricting;
};

struct DatabaseSet {
    OpenDatabase restricted;  // VeldaNOT.BIN
    OpenDatabase approved;    // VeldaYES.BIN
    OpenDatabase noneNot;     // NoneNOT.BIN: the administrator's restrictions
    OpenDatabase noneYes;     // NoneYES.BIN: the administrator's approvals
    std::string dnsPath;
    FileIdentity dnsIdentity;
    MappedFile dnsFile;
    dbread::DnsHashImage dns;
    std::time_t opened = 0;
};

// Opens every file the policy names; false with the reason (and `set` untouched) when one
// is missing, unreadable or not a usable database.
bool OpenDatabaseSet(const PublishedPolicy& policy, DatabaseSet& set, std::string& error);
// True when every file the policy names is still the one the set was opened from.
bool SetIsCurrent(const DatabaseSet& set, const PublishedPolicy& policy);

}  // namespace filter

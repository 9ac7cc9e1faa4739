#include "dbread/dns_hash_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "dbread/bytes.h"
#include "dbread/text.h"

namespace dbread {
namespace {

constexpr std::size_t kChunkRecords = 1024;  // records read at once by the whole-file walks
constexpr std::size_t kChunkWords = 16384;   // bucket words read at once

// Reads exactly out.size() bytes at `offset`, never past the size taken at open.
bool ReadAt(const DnsHashImage& image, std::uint64_t offset, std::span<std::uint8_t> out,
            std::string& error) {
    if (offset > image.size || out.size() > image.size - offset) {
        error = Printf("%zu bytes at offset %llu lie past the end of the file (%llu bytes)",
                       out.size(), static_cast<unsigned long long>(offset),
                       static_cast<unsigned long long>(image.size));
        return false;
    }
    if (image.inMemory) {
        std::memcpy(out.data(), image.bytes.data() + offset, out.size());
        return true;
    }
    std::size_t done = 0;
    while (done < out.size()) {
        ssize_t n = ::pread(image.file.get(), out.data() + done, out.size() - done,
                            static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = Printf("reading at offset %llu failed (the file changed while being read?)",
                           static_cast<unsigned long long>(offset + done));
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::uint64_t RecordAt(const DnsHashHeader& h, std::uint32_t index) {
    return h.recordOffset + std::uint64_t{kDnsRecordSize} * index;
}

bool CheckHeader(DnsHashImage& image, std::string& error) {
    const unsigned long long size = image.size;
    if (image.size < kDnsHeaderSize) {
        error = Printf("the file has %llu bytes, fewer than the 24-byte header", size);
        return false;
    }
    std::array<std::uint8_t, kDnsHeaderSize> bytes{};
    if (!ReadAt(image, 0, bytes, error)) return false;
    const DnsHashHeader h = DecodeDnsHashHeader(bytes);
    image.header = h;
    if (h.magic != kDnsHashMagic) {
        error = Printf("magic 0x%04x instead of 0x7472: not a DNS resolving database", h.magic);
        return false;
    }
    if (h.recordSize != kDnsRecordSize) {
        error = Printf("record size %u instead of 76", h.recordSize);
        return false;
    }
    if (h.tableOffset != kDnsTableOffset) {
        error = Printf("bucket table offset %u instead of 512", h.tableOffset);
        return false;
    }
    if (h.bucketCount < kDnsMinBuckets) {
        error = Printf("bucket count %u is below 100", h.bucketCount);
        return false;
    }
    const std::uint64_t area = DnsRecordAreaOffset(h.bucketCount);
    if (area > image.size) {
        error = Printf(
            "%u buckets need a record area at offset %llu, past the end of the file "
            "(%llu bytes)",
            h.bucketCount, static_cast<unsigned long long>(area), size);
        return false;
    }
    if (h.recordOffset != area) {
        error = Printf("record area offset %u instead of %llu for %u buckets", h.recordOffset,
                       static_cast<unsigned long long>(area), h.bucketCount);
        return false;
    }
    const std::uint64_t areaBytes = image.size - area;
    if (areaBytes % kDnsRecordSize != 0) {
        error = Printf("the record area holds %llu bytes, not a whole number of 76-byte records",
                       static_cast<unsigned long long>(areaBytes));
        return false;
    }
    const std::uint64_t held = areaBytes / kDnsRecordSize;
    if (held >= kDnsNoRecord) {
        error = "the record area holds more records than an index can name";
        return false;
    }
    if (h.recordCount != held) {
        error = h.recordCount == 0
                    ? Printf(
                          "the header counts 0 records but the file holds %llu: an unfinished "
                          "build",
                          static_cast<unsigned long long>(held))
                    : Printf("the header counts %u records but the file holds %llu", h.recordCount,
                             static_cast<unsigned long long>(held));
        return false;
    }
    const std::uint64_t fillerStart = kDnsTableOffset + std::uint64_t{4} * h.bucketCount;
    std::vector<std::uint8_t> filler(static_cast<std::size_t>(area - fillerStart));
    if (!ReadAt(image, fillerStart, filler, error)) return false;
    for (std::size_t i = 0; i < filler.size(); ++i) {
        if (filler[i] != 0xFF) {
            error = Printf("byte 0x%02x at offset %llu behind the bucket table instead of 0xFF",
                           filler[i], static_cast<unsigned long long>(fillerStart + i));
            return false;
        }
    }
    return true;
}

// The checks every record must pass wherever it is read.
bool CheckRecord(const DnsHashHeader& h, std::uint32_t index, const DnsNameRecord& r,
                 std::string& error) {
    if (r.length == 0 || r.length > kDnsMaxName) {
        error = Printf("record %u has name length %u (1 to 63 expected)", index, r.length);
        return false;
    }
    if (r.next >= h.recordCount) {
        error = Printf("record %u links to record %u, outside the %u records", index, r.next,
                       h.recordCount);
        return false;
    }
    return true;
}

bool CheckBucketWord(const DnsHashHeader& h, std::uint32_t bucket, std::uint32_t word,
                     std::string& error) {
    if (word != kDnsNoRecord && word >= h.recordCount) {
        error = Printf("bucket %u names record %u, outside the %u records", bucket, word,
                       h.recordCount);
        return false;
    }
    return true;
}

// Calls `each` for every record in index order, reading them in chunks.
template <typename Each>
bool ForEachRecord(const DnsHashImage& image, std::string& error, Each each) {
    const DnsHashHeader& h = image.header;
    std::vector<std::uint8_t> chunk(kChunkRecords * kDnsRecordSize);
    for (std::uint32_t first = 0; first < h.recordCount;) {
        const auto n = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(kChunkRecords, h.recordCount - first));
        auto bytes = std::span(chunk).first(std::size_t{n} * kDnsRecordSize);
        if (!ReadAt(image, RecordAt(h, first), bytes, error)) return false;
        for (std::uint32_t k = 0; k < n; ++k) {
            const DnsNameRecord r = DecodeDnsNameRecord(
                bytes.subspan(std::size_t{k} * kDnsRecordSize).template first<kDnsRecordSize>());
            if (!each(first + k, r)) return false;
        }
        first += n;
    }
    return true;
}

}  // namespace


bool OpenDnsHashFile(const std::string& path, DnsHashImage& image, std::string& error) {
    image = DnsHashImage{};
    image.file = ReadOnlyFile(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!image.file.valid()) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(image.file.get(), &st) != 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    image.size = static_cast<std::uint64_t>(st.st_size);
    return CheckHeader(image, error);
}

bool OpenDnsHashBytes(std::span<const std::uint8_t> bytes, DnsHashImage& image,
                      std::string& error) {
    image = DnsHashImage{};
    image.bytes = bytes;
    image.inMemory = true;
    image.size = bytes.size();
    return CheckHeader(image, error);
}

bool HasDnsHashMagic(const std::string& path) {
    const ReadOnlyFile f(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!f.valid()) return false;
    std::array<std::uint8_t, 2> magic{};
    for (std::size_t done = 0; done < magic.size();) {
        const ssize_t n = ::read(f.get(), magic.data() + done, magic.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return magic[0] == 0x72 && magic[1] == 0x74;
}

bool ReadDnsRecord(const DnsHashImage& image, std::uint32_t index, DnsNameRecord& record,
                   std::string& error) {
    if (index >= image.header.recordCount) {
        error = Printf("record %u is outside the %u records", index, image.header.recordCount);
        return false;
    }
    std::array<std::uint8_t, kDnsRecordSize> bytes{};
    if (!ReadAt(image, RecordAt(image.header, index), bytes, error)) return false;
    record = DecodeDnsNameRecord(bytes);
    return CheckRecord(image.header, index, record, error);
}

bool CheckDnsHash(const DnsHashImage& image, DnsHashSummary& summary, std::string& error) {
    const DnsHashHeader& h = image.header;
    summary = DnsHashSummary{};

    // Every record on its own, keeping what the ring walks need.
    std::vector<std::uint32_t> next(h.recordCount), bucketOf(h.recordCount);
    std::uint64_t nameBytes = 0;
    bool ok = ForEachRecord(image, error, [&](std::uint32_t i, const DnsNameRecord& r) {
        if (!CheckRecord(h, i, r, error)) return false;
        const std::uint32_t hash = DnsNameHash(r.Name());
        if (r.hash != hash) {
            error = Printf("record %u holds hash 0x%08x but its name hashes to 0x%08x", i, r.hash,
                           hash);
            return false;
        }
        next[i] = r.next;
        bucketOf[i] = hash % h.bucketCount;
        nameBytes += r.length + 1u;
        return true;
    });
    if (!ok) return false;
    if (nameBytes != h.nameBytes) {
        error = Printf("the header counts %u name bytes but the records hold %llu", h.nameBytes,
                       static_cast<unsigned long long>(nameBytes));
        return false;
    }

    // Every ring: it holds records of its own bucket only and comes back to its head, and
    // no record belongs to two rings. The marks bound every walk by the record count.
    std::vector<bool> seen(h.recordCount, false);
    std::vector<std::uint8_t> words(kChunkWords * 4);
    for (std::uint32_t first = 0; first < h.bucketCount;) {
        const auto n =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(kChunkWords, h.bucketCount - first));
        auto bytes = std::span(words).first(std::size_t{n} * 4);
        if (!ReadAt(image, kDnsTableOffset + std::uint64_t{4} * first, bytes, error)) return false;
        for (std::uint32_t k = 0; k < n; ++k) {
            const std::uint32_t bucket = first + k;
            const std::uint32_t head = Get32(bytes, std::size_t{k} * 4);
            if (!CheckBucketWord(h, bucket, head, error)) return false;
            if (head == kDnsNoRecord) continue;
            ++summary.bucketsUsed;
            std::uint32_t length = 0;
            for (std::uint32_t i = head;; i = next[i]) {
                if (seen[i]) {
                    error = Printf(
                        "the ring of bucket %u does not come back to its head (record "
                        "%u): it runs into record %u again",
                        bucket, head, i);
                    return false;
                }
                if (bucketOf[i] != bucket) {
                    error = Printf("record %u of bucket %u is in the ring of bucket %u", i,
                                   bucketOf[i], bucket);
                    return false;
                }
                seen[i] = true;
                ++length;
                if (next[i] == head) break;
            }
            summary.longestRing = std::max(summary.longestRing, length);
        }
        first += n;
    }
    for (std::uint32_t i = 0; i < h.recordCount; ++i) {
        if (!seen[i]) {
            error = Printf("record %u is in no ring: it cannot be found", i);
            return false;
        }
    }
    return true;
}

namespace {

// Follows the ring of the name's bucket from its head until it comes back to the head;
// visit(index, record) for each record read, stopping (with true) when it returns true.
// False when a word or a record is damaged or the ring does not close.
template <typename Visit>
bool WalkRing(const DnsHashImage& image, std::string_view name, std::uint32_t hash,
              std::uint32_t bucket, std::string& error, Visit visit) {
    const DnsHashHeader& h = image.header;
    std::array<std::uint8_t, 4> word{};
    if (!ReadAt(image, kDnsTableOffset + std::uint64_t{4} * bucket, word, error)) return false;
    const std::uint32_t head = Get32(word, 0);
    if (!CheckBucketWord(h, bucket, head, error)) return false;
    if (head == kDnsNoRecord) return true;
    std::uint32_t walked = 0;
    for (std::uint32_t i = head;;) {
        if (walked++ >= h.recordCount) {
            error = Printf(
                "the ring of bucket %u does not come back to its head (record %u) "
                "within %u records",
                bucket, head, h.recordCount);
            return false;
        }
        DnsNameRecord r;
        if (!ReadDnsRecord(image, i, r, error)) return false;
        if (visit(i, r, r.hash == hash && r.Name() == name)) return true;
        if (r.next == head) return true;
        i = r.next;
    }
}

}  // namespace

bool LookupDnsName(const DnsHashImage& image, std::string_view name, DnsLookupResult& result,
                   std::string& error) {
    result = DnsLookupResult{};
    if (name.empty()) {
        error = "an empty name is never stored";
        return false;
    }
    if (name.size() > kDnsMaxName) name = name.substr(0, kDnsMaxName);
    result.hash = DnsNameHash(name);
    result.bucket = result.hash % image.header.bucketCount;
    return WalkRing(image, name, result.hash, result.bucket, error,
                    [&](std::uint32_t index, const DnsNameRecord& r, bool match) {
                        result.visited.push_back(index);
                        if (!match) return false;
                        result.found = true;
                        result.index = index;
                        result.record = r;
                        return true;
                    });
}

Lookup FindDnsName(const DnsHashImage& image, std::string_view name, std::uint32_t& value,
                   std::string& error) {
    if (name.empty()) return Lookup::kAbsent;
    if (name.size() > kDnsMaxName) name = name.substr(0, kDnsMaxName);
    const std::uint32_t hash = DnsNameHash(name);
    bool found = false;
    const bool read = WalkRing(image, name, hash, hash % image.header.bucketCount, error,
                               [&](std::uint32_t, const DnsNameRecord& r, bool match) {
                                   if (match) {
                                       found = true;
                                       value = r.value;
                                   }
                                   return match;
                               });
    if (!read) return Lookup::kCorrupt;
    return found ? Lookup::kFound : Lookup::kAbsent;
}

bool ForEachDnsRecord(const DnsHashImage& image, std::string& error,
                      const std::function<bool(std::uint32_t, const DnsNameRecord&)>& each) {
    return ForEachRecord(image, error, each);
}

}  // namespace dbread

#include "dbbuild/dns_hash.h"
#include "dbbuild/bytes.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <optional>
#include <vector>

#include "dbbuild/line_reader.h"
#include "resolve/resolvers.h"
#include "resources/dialogs.h"
#include "resources/string_table.h"
#include "settings/file_catalogue.h"
#include "sitelists/site_list.h"
#include "ui/dialog.h"
#include "ui/window.h"
#include "update/transfer_status.h"

namespace dbbuild {
namespace {

constexpr std::size_t kFillBufferSize = 32768;
constexpr int kCreatingString = 3160;  // "Creating DNS resolving database ... \r\nPlease Wait!"
constexpr std::size_t kSiteLineSize = 128;  // lines of site files: at most 127 characters
constexpr std::uint64_t kMinRawRecord = 6;  // length byte, one name byte, the value

DnsHashState g_dns;

// The open build's file mapped shared from offset 0: the bucket table and the records are
// read and written through it, one record at a time as before, without a system call per
// put. The file grows (through the file layer, so that a full disk fails the put that needs
// the room) ahead of the records; DnsHashClose cuts it back to the last record.
struct DnsMapping {
    std::uint8_t* bytes = nullptr;
    std::uint64_t size = 0;
};
DnsMapping g_map;

// The hash and next index of every record written so far, as the file holds them: a ring
// walk compares hashes here and reads a record from the file only when its hash matches,
// which keeps a walk out of the (large) record area.
struct RingCache {
    std::vector<std::uint32_t> hash;
    std::vector<std::uint32_t> next;
};
RingCache g_rings;

void Unmap() {
    if (g_map.bytes) ::munmap(g_map.bytes, g_map.size);
    g_map = DnsMapping{};
    g_rings = RingCache{};
}

bool Map(int fd, std::uint64_t size) {
    void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (p == MAP_FAILED) return false;
    g_map = {static_cast<std::uint8_t*>(p), size};
    return true;
}

bool Inside(std::uint64_t offset, std::uint64_t size) {
    return g_map.bytes != nullptr && offset <= g_map.size && size <= g_map.size - offset;
}


// ---- Low-level calls on the open build's file ----

// Reads and stores within the mapping; false outside it.
bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) {
    if (!Inside(offset, out.size())) return false;
    std::memcpy(out.data(), g_map.bytes + offset, out.size());
    return true;
}

bool StoreAt(std::uint64_t offset, std::span<const std::uint8_t> data) {
    if (!Inside(offset, data.size())) return false;
    std::memcpy(g_map.bytes + offset, data.data(), data.size());
    return true;
}

// Writes through the file layer, whose fault injection tests use.
bool WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) {
    return platform::SeekTo(g_dns.file.get(), static_cast<std::int64_t>(offset)) &&
           platform::WriteAll(g_dns.file.get(), data);
}

bool StoreWordAt(std::uint64_t offset, std::uint32_t value) {
    std::array<std::uint8_t, 4> b{};
    Put32(b, 0, value);
    return StoreAt(offset, b);
}

std::uint64_t BucketWordOffset(std::uint32_t bucket) {
    return kDnsTableOffset + std::uint64_t{4} * bucket;
}
std::uint64_t RecordOffset(std::uint32_t index) {
    return g_dns.header.recordOffset + std::uint64_t{kDnsRecordSize} * index;
}

// Makes the file and the mapping reach `end`, growing them by at least the room of one
// record per bucket (the build sizes its buckets from the names it expects) or by half.
bool EnsureRoom(std::uint64_t end) {
    if (end <= g_map.size) return true;
    const std::uint64_t records = g_map.size - g_dns.header.recordOffset;
    std::uint64_t grown = g_map.size + std::max<std::uint64_t>(
                                           records / 2, std::uint64_t{kDnsRecordSize} *
                                                            std::max<std::uint32_t>(
                                                                g_dns.header.bucketCount, 64));
    grown = std::max(grown, end);
    // The last byte of the new room, written through the file layer, extends the file.
    const std::uint8_t zero[1] = {0};
    if (!WriteAt(grown - 1, zero)) return false;
    void* p = ::mremap(g_map.bytes, g_map.size, grown, MREMAP_MAYMOVE);
    if (p == MAP_FAILED) return false;
    g_map = {static_cast<std::uint8_t*>(p), grown};
    return true;
}

// ---- Raw name lists ----

// A raw name list read through a buffer; reads never go past the file's end.
class RawList {
  public:
    explicit RawList(int handle) : file_(handle) {}

    bool valid() const { return file_.valid(); }
    void Close() { file_.reset(); }

    // Reads the record count; false (and the file closed) when it cannot be read. The count
    // is taken as at most what the file's size can hold.
    bool ReadCount() {
        std::array<std::uint8_t, 4> b{};
        if (!valid() || !Read(b)) {
            Close();
            return false;
        }
        claimed_ = Get32(b, 0);
        std::int64_t size = platform::FileSize(file_.get());
        std::uint64_t room = size > 4 ? (static_cast<std::uint64_t>(size) - 4) / kMinRawRecord : 0;
        sizingCount_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(claimed_, room));
        return true;
    }
    std::uint32_t claimed() const { return claimed_; }
    std::uint32_t sizingCount() const { return sizingCount_; }

    bool Read(std::span<std::uint8_t> out) {
        std::size_t done = 0;
        while (done < out.size()) {
            if (pos_ == end_) {
                long n = platform::ReadSome(file_.get(), buffer_);
                if (n <= 0) return false;
                pos_ = 0;
                end_ = static_cast<std::size_t>(n);
            }
            std::size_t take = std::min(out.size() - done, end_ - pos_);
            std::memcpy(out.data() + done, buffer_.data() + pos_, take);
            pos_ += take;
            done += take;
        }
        return true;
    }

    // Puts every record, up to the count, the first length byte 0 or the end of the file.
    void PutAll() {
        if (!valid()) return;
        std::array<std::uint8_t, 255> name{};
        std::array<std::uint8_t, 4> value{};
        for (std::uint32_t i = 0; i < claimed_; ++i) {
            std::array<std::uint8_t, 1> length{};
            if (!Read(length) || length[0] == 0) return;
            auto bytes = std::span(name).first(length[0]);
            if (!Read(bytes) || !Read(value)) return;
            std::uint32_t word = Get32(value, 0);
            DnsHashPut(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                       &word);
        }
    }

  private:
    platform::FileHandle file_;
    std::vector<std::uint8_t> buffer_ = std::vector<std::uint8_t>(65536);
    std::size_t pos_ = 0, end_ = 0;
    std::uint32_t claimed_ = 0;
    std::uint32_t sizingCount_ = 0;
};

RawList OpenRawList(int fileId) {
    return RawList(settings::OpenCatalogueFile(fileId, settings::kModeReadDenyWrite));
}

// ---- Progress window ----

void OpenProgressWindow() {
    auto& status = update::TransferStatus();
    if (status.window) return;
    const ui::DialogTemplate* tmpl = resources::FindDialogResource("GETFILE");
    ui::HWND window = tmpl ? ui::CreateDialogIndirect(*tmpl, 0, update::TransferStatusProc) : 0;
    if (!window) return;
    status.window = window;
    ui::ShowWindow(window, ui::SW_SHOW);
    ui::ShowWindow(ui::GetDlgItem(window, update::kCancelButtonId), ui::SW_HIDE);
    ui::SetDlgItemText(window, update::kStatusTextId, resources::LoadStr(kCreatingString));
}

// Destroys the progress window, whoever opened it, and forgets its levels and drawing
// objects so that the next user starts afresh.
void CloseProgressWindow() {
    auto& status = update::TransferStatus();
    if (!status.window) return;
    ui::DestroyWindow(status.window);
    update::CloseTransferStatus(1);
    status.window = 0;
}

bool StartsWithWww(std::string_view host) {
    if (host.size() < 4 || host[3] != '.') return false;
    for (std::size_t i = 0; i < 3; ++i)
        if ((host[i] | 0x20) != 'w') return false;
    return true;
}

}  // namespace

// ---- Encoding ----

std::array<std::uint8_t, kDnsHeaderSize> EncodeDnsHashHeader(const DnsHashHeader& h) {
    std::array<std::uint8_t, kDnsHeaderSize> b{};
    Put16(b, 0, h.magic);
    Put16(b, 2, h.recordSize);
    Put32(b, 4, h.tableOffset);
    Put32(b, 8, h.bucketCount);
    Put32(b, 12, h.recordOffset);
    Put32(b, 16, h.nameBytes);
    Put32(b, 20, h.recordCount);
    return b;
}

DnsHashHeader DecodeDnsHashHeader(std::span<const std::uint8_t, kDnsHeaderSize> b) {
    DnsHashHeader h;
    h.magic = Get16(b, 0);
    h.recordSize = Get16(b, 2);
    h.tableOffset = Get32(b, 4);
    h.bucketCount = Get32(b, 8);
    h.recordOffset = Get32(b, 12);
    h.nameBytes = Get32(b, 16);
    h.recordCount = Get32(b, 20);
    return h;
}

std::array<std::uint8_t, kDnsRecordSize> EncodeDnsNameRecord(const DnsNameRecord& r) {
    std::array<std::uint8_t, kDnsRecordSize> b{};
    Put32(b, 0, r.next);
    Put32(b, 4, r.hash);
    Put32(b, 8, r.value);
    b[12] = r.length;
    std::copy(r.name.begin(), r.name.end(), b.begin() + 13);
    return b;
}

DnsNameRecord DecodeDnsNameRecord(std::span<const std::uint8_t, kDnsRecordSize> b) {
    DnsNameRecord r;
    r.next = Get32(b, 0);
    r.hash = Get32(b, 4);
    r.value = Get32(b, 8);
    r.length = b[12];
    std::copy(b.begin() + 13, b.end(), r.name.begin());
    return r;
}

std::uint32_t DnsNameHash(std::string_view name) {
    std::uint32_t h = 0;
    for (char c : name) {
        const auto signedByte = static_cast<std::int32_t>(static_cast<std::int8_t>(c));
        h = ((h << 5) | (h >> 27)) + static_cast<std::uint32_t>(signedByte);
    }
    return h;
}

std::uint32_t NextPrime(std::uint32_t n) {
    for (std::uint64_t candidate = std::max<std::uint32_t>(n, 2); candidate <= 0xFFFFFFFFu;
         ++candidate) {
        bool prime = true;
        for (std::uint64_t d = 2; d * d <= candidate; ++d) {
            if (candidate % d == 0) {
                prime = false;
                break;
            }
        }
        if (prime) return static_cast<std::uint32_t>(candidate);
    }
    return 0;
}

// ---- The open build ----

DnsHashState& DnsHash() {
    return g_dns;
}

void ResetDnsHash() {
    Unmap();
    g_dns = DnsHashState{};
}

int DnsHashCreate(const std::string& path, std::uint32_t bucketCount) {
    ResetDnsHash();
    if (bucketCount < kDnsMinBuckets || bucketCount > kDnsMaxBuckets) return 0;
    platform::FileHandle file(
        platform::OpenFileMode(path, platform::kOfCreate | platform::kOfReadWrite));
    if (!file.valid()) return 0;

    DnsHashHeader header;
    header.bucketCount = bucketCount;
    header.recordOffset = static_cast<std::uint32_t>(DnsRecordAreaOffset(bucketCount));
    if (!platform::WriteAll(file.get(), EncodeDnsHashHeader(header))) return 0;

    // Bytes 24..511 stay zero; the bucket table and the filler up to R are 0xFF.
    if (!platform::SeekTo(file.get(), kDnsTableOffset)) return 0;
    std::vector<std::uint8_t> fill(kFillBufferSize, 0xFF);
    std::uint64_t left = header.recordOffset - kDnsTableOffset;
    while (left > 0) {
        std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(left, fill.size()));
        if (!platform::WriteAll(file.get(), std::span(fill).first(piece))) return 0;
        left -= piece;
    }
    if (!Map(file.get(), header.recordOffset)) return 0;
    try {
        g_rings.hash.reserve(bucketCount);
        g_rings.next.reserve(bucketCount);
    } catch (const std::bad_alloc&) {
        Unmap();
        return 0;
    }
    g_dns.file = std::move(file);
    g_dns.header = header;
    g_dns.open = true;
    return 1;
}

int DnsHashPut(std::string_view name, std::uint32_t* value) {
    if (!g_dns.open || name.empty()) return 0;
    if (name.size() > kDnsMaxName) name = name.substr(0, kDnsMaxName);
    DnsHashHeader& header = g_dns.header;
    if (header.recordCount >= kDnsMaxRecords) return 0;

    const std::uint32_t hash = DnsNameHash(name);
    const std::uint32_t bucket = hash % header.bucketCount;
    std::array<std::uint8_t, 4> word{};
    if (!ReadAt(BucketWordOffset(bucket), word)) return 0;
    const std::uint32_t head = Get32(word, 0);
    const std::uint32_t n = header.recordCount;

    DnsNameRecord record;
    record.hash = hash;
    record.value = value ? *value : 0;
    record.length = static_cast<std::uint8_t>(name.size());
    std::memcpy(record.name.data(), name.data(), name.size());

    // Where the new record gets linked: the bucket word, or the next field of the ring's last.
    std::uint64_t linkOffset = BucketWordOffset(bucket);
    std::uint32_t last = kDnsNoRecord;
    if (head == kDnsNoRecord) {
        record.next = n;
    } else {
        std::uint32_t index = head;
        for (std::uint32_t steps = 0;; ++steps) {
            if (index >= n || steps >= n || index >= g_rings.hash.size()) return 0;  // damaged
            if (g_rings.hash[index] == hash) {
                std::array<std::uint8_t, kDnsRecordSize> bytes{};
                if (!ReadAt(RecordOffset(index), bytes)) return 0;
                const DnsNameRecord other = DecodeDnsNameRecord(bytes);
                if (other.hash == hash && other.length == name.size() &&
                    std::memcmp(other.name.data(), name.data(), name.size()) == 0) {
                    if (value) *value = other.value;
                    return -static_cast<int>(index + 1);
                }
            }
            if (g_rings.next[index] == head) break;
            index = g_rings.next[index];
        }
        record.next = head;
        last = index;
        linkOffset = RecordOffset(index);
    }

    // The record first, then the link to it: a failure leaves nothing that points at it.
    try {
        g_rings.hash.push_back(hash);
        g_rings.next.push_back(record.next);
    } catch (const std::bad_alloc&) {
        g_rings.hash.resize(n);
        g_rings.next.resize(n);
        return 0;
    }
    if (!EnsureRoom(RecordOffset(n) + kDnsRecordSize) ||
        !StoreAt(RecordOffset(n), EncodeDnsNameRecord(record)) || !StoreWordAt(linkOffset, n)) {
        g_rings.hash.pop_back();
        g_rings.next.pop_back();
        return 0;
    }
    if (last != kDnsNoRecord) g_rings.next[last] = n;
    header.recordCount = n + 1;
    header.nameBytes += static_cast<std::uint32_t>(name.size() + 1);
    return static_cast<int>(n + 1);
}

int DnsHashClose() {
    if (!g_dns.open) return 0;
    const DnsHashHeader header = g_dns.header;
    const int fd = g_dns.file.get();
    const auto end = static_cast<off_t>(RecordOffset(header.recordCount));
    Unmap();
    bool ok = WriteAt(0, EncodeDnsHashHeader(header));
    ok = ok && ::ftruncate(fd, end) == 0;  // drops what a failed last put left behind
    ok = ok && platform::FlushFile(fd);
    ResetDnsHash();
    return ok ? 1 : 0;
}

// ---- Sites ----

void HashSite(std::string_view siteText) {
    resolve::AddressList list{};
    if (!resolve::LookupOrResolve(siteText, list)) return;
    std::string host, path;
    resolve::SplitUrl(siteText, host, path);
    std::string_view name = host;
    if (StartsWithWww(name)) name.remove_prefix(4);
    for (std::uint32_t address : list) {
        if (address == 0) continue;
        std::uint32_t value = address;
        DnsHashPut(name, &value);
    }
}

void HashSiteBlock(std::size_t namesOffset, int count, std::size_t slotSize) {
    if (slotSize == 0) return;
    auto image = sitelists::SiteListImage();
    for (int i = 0; i < count; ++i) {
        const std::size_t slot = namesOffset + static_cast<std::size_t>(i) * slotSize;
        if (slot > image.size() || slotSize > image.size() - slot) return;
        const char* bytes = reinterpret_cast<const char*>(image.data() + slot);
        std::string text(bytes, strnlen(bytes, slotSize));
        if (text.empty()) return;

        std::string file = text;
        if (settings::ResolveFilePath(file)) {
            const int lines = OpenLineFile(file);
            if (lines == 0) continue;
            std::string line;
            while (ReadLine(lines, line, kSiteLineSize) > 0) HashSite(line);
            CloseLineFile(lines);
            continue;
        }
        resolve::StripScheme(text);
        if (text.size() > slotSize - 1) text.resize(slotSize - 1);
        std::transform(text.begin(), text.end(), text.begin(),
                       [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
        HashSite(text);
    }
}

// ---- The build ----

int BuildDnsHash(const std::string& path) {
    RawList rawNot = OpenRawList(settings::kFileDnsRawNot);
    RawList rawYes = OpenRawList(settings::kFileDnsRawYes);
    // Read only after a None database, and this build always follows VeldaYES.BIN: they
    // are held (denying writers) for the build and closed unread.
    RawList ipRawNot = OpenRawList(settings::kFileIpDnsRawNot);
    RawList ipRawYes = OpenRawList(settings::kFileIpDnsRawYes);
    OpenProgressWindow();

    std::uint64_t total = 0;
    for (RawList* raw : {&rawNot, &rawYes})
        if (raw->ReadCount()) total += raw->sizingCount();
    total = std::min<std::uint64_t>(total, kDnsMaxRawNames);

    int result = 0;
    if (DnsHashCreate(path, NextPrime(static_cast<std::uint32_t>(total) + kDnsSiteSlots))) {
        using namespace sitelists;
        for (std::size_t names :
             {kApprovedNames1, kApprovedNames2, kRestrictedNames1, kRestrictedNames2})
            HashSiteBlock(names, kSlotsPerBlock, kSlotSize);
        rawNot.PutAll();
        rawYes.PutAll();
        result = DnsHashClose();
    }
    for (RawList* raw : {&rawNot, &rawYes, &ipRawNot, &ipRawYes}) raw->Close();
    CloseProgressWindow();
    return result;
}

}  // namespace dbbuild

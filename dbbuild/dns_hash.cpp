#include "dbbuild/dns_hash.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <stop_token>
#include <system_error>
#include <thread>
#include <vector>

#include "dbread/bytes.h"
#include "platform/files.h"
#include "platform/process_state.h"
#include "resources/string_table.h"
#include "settings/file_catalogue.h"
#include "sitelists/site_entries.h"
#include "ui/progress.h"

namespace dbbuild {
namespace {

constexpr int kCreatingString = 3160;  // "Creating DNS resolving database ... \r\nPlease Wait!"
constexpr std::uint64_t kMinRawRecord = 6;  // length byte, one name byte, the value

DnsHashState g_dns;

// ---- Tables in memory ----

// A record's link in its bucket's ring.
struct RingLink {
    std::uint32_t hash, next;  // side by side: a ring step reads both
};
// Bytes readable after the arena's last name: a record's name field is made from a 64-byte
// load and a mask.
constexpr std::size_t kArenaSlack = 64;

// Name bytes end to end, appended without the per-call work of a vector insert.
class NameArena {
  public:
    std::size_t size() const { return size_; }
    const char* data() const { return bytes_.get(); }
    // Room for `more` bytes; throws std::bad_alloc when it cannot be had.
    void Reserve(std::size_t more) {
        if (capacity_ - size_ >= more) return;
        const std::size_t capacity = std::max(capacity_ * 2, size_ + more);
        auto bigger = std::make_unique_for_overwrite<char[]>(capacity + kArenaSlack);
        if (size_ != 0) std::memcpy(bigger.get(), bytes_.get(), size_);
        bytes_ = std::move(bigger);
        capacity_ = capacity;
    }
    // After Reserve(name.size()).
    void Append(std::string_view name) {
        std::memcpy(bytes_.get() + size_, name.data(), name.size());
        size_ += name.size();
    }

  private:
    std::unique_ptr<char[]> bytes_;
    std::size_t size_ = 0, capacity_ = 0;
};

// Makes room for `more` elements, growing the capacity by doubling.
template <typename T>
void Reserve(std::vector<T>& v, std::size_t more) {
    if (v.capacity() - v.size() < more) v.reserve(std::max(v.capacity() * 2, v.size() + more));
}

// The rings of a table of names as DNSHASH.DAT lays them out, held in memory: the bucket
// heads and every record's hash and next index, in insertion order. A put walks its ring in
// these compact arrays; in the file, the ring's last record (whose next field the put
// changes) lies anywhere in a record area of up to hundreds of megabytes. The tables built
// on it keep the rest of each record in their own way; `same(index)` tells whether a record
// whose hash matches holds the name looked for.
struct Rings {
    std::vector<std::uint32_t> heads;  // per bucket: its first record, or kDnsNoRecord
    std::vector<RingLink> links;
    std::uint64_t modMagic = 0;  // 2^64 / bucket count, rounded up

    // Empty rings of `buckets` buckets with room for `expected` records; false when the
    // bucket heads cannot be had.
    bool Start(std::uint32_t buckets, std::size_t expected) {
        modMagic = ~std::uint64_t{0} / buckets + 1;
        try {
            heads.assign(buckets, kDnsNoRecord);
        } catch (const std::bad_alloc&) {
            return false;
        }
        // Reserved memory that is never written costs nothing; growing would copy.
        try {
            links.reserve(expected);
        } catch (const std::bad_alloc&) {
        }
        return true;
    }

    std::uint32_t count() const { return static_cast<std::uint32_t>(links.size()); }
    // hash mod the bucket count, by a multiplication instead of a division.
    std::uint32_t Bucket(std::uint32_t hash) const {
        const std::uint64_t low = modMagic * hash;
        return static_cast<std::uint32_t>((static_cast<unsigned __int128>(low) * heads.size()) >>
                                          64);
    }

    // Follows the ring that starts at `head` and stops at the record holding the name
    // (found) or at its last record. False when the ring does not close within the record
    // count.
    template <typename Same>
    bool Walk(std::uint32_t head, std::uint32_t hash, const Same& same, std::uint32_t& at,
              bool& found) const {
        const std::uint32_t n = count();
        std::uint32_t index = head;
        for (std::uint32_t steps = 0;; ++steps) {
            if (index >= n || steps >= n) return false;
            if (links[index].hash == hash && same(index)) {
                found = true;
                at = index;
                return true;
            }
            const std::uint32_t next = links[index].next;
            if (next == head) break;
            index = next;
        }
        found = false;
        at = index;
        return true;
    }

    // The record holding the name, or kDnsNoRecord.
    template <typename Same>
    std::uint32_t Find(std::uint32_t hash, const Same& same) const {
        const std::uint32_t head = heads[Bucket(hash)];
        std::uint32_t at = 0;
        bool found = false;
        if (head == kDnsNoRecord || !Walk(head, hash, same, at, found) || !found)
            return kDnsNoRecord;
        return at;
    }

    // The last record of the ring that starts at `head`.
    std::uint32_t RingLast(std::uint32_t head) const {
        std::uint32_t index = head;
        for (std::uint32_t steps = 0; steps < count() && links[index].next != head; ++steps)
            index = links[index].next;
        return index;
    }

    // Where a new record for the name goes: 1 with its bucket and the ring's last record
    // (kDnsNoRecord for an empty bucket); -(index + 1) when a record holds the name; 0 for
    // a ring that does not close or a table that is full.
    template <typename Same>
    int Place(std::uint32_t hash, const Same& same, std::uint32_t& bucket,
              std::uint32_t& last) const {
        if (count() >= kDnsMaxRecords) return 0;
        bucket = Bucket(hash);
        last = kDnsNoRecord;
        const std::uint32_t head = heads[bucket];
        if (head == kDnsNoRecord) return 1;
        bool found = false;
        if (!Walk(head, hash, same, last, found)) return 0;
        return found ? -static_cast<int>(last + 1) : 1;
    }
    // Links the record that Place made room for, once its room is had.
    void Link(std::uint32_t bucket, std::uint32_t last, std::uint32_t hash) {
        const std::uint32_t n = count();
        if (last == kDnsNoRecord) {
            links.push_back({hash, n});
            heads[bucket] = n;
        } else {
            links.push_back({hash, heads[bucket]});
            links[last].next = n;
        }
    }
};

// The table of names that DnsHashPut fills: rings, and each record's value and name.
struct DnsTable : Rings {
    std::vector<std::uint32_t> value, nameAt;
    std::vector<std::uint8_t> length;
    NameArena names;              // every record's name bytes, at nameAt
    std::uint32_t nameBytes = 0;  // the sum of length + 1, as the header holds it

    bool Start(std::uint32_t buckets, std::size_t expected) {
        if (!Rings::Start(buckets, expected)) return false;
        try {
            value.reserve(expected);
            nameAt.reserve(expected);
            length.reserve(expected);
            names.Reserve(expected * kDnsMaxName);
        } catch (const std::bad_alloc&) {
        }
        return true;
    }

    std::string_view Name(std::uint32_t index) const {
        return {names.data() + nameAt[index], length[index]};
    }

    // Inserts `name` (at most 63 bytes, hashing to `hash`) with *value, as DnsHashPut does.
    int Put(std::string_view name, std::uint32_t hash, std::uint32_t* valueInOut) {
        auto same = [&](std::uint32_t i) {
            return length[i] == name.size() &&
                   std::memcmp(names.data() + nameAt[i], name.data(), name.size()) == 0;
        };
        std::uint32_t bucket = 0, last = 0;
        const int place = Place(hash, same, bucket, last);
        if (place < 0 && valueInOut) *valueInOut = value[static_cast<std::uint32_t>(-place) - 1];
        if (place <= 0) return place;

        // Room first, so that a put that cannot get it keeps nothing of its name.
        if (names.size() > 0xFFFFFFFFu - name.size()) return 0;
        try {
            Reserve(links, 1);
            Reserve(value, 1);
            Reserve(nameAt, 1);
            Reserve(length, 1);
            names.Reserve(name.size());
        } catch (const std::bad_alloc&) {
            return 0;
        }
        const std::uint32_t n = count();
        Link(bucket, last, hash);
        value.push_back(valueInOut ? *valueInOut : 0);
        nameAt.push_back(static_cast<std::uint32_t>(names.size()));
        length.push_back(static_cast<std::uint8_t>(name.size()));
        names.Append(name);
        nameBytes += static_cast<std::uint32_t>(name.size() + 1);
        return static_cast<int>(n + 1);
    }
};

// The open build's table: the administrator's sites, and the raw names when they were not
// read on a helper thread.
DnsTable g_table;

// A raw list record as it lies in its file: length byte, name, value.
constexpr std::size_t kRawRecordMax = 1 + 255 + 4;
// Bytes readable after a raw record read into memory, for the 64-byte name load.
constexpr std::size_t kRawSlack = 64;

// The raw names read on a helper thread: rings, and where each record lies in DNSRAW.NOT
// (records before firstYes) or DNSRAW.YES. Names and values are read from the lists again
// when they are needed, which spares a copy of every name; the lists are held (denying
// writers) until the file is written.
struct RawTable : Rings {
    std::vector<std::uint32_t> at;  // offset of the record's length byte in its list
    std::array<int, 2> files{-1, -1};
    std::uint32_t firstYes = 0xFFFFFFFF;  // all in DNSRAW.NOT until DNSRAW.YES begins
    std::uint32_t nameBytes = 0;          // the sum of length + 1, as the header holds it
    std::uint64_t nameChars = 0;          // the sum of length
    bool unreadable = false;              // a record could not be read again

    int File(std::uint32_t index) const { return files[index < firstYes ? 0 : 1]; }

    // The name of a record (its first 63 bytes), read into `buffer`; false when its list no
    // longer holds it.
    bool ReadName(std::uint32_t index, std::array<char, 1 + kDnsMaxName>& buffer,
                  std::string_view& name) const {
        const ssize_t got = ::pread(File(index), buffer.data(), buffer.size(), at[index]);
        if (got < 1) return false;
        const std::size_t n =
            std::min<std::size_t>(static_cast<std::uint8_t>(buffer[0]), kDnsMaxName);
        if (static_cast<std::size_t>(got) < 1 + n) return false;
        name = {buffer.data() + 1, n};
        return true;
    }
    // Whether a record holds `name`; a record that cannot be read holds none, and marks the
    // table unreadable.
    bool Holds(std::uint32_t index, std::string_view name) {
        std::array<char, 1 + kDnsMaxName> buffer;
        std::string_view held;
        if (!ReadName(index, buffer, held)) {
            unreadable = true;
            return false;
        }
        return held == name;
    }

    // Inserts a name (at most 63 bytes, hashing to `hash`) whose record lies at `offset`;
    // 0 when it could not go in.
    int Put(std::string_view name, std::uint32_t hash, std::uint32_t offset) {
        auto same = [&](std::uint32_t i) { return Holds(i, name); };
        std::uint32_t bucket = 0, last = 0;
        const int place = Place(hash, same, bucket, last);
        if (place <= 0 || unreadable) return unreadable ? 0 : place;
        try {
            Reserve(links, 1);
            Reserve(at, 1);
        } catch (const std::bad_alloc&) {
            return 0;
        }
        const std::uint32_t n = count();
        Link(bucket, last, hash);
        at.push_back(offset);
        nameBytes += static_cast<std::uint32_t>(name.size() + 1);
        nameChars += name.size();
        return static_cast<int>(n + 1);
    }
};

// How the raw names' table follows g_table's records in the file. Its records keep raw
// indices in their next fields, except the last record of a ring that goes on into g_table,
// whose next field holds that file index with kFileIndexFlag.
struct RawPart {
    RawTable table;
    bool present = false;
    std::uint32_t first = 0;             // the file index of the first raw record kept
    std::vector<std::uint32_t> dropped;  // raw records whose names g_table holds, sorted

    // The file index of a raw record that is kept.
    std::uint32_t FileIndex(std::uint32_t raw) const {
        if (dropped.empty()) return first + raw;
        const auto before = std::lower_bound(dropped.begin(), dropped.end(), raw) - dropped.begin();
        return first + raw - static_cast<std::uint32_t>(before);
    }
};
constexpr std::uint32_t kFileIndexFlag = 0x80000000u;  // above every record index
RawPart g_raw;

// ---- Writing the file ----

// Writes a stretch of the file from `offset` on through the file layer (whose fault
// injection tests use), a buffer at a time.
class SequentialWriter {
  public:
    SequentialWriter(int fd, std::int64_t offset)
        : fd_(fd), buffer_(kWriteBufferSize), written_(offset), writeback_(offset) {}

    // Room for `n` bytes (at most the buffer's size), written in place by the caller.
    std::uint8_t* Take(std::size_t n) {
        if (used_ + n > buffer_.size()) Flush();
        std::uint8_t* at = buffer_.data() + used_;
        used_ += n;
        return at;
    }
    void Put(std::span<const std::uint8_t> bytes) {
        while (!bytes.empty()) {
            const std::size_t take = std::min(bytes.size(), Room());
            std::memcpy(Take(take), bytes.data(), take);
            bytes = bytes.subspan(take);
        }
    }
    void Fill(std::uint64_t count, std::uint8_t byte) {
        while (count > 0) {
            const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(count, Room()));
            std::memset(Take(take), byte, take);
            count -= take;
        }
    }
    bool Finish() {
        Flush();
        return ok_;
    }

  private:
    static constexpr std::size_t kWriteBufferSize = 1 << 20;
    // Free room in the buffer, after writing a full one out.
    std::size_t Room() {
        if (used_ == buffer_.size()) Flush();
        return buffer_.size() - used_;
    }
    void Flush() {
        if (ok_ && used_ != 0)
            ok_ = platform::WriteAllAt(fd_, written_, std::span(buffer_).first(used_));
        written_ += static_cast<std::int64_t>(used_);
        used_ = 0;
        // The disk starts on what is written while the rest is made: the flush at the end
        // then waits for little more than the last piece.
        if (written_ - writeback_ >= kWritebackStep) {
            platform::StartWriteback(fd_, writeback_, written_ - writeback_);
            writeback_ = written_;
        }
    }
    static constexpr std::int64_t kWritebackStep = 2 << 20;
    int fd_;
    bool ok_ = true;
    std::vector<std::uint8_t> buffer_;
    std::size_t used_ = 0;
    std::int64_t written_, writeback_;
};

// Masks that keep the first n bytes of 64, for a record's name field (63 bytes, zeros
// after the name).
struct NameMasks {
    std::array<std::array<std::uint64_t, 8>, kDnsMaxName + 1> mask{};
    constexpr NameMasks() {
        for (std::size_t n = 0; n <= kDnsMaxName; ++n)
            for (std::size_t b = 0; b < n; ++b)
                mask[n][b / 8] |= std::uint64_t{0xFF} << (8 * (b % 8));
    }
};
constexpr NameMasks kNameMasks;

// One record's 76 bytes; `name` has 64 readable bytes, of which the first n are the name.
void PutRecord(SequentialWriter& out, std::uint32_t next, std::uint32_t hash, std::uint32_t value,
               std::uint8_t n, const void* name) {
    std::uint8_t* r = out.Take(kDnsRecordSize);
    std::array<std::uint64_t, 8> field;
    std::memcpy(field.data(), name, sizeof field);
    for (std::size_t w = 0; w < 8; ++w) field[w] &= kNameMasks.mask[n][w];
    const std::array<std::uint32_t, 3> words = {next, hash, value};
    std::memcpy(r, words.data(), 12);
    r[12] = n;
    std::memcpy(r + 13, field.data(), kDnsMaxName);
}

// Raw records read again from their lists, in the order of the file: a window of the list
// at a time.
class RawRecordReader {
  public:
    explicit RawRecordReader(const RawTable& table)
        : table_(table), window_(kWindow + kRawRecordMax + kRawSlack, 0) {}

    // The record of raw index `index`: its length byte, name and value, with kRawSlack
    // readable bytes after it. Null when its list does not hold it whole.
    const std::uint8_t* Record(std::uint32_t index) {
        const int file = table_.File(index);
        const std::uint64_t offset = table_.at[index];
        if (file != file_ || offset < start_ || offset + 1 > start_ + size_) Fill(file, offset);
        if (offset + 1 > start_ + size_) return nullptr;
        const std::uint8_t* record = window_.data() + (offset - start_);
        if (offset + 1 + record[0] + 4 > start_ + size_) {
            Fill(file, offset);
            record = window_.data();
            if (std::size_t{1} + record[0] + 4 > size_) return nullptr;
        }
        return record;
    }

  private:
    static constexpr std::size_t kWindow = 1 << 20;
    void Fill(int file, std::uint64_t offset) {
        file_ = file;
        start_ = offset;
        size_ = 0;
        while (size_ < kWindow + kRawRecordMax) {
            const ssize_t got =
                ::pread(file, window_.data() + size_, kWindow + kRawRecordMax - size_,
                        static_cast<off_t>(offset + size_));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            size_ += static_cast<std::size_t>(got);
        }
    }

    const RawTable& table_;
    std::vector<std::uint8_t> window_;
    int file_ = -1;
    std::uint64_t start_ = 0;
    std::size_t size_ = 0;
};

// The records of a stretch of the file: g_table's [from, to), or with `raw` g_raw's kept
// records among [from, to).
struct RecordStretch {
    bool raw = false;
    std::uint32_t from = 0, to = 0;
};

// False when a raw record could not be read again.
bool PutRecords(SequentialWriter& out, const RecordStretch& stretch) {
    if (!stretch.raw) {
        const DnsTable& t = g_table;
        for (std::uint32_t i = stretch.from; i < stretch.to; ++i)
            PutRecord(out, t.links[i].next, t.links[i].hash, t.value[i], t.length[i],
                      t.names.data() + t.nameAt[i]);
        return true;
    }
    const RawTable& table = g_raw.table;
    RawRecordReader reader(table);
    const std::vector<std::uint32_t>& dropped = g_raw.dropped;
    auto d = std::lower_bound(dropped.begin(), dropped.end(), stretch.from);
    for (std::uint32_t i = stretch.from; i < stretch.to; ++i) {
        if (d != dropped.end() && *d == i) {
            ++d;
            continue;
        }
        const std::uint8_t* record = reader.Record(i);
        if (!record) return false;
        const std::uint32_t next = table.links[i].next;
        PutRecord(out, (next & kFileIndexFlag) ? next & ~kFileIndexFlag : g_raw.FileIndex(next),
                  table.links[i].hash, dbread::Get32(std::span(record + 1 + record[0], 4), 0),
                  std::min<std::uint8_t>(record[0], kDnsMaxName), record + 1);
    }
    return true;
}

// Writes the whole file: header, bucket table, filler, g_table's records and then the raw
// records kept. With many records the last part of them is written on a helper thread
// meanwhile, to its place in the file.
bool WriteTable(int fd, const DnsHashHeader& header) {
    constexpr std::uint32_t kSplitAt = 1u << 16;  // fewer records take one thread
    std::vector<RecordStretch> mine = {{false, 0, g_table.count()}};
    RecordStretch theirs;
    // This thread also writes the bucket table, which takes about as long as a record for
    // every six buckets.
    const std::uint64_t tableShare = header.bucketCount / 6;
    // Where the helper's part of `records` begins, with `before` records ahead of them here.
    auto split = [&](std::uint64_t records, std::uint64_t before) {
        const std::uint64_t ahead = tableShare + before;
        return static_cast<std::uint32_t>(records > ahead ? (records - ahead) / 2 : 0);
    };
    if (g_raw.present) {
        const std::uint32_t at = split(g_raw.table.count(), g_table.count());
        mine.push_back({true, 0, at});
        theirs = {true, at, g_raw.table.count()};
    } else {
        mine[0].to = split(g_table.count(), 0);
        theirs = {false, mine[0].to, g_table.count()};
    }
    bool theirsOk = true;
    std::jthread helper;
    if (theirs.to - theirs.from >= kSplitAt) {
        const std::uint32_t first = theirs.raw ? g_raw.FileIndex(theirs.from) : theirs.from;
        try {
            helper = std::jthread([&theirsOk, &header, theirs, first, fd] {
                SequentialWriter out(fd,
                                     header.recordOffset + std::int64_t{kDnsRecordSize} * first);
                const bool read = PutRecords(out, theirs);
                theirsOk = out.Finish() && read;
            });
        } catch (const std::system_error&) {
        }
    }
    if (!helper.joinable()) mine.push_back(theirs);

    SequentialWriter out(fd, 0);
    out.Put(EncodeDnsHashHeader(header));
    out.Fill(kDnsTableOffset - kDnsHeaderSize, 0);
    // A bucket's head is its first site record, else its first raw record kept.
    constexpr std::uint32_t kHeadsPerTake = 1u << 16;
    for (std::uint32_t b = 0; b < header.bucketCount; b += kHeadsPerTake) {
        const std::uint32_t n = std::min(kHeadsPerTake, header.bucketCount - b);
        std::uint8_t* to = out.Take(4 * std::size_t{n});
        for (std::uint32_t i = 0; i < n; ++i) {
            std::uint32_t head = g_table.heads[b + i];
            if (head == kDnsNoRecord && g_raw.present) {
                const std::uint32_t raw = g_raw.table.heads[b + i];
                if (raw != kDnsNoRecord) head = g_raw.FileIndex(raw);
            }
            std::memcpy(to + 4 * std::size_t{i}, &head, 4);
        }
    }
    out.Fill(header.recordOffset - kDnsTableOffset - 4 * std::uint64_t{header.bucketCount}, 0xFF);
    bool read = true;
    for (const RecordStretch& stretch : mine) read = read && PutRecords(out, stretch);
    const bool ok = out.Finish() && read;
    if (helper.joinable()) helper.join();
    return ok && theirsOk;
}

// ---- Putting the raw names behind the sites ----

// Sets g_raw up to follow g_table's records in the file, and the header to count both, as
// if every raw name had been put into g_table after the sites: a raw name that a site
// holds already is dropped, and the rings of a bucket that both tables use are joined,
// sites first. False, with both tables unchanged, when g_table could not have taken every
// raw name (too many records or name bytes).
bool MergeRawPart(DnsHashHeader& header) {
    RawTable& raw = g_raw.table;
    const std::uint32_t sites = g_table.count();
    std::vector<std::uint32_t> dropped;
    std::uint64_t droppedNames = 0;
    std::uint32_t droppedBytes = 0;
    for (std::uint32_t k = 0; k < sites; ++k) {
        const std::string_view name = g_table.Name(k);
        const std::uint32_t at =
            raw.Find(g_table.links[k].hash, [&](std::uint32_t i) { return raw.Holds(i, name); });
        if (at == kDnsNoRecord) continue;
        dropped.push_back(at);
        droppedNames += name.size();
        droppedBytes += static_cast<std::uint32_t>(name.size() + 1);
    }
    const std::uint64_t records = std::uint64_t{sites} + raw.count() - dropped.size();
    const std::uint64_t nameArena = g_table.names.size() + raw.nameChars - droppedNames;
    if (raw.unreadable || records > kDnsMaxRecords || nameArena > 0xFFFFFFFFu) return false;
    std::sort(dropped.begin(), dropped.end());

    // The dropped records leave their rings.
    for (std::uint32_t r : dropped) {
        const std::uint32_t bucket = raw.Bucket(raw.links[r].hash);
        const std::uint32_t next = raw.links[r].next;
        if (next == r) {
            raw.heads[bucket] = kDnsNoRecord;
            continue;
        }
        const std::uint32_t before = raw.RingLast(r);  // the record whose next is r
        raw.links[before].next = next;
        if (raw.heads[bucket] == r) raw.heads[bucket] = next;
    }
    g_raw.dropped = std::move(dropped);
    g_raw.first = sites;
    g_raw.present = true;

    // A bucket's site ring goes on into its raw ring, whose last record leads back.
    for (std::uint32_t k = 0; k < sites; ++k) {
        const std::uint32_t bucket = g_table.Bucket(g_table.links[k].hash);
        const std::uint32_t rawHead = raw.heads[bucket];
        if (g_table.heads[bucket] != k || rawHead == kDnsNoRecord) continue;
        g_table.links[g_table.RingLast(k)].next = g_raw.FileIndex(rawHead);
        raw.links[raw.RingLast(rawHead)].next = kFileIndexFlag | k;
    }
    header.recordCount = static_cast<std::uint32_t>(records);
    header.nameBytes = g_table.nameBytes + raw.nameBytes - droppedBytes;
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
        claimed_ = dbread::Get32(b, 0);
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
                bufferAt_ += end_;
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

    // Reads the list again from its start, as ReadCount left it.
    bool Rewind() {
        pos_ = end_ = 0;
        bufferAt_ = 0;
        return valid() && platform::SeekTo(file_.get(), 0) && ReadCount();
    }

    int fd() const { return file_.get(); }
    std::int64_t size() const { return platform::FileSize(file_.get()); }

    // Hands every record to put(name, value, offset of its length byte), up to the count,
    // the first length byte 0, the end of the file, or a put that returns false (then
    // false).
    template <typename PutName>
    bool PutAll(PutName&& put) {
        if (!valid()) return true;
        std::array<std::uint8_t, 255> name{};
        std::array<std::uint8_t, 4> value{};
        for (std::uint32_t i = 0; i < claimed_; ++i) {
            const std::uint64_t offset = bufferAt_ + pos_;
            // A record that lies whole in the buffer is read where it is.
            if (end_ - pos_ >= 1 + name.size() + value.size()) {
                const std::uint8_t* at = buffer_.data() + pos_;
                const std::size_t n = at[0];
                if (n == 0) return true;
                pos_ += 1 + n + 4;
                if (!put(std::string_view(reinterpret_cast<const char*>(at + 1), n),
                         dbread::Get32(std::span(at + 1 + n, 4), 0), offset))
                    return false;
                continue;
            }
            std::array<std::uint8_t, 1> length{};
            if (!Read(length) || length[0] == 0) return true;
            auto bytes = std::span(name).first(length[0]);
            if (!Read(bytes) || !Read(value)) return true;
            if (!put(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                     dbread::Get32(value, 0), offset))
                return false;
        }
        return true;
    }

  private:
    platform::FileHandle file_;
    std::vector<std::uint8_t> buffer_ = std::vector<std::uint8_t>(1 << 18);
    std::size_t pos_ = 0, end_ = 0;
    std::uint64_t bufferAt_ = 0;  // the file offset of buffer_[0]
    std::uint32_t claimed_ = 0;
    std::uint32_t sizingCount_ = 0;
};

RawList OpenRawList(int fileId) {
    return RawList(settings::OpenCatalogueFile(fileId, settings::kModeReadDenyWrite));
}

// DNSRAW.NOT and DNSRAW.YES read on a helper thread into a table of their own, while the
// caller's thread goes on (a rebuild with its four databases, then the sites); BuildDnsHash
// puts that table behind the sites' records. The lists are opened on the caller's thread.
struct RawNamePass {
    std::array<RawList, 2> lists{OpenRawList(settings::kFileDnsRawNot),
                                 OpenRawList(settings::kFileDnsRawYes)};
    std::uint32_t bucketCount = 0;
    RawTable table;
    bool complete = false;  // every raw name went in; set by the helper before it ends
    std::jthread helper;    // last: stopped and joined before the rest goes
};
std::unique_ptr<RawNamePass> g_pass;

// Puts names into the raw table a few names late, so that the bucket heads and ring heads
// they will read are fetched into the cache meanwhile: a put is otherwise mostly two waits
// for memory, one for its bucket and one for its ring.
class PrefetchingPutter {
  public:
    explicit PrefetchingPutter(RawTable& table) : table_(table) {}

    // Queues a name (at most 63 bytes) whose record lies at `offset`; false when a put has
    // failed.
    bool Put(std::string_view name, std::uint32_t offset) {
        Pending& p = queue_[(added_++) % kDepth];
        if (added_ > kDepth && !PutOldest(p)) return false;
        p.hash = DnsNameHash(name);
        p.bucket = table_.Bucket(p.hash);
        p.offset = offset;
        p.length = static_cast<std::uint8_t>(name.size());
        std::memcpy(p.name.data(), name.data(), name.size());
        __builtin_prefetch(&table_.heads[p.bucket]);
        // Halfway through the queue the bucket's head is at hand: fetch its record.
        if (added_ > kDepth / 2) {
            const Pending& half = queue_[(added_ - 1 - kDepth / 2) % kDepth];
            const std::uint32_t head = table_.heads[half.bucket];
            if (head < table_.count()) __builtin_prefetch(&table_.links[head]);
        }
        return true;
    }
    // Puts the names still queued; false when a put failed.
    bool Finish() {
        for (std::uint64_t i = added_ > kDepth ? added_ - kDepth : 0; i < added_; ++i)
            if (!PutOldest(queue_[i % kDepth])) return false;
        added_ = 0;
        return true;
    }

  private:
    static constexpr std::uint64_t kDepth = 32;
    struct Pending {
        std::uint32_t hash, bucket, offset;
        std::uint8_t length;
        std::array<char, kDnsMaxName> name;
    };
    bool PutOldest(const Pending& p) {
        return table_.Put(std::string_view(p.name.data(), p.length), p.hash, p.offset) != 0;
    }

    RawTable& table_;
    std::array<Pending, kDepth> queue_{};
    std::uint64_t added_ = 0;
};

void FillRawTable(std::stop_token stop, RawNamePass& pass) {
    // Record offsets are kept in 32 bits: longer lists are read by BuildDnsHash itself.
    for (const RawList& list : pass.lists)
        if (list.valid() && list.size() > std::int64_t{0xFFFFFFFF}) return;
    const std::size_t expected = std::min(pass.bucketCount, kDnsMaxRawNames);
    if (!pass.table.Start(pass.bucketCount, expected)) return;
    try {
        pass.table.at.reserve(expected);
    } catch (const std::bad_alloc&) {
    }
    pass.table.files = {pass.lists[0].fd(), pass.lists[1].fd()};
    PrefetchingPutter putter(pass.table);
    std::uint32_t puts = 0;
    auto put = [&](std::string_view name, std::uint32_t, std::uint64_t offset) {
        if ((++puts & 0xFFF) == 0 && stop.stop_requested()) return false;
        if (name.size() > kDnsMaxName) name = name.substr(0, kDnsMaxName);
        return putter.Put(name, static_cast<std::uint32_t>(offset));
    };
    if (!pass.lists[0].PutAll(put) || !putter.Finish()) return;
    pass.table.firstYes = pass.table.count();
    if (!pass.lists[1].PutAll(put) || !putter.Finish()) return;
    pass.complete = true;
}

bool StartsWithWww(std::string_view host) {
    if (host.size() < 4 || host[3] != '.') return false;
    for (std::size_t i = 0; i < 3; ++i)
        if ((host[i] | 0x20) != 'w') return false;
    return true;
}

}  // namespace

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

namespace {

// Drops the open build (its file closed unwritten), keeping a raw name pass.
void DropOpenBuild() {
    g_table = DnsTable{};
    g_raw = RawPart{};
    g_dns = DnsHashState{};
}

// DnsHashCreate with room reserved for `expected` records.
int CreateTable(const std::string& path, std::uint32_t bucketCount, std::size_t expected) {
    DropOpenBuild();
    if (bucketCount < kDnsMinBuckets || bucketCount > kDnsMaxBuckets) return 0;
    platform::FileHandle file(
        platform::OpenFileMode(path, platform::kOfCreate | platform::kOfReadWrite));
    if (!file.valid() || !g_table.Start(bucketCount, expected)) return 0;
    g_dns.file = std::move(file);
    g_dns.header.bucketCount = bucketCount;
    g_dns.header.recordOffset = static_cast<std::uint32_t>(DnsRecordAreaOffset(bucketCount));
    g_dns.open = true;
    return 1;
}

}  // namespace

void ResetDnsHash() {
    DropRawNamePass();
    DropOpenBuild();
}
namespace {
const platform::StateReset kResetDnsHash{platform::StateLayer::kDbbuild, &ResetDnsHash};
}  // namespace

int DnsHashCreate(const std::string& path, std::uint32_t bucketCount) {
    // The build sizes its buckets from the names it expects: room for that many records.
    return CreateTable(path, bucketCount, std::min(bucketCount, kDnsMaxRawNames + kDnsSiteSlots));
}

int DnsHashPut(std::string_view name, std::uint32_t* value) {
    if (!g_dns.open || name.empty()) return 0;
    if (name.size() > kDnsMaxName) name = name.substr(0, kDnsMaxName);
    const int result = g_table.Put(name, DnsNameHash(name), value);
    g_dns.header.recordCount = g_table.count();
    g_dns.header.nameBytes = g_table.nameBytes;
    return result;
}

int DnsHashClose() {
    if (!g_dns.open) return 0;
    const int fd = g_dns.file.get();
    bool ok = platform::SeekTo(fd, 0) && ::ftruncate(fd, 0) == 0 && WriteTable(fd, g_dns.header);
    ok = ok && platform::FlushFile(fd);
    DropOpenBuild();
    return ok ? 1 : 0;
}

// ---- Raw name pass ----

void StartRawNamePass() {
    DropRawNamePass();
    auto pass = std::make_unique<RawNamePass>();
    std::uint64_t total = 0;
    for (RawList& raw : pass->lists)
        if (raw.ReadCount()) total += raw.sizingCount();
    total = std::min<std::uint64_t>(total, kDnsMaxRawNames);
    pass->bucketCount = NextPrime(static_cast<std::uint32_t>(total) + kDnsSiteSlots);
    try {
        pass->helper = std::jthread(FillRawTable, std::ref(*pass));
    } catch (const std::system_error&) {
        // Without a helper BuildDnsHash reads the lists itself.
    }
    g_pass = std::move(pass);
}

void DropRawNamePass() {
    g_pass.reset();
}

// ---- Sites ----

void HashSite(std::string_view siteText, const sitelists::SiteResolver& resolve) {
    sitelists::AddressList list{};
    if (!resolve || !resolve(siteText, list)) return;
    std::string host, path;
    sitelists::SplitUrl(siteText, host, path);
    std::string_view name = host;
    if (StartsWithWww(name)) name.remove_prefix(4);
    for (std::uint32_t address : list) {
        if (address == 0) continue;
        std::uint32_t value = address;
        DnsHashPut(name, &value);
    }
}

void HashSites(const sitelists::SiteResolver& resolve) {
    const sitelists::SiteWalk walk{
        .lists = {sitelists::SiteList::kApproved, sitelists::SiteList::kRestricted},
        .emptySlot = sitelists::EmptySlot::kEndsBlock,
        .filePaths = sitelists::FilePaths::kKept,
    };
    sitelists::ForEachSiteEntry(walk, [&](const sitelists::SiteEntry& entry) {
        if (entry.kind == sitelists::EntryKind::kFileLine) {
            HashSite(entry.text, resolve);
        } else if (entry.kind == sitelists::EntryKind::kSite) {
            // A slot's own text is looked up without its scheme, in lower case.
            std::string text(entry.text);
            sitelists::StripScheme(text);
            std::transform(text.begin(), text.end(), text.begin(), [](char c) {
                return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
            });
            HashSite(text, resolve);
        }
    });
}

// ---- The build ----

int BuildDnsHash(const std::string& path, const sitelists::SiteResolver& resolve) {
    // The raw lists are read on a helper thread while the sites are resolved here; a
    // rebuild starts that pass before its databases.
    if (!g_pass) StartRawNamePass();
    const std::unique_ptr<RawNamePass> pass = std::move(g_pass);
    // Read only after a None database, and this build always follows VeldaYES.BIN: they
    // are held (denying writers) for the build and closed unread.
    RawList ipRawNot = OpenRawList(settings::kFileIpDnsRawNot);
    RawList ipRawYes = OpenRawList(settings::kFileIpDnsRawYes);
    ui::OpenProgress(resources::LoadStr(kCreatingString));

    int result = 0;
    if (CreateTable(path, pass->bucketCount, kDnsSiteSlots)) {
        HashSites(resolve);
        if (pass->helper.joinable()) pass->helper.join();
        g_raw.table = std::move(pass->table);
        if (!pass->complete || !MergeRawPart(g_dns.header)) {
            // The names go into the sites' table one by one instead, as they always may.
            g_raw = RawPart{};
            auto put = [](std::string_view name, std::uint32_t value, std::uint64_t) {
                DnsHashPut(name, &value);
                return true;
            };
            for (RawList& raw : pass->lists)
                if (raw.Rewind()) raw.PutAll(put);
        }
        result = DnsHashClose();
    }
    ui::CloseProgress();
    return result;
}

}  // namespace dbbuild

#include "tools/list_import.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <unordered_map>

#include "dbread/list_file.h"
#include "dbread/text.h"
#include "platform/files.h"
#include "sitelists/site_list.h"

namespace listimport {
namespace {

constexpr std::size_t kMaxLine = 4096;
constexpr std::size_t kMaxName = 63;  // what DNSHASH.DAT keeps of a name
constexpr std::size_t kMaxAddressEntries = 98304;
constexpr std::size_t kMaxReports = 20;
constexpr int kLevel = 3;

constexpr std::string_view kDefaultMap = R"(# The category map that ships with veldana-list import: which bits of the console's
# lists a blocklist category sets. NAME restricted|approved BIT; lines of one name add up.
# Restricted list bits: 0 Violence / Profanity, 1 Partial Nudity, 2 Full Nudity,
# 3 Sexual Acts, 4 Gross Depictions, 5 Intolerance, 6 Satanic or Cult, 7 Drugs / Drug
# Culture, 8 Militant / Extremist, 9 Sex Education, 10 Questionable / Illegal & Gambling,
# 11 Alcohol & Tobacco, 12 Sports & Entertainment, 13 Reserved 3, 14 Reserved 2,
# 15 Search Engines.
adult            restricted 2
adult            restricted 3
porn             restricted 3
pornography      restricted 3
sexual           restricted 3
mixed_adult      restricted 1
lingerie         restricted 1
nudity           restricted 2
sex_education    restricted 9
sexual_education restricted 9
violence         restricted 0
aggressive       restricted 0
agressif         restricted 0
gore             restricted 4
shock            restricted 4
hate             restricted 5
racism           restricted 5
intolerance      restricted 5
sect             restricted 6
cult             restricted 6
occult           restricted 6
drugs            restricted 7
drug             restricted 7
weapons          restricted 8
extremism        restricted 8
militant         restricted 8
terrorism        restricted 8
gambling         restricted 10
hacking          restricted 10
phishing         restricted 10
malware          restricted 10
warez            restricted 10
piracy           restricted 10
fraud            restricted 10
illegal          restricted 10
proxy            restricted 10
redirector       restricted 10
cryptojacking    restricted 10
alcohol          restricted 11
tobacco          restricted 11
games            restricted 12
sports           restricted 12
entertainment    restricted 12
search_engines   restricted 15
searchengines    restricted 15
# Approved list bits: 0 Games & Toys, 1 Art, Books & Music, 2 Movies & TV, 3 Outdoors &
# Sports, 4 Oceans & Space, 5 Pets, Animals & Dinos, 6 Other Interesting Stuff, 7 Vacations
# & Travel, 8 Puzzles & Hobbies, 9 School Work, 10 Volunteer & Help, 11 Open-2, 12 Open-1,
# 13 Reference Material, 14 Schools on the Net, 15 Parents & Teachers.
kids             approved 0
games            approved 0
toys             approved 0
arts             approved 1
books            approved 1
music            approved 1
movies           approved 2
tv               approved 2
outdoors         approved 3
sports           approved 3
science          approved 4
space            approved 4
pets             approved 5
animals          approved 5
travel           approved 7
hobbies          approved 8
education        approved 9
school_work      approved 9
volunteer        approved 10
charity          approved 10
reference        approved 13
encyclopedia     approved 13
schools          approved 14
parents          approved 15
teachers         approved 15
)";

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

bool LabelChar(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c >= 0x80;
}

void Or(CategoryBits& into, const CategoryBits& bits) {
    into.restricted |= bits.restricted;
    into.approved |= bits.approved;
}

// Names with their bits, kept in one pool (a million names would otherwise be a million
// allocations): appended as read, then sorted and merged.
class NameArena {
  public:
    struct Entry {
        std::uint32_t offset = 0;
        std::uint8_t length = 0;
        bool removed = false;
        CategoryBits bits;
    };
    void Reserve(std::size_t bytes) {
        pool_.reserve(bytes);
        entries_.reserve(bytes / 16);
    }
    void Add(std::string_view name, const CategoryBits& bits) {
        entries_.push_back({static_cast<std::uint32_t>(pool_.size()), static_cast<std::uint8_t>(name.size()), false, bits});
        pool_.append(name);
    }
    std::string_view Name(const Entry& e) const { return std::string_view(pool_).substr(e.offset, e.length); }
    // Sorted by name, each name once with the bits of all its entries.
    void SortAndMerge() {
        std::sort(entries_.begin(), entries_.end(),
                  [this](const Entry& a, const Entry& b) { return Name(a) < Name(b); });
        std::size_t out = 0;
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            if (out > 0 && Name(entries_[out - 1]) == Name(entries_[i])) {
                Or(entries_[out - 1].bits, entries_[i].bits);
            } else {
                entries_[out++] = entries_[i];
            }
        }
        entries_.resize(out);
    }
    // After SortAndMerge: the entry of `name`, or nullptr.
    Entry* Find(std::string_view name) {
        auto it = std::lower_bound(entries_.begin(), entries_.end(), name,
                                   [this](const Entry& e, std::string_view n) { return Name(e) < n; });
        return it != entries_.end() && Name(*it) == name ? &*it : nullptr;
    }
    std::vector<Entry>& entries() { return entries_; }

  private:
    std::string pool_;
    std::vector<Entry> entries_;
};

// The entries read, merged by name.
struct Merged {
    NameArena names;
    std::map<std::uint32_t, CategoryBits> addresses;
    // Hosts (or dotted addresses) with paths: path text -> bits.
    std::map<std::string, std::map<std::string, CategoryBits>> paths;
    std::map<std::string, std::set<std::string>> pathCategories;  // which categories a host has
};

class Reader {
  public:
    Reader(const CategoryMap& map, Merged& merged, ImportSummary& summary, std::uint64_t total,
           const std::function<void(std::uint64_t, std::uint64_t)>& progress)
        : map_(map), merged_(merged), summary_(summary), total_(total), progress_(progress) {}

    void Report(const std::string& text) {
        if (summary_.reports.size() < kMaxReports) {
            summary_.reports.push_back(text);
        } else {
            ++summary_.reportsDropped;
        }
    }
    void LeaveOut(const std::string& category, const std::string& reason, std::size_t n = 1) {
        summary_.leftOut[reason] += n;
        summary_.categories[category].leftOut += n;
    }

    // Reads one file of entries of `category`; false when it cannot be read at all.
    bool ReadFile(const std::string& path, const std::string& category, LineKind kind) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            Report(path + ": cannot read: " + std::strerror(errno));
            return false;
        }
        auto found = map_.find(category);
        const bool mapped = found != map_.end();
        const CategoryBits bits = mapped ? found->second : CategoryBits{};
        CategoryCount& count = summary_.categories[category];
        std::string line;
        SourceEntry entry;
        bool tooLong = false;
        std::size_t lineNumber = 0, unmapped = 0;
        char chunk[1 << 16];
        auto take = [&]() {
            ++lineNumber;
            if (tooLong) {
                Report(path + ":" + std::to_string(lineNumber) + ": a line over 4096 bytes");
                ++count.read;
                LeaveOut(category, "line over 4096 bytes");
                tooLong = false;
                line.clear();
                return;
            }
            const NameVerdict verdict = ReadSourceLine(line, kind, entry);
            line.clear();
            if (verdict == NameVerdict::kSkipped) return;
            ++count.read;
            if (verdict == NameVerdict::kNotAHostName) {
                Report(path + ":" + std::to_string(lineNumber) + ": not a host name");
                return LeaveOut(category, "not a host name");
            }
            if (verdict == NameVerdict::kTooLong)
                return LeaveOut(category, "name over the 63 bytes DNSHASH.DAT keeps");
            if (!mapped) {
                ++unmapped;
                return LeaveOut(category, "category not in the category map");
            }
            ++count.kept;
            const std::string key = entry.isAddress ? dbread::DottedAddress(entry.address) : entry.name;
            if (!entry.path.empty()) {
                Or(merged_.paths[key][entry.path], bits);
                merged_.pathCategories[key].insert(category);
            } else if (entry.isAddress) {
                Or(merged_.addresses[entry.address], bits);
            } else {
                merged_.names.Add(entry.name, bits);
            }
        };
        for (;;) {
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                Report(path + ": read error: " + std::strerror(errno));
                break;
            }
            if (n == 0) break;
            done_ += static_cast<std::uint64_t>(n);
            std::string_view data(chunk, static_cast<std::size_t>(n));
            while (!data.empty()) {
                const std::size_t nl = data.find('\n');
                const std::string_view part = data.substr(0, nl);
                if (!tooLong) {
                    if (line.size() + part.size() > kMaxLine) {
                        tooLong = true;
                        line.clear();
                    } else {
                        line.append(part);
                    }
                }
                if (nl == std::string_view::npos) break;
                take();
                data.remove_prefix(nl + 1);
            }
            if (progress_ && done_ - told_ > (1u << 20)) {
                told_ = done_;
                progress_(done_, total_);
            }
        }
        if (!line.empty() || tooLong) take();
        ::close(fd);
        if (!mapped && unmapped > 0)
            Report(path + ": category \"" + category + "\" is not in the category map: " +
                   std::to_string(unmapped) + " entries left out");
        return true;
    }

  private:
    const CategoryMap& map_;
    Merged& merged_;
    ImportSummary& summary_;
    std::uint64_t total_ = 0, done_ = 0, told_ = 0;
    const std::function<void(std::uint64_t, std::uint64_t)>& progress_;
};

std::uint64_t FileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size) : 0;
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The category folders of a tree, sorted.
std::vector<std::string> Categories(const std::string& tree) {
    std::vector<std::string> out;
    DIR* dir = ::opendir(tree.c_str());
    if (!dir) return out;
    while (dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        if (IsDirectory(tree + "/" + name)) out.push_back(name);
    }
    ::closedir(dir);
    std::sort(out.begin(), out.end());
    return out;
}

void Le32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>(v >> (8 * i));
}

std::string RawList(const std::vector<std::pair<std::string_view, std::uint32_t>>& names) {
    std::string out;
    std::size_t bytes = 4;
    for (const auto& [name, value] : names) bytes += name.size() + 5;
    out.reserve(bytes);
    Le32(out, static_cast<std::uint32_t>(names.size()));
    for (const auto& [name, value] : names) {
        out += static_cast<char>(name.size());
        out += name;
        Le32(out, value);
    }
    return out;
}

// A host with paths, and what it holds.
struct PathHost {
    std::string name;
    bool isAddress = false;
    std::uint32_t value = 0;
    CategoryBits whole;
    std::map<std::string, CategoryBits> paths;
    bool dropped = false;
};

// The list of one side, with as many path hosts as fit; the dropped ones marked.
bool BuildList(ListSide side, const std::vector<std::pair<CategoryBits, std::uint32_t>>& values,
               const std::map<std::uint32_t, CategoryBits>& addresses,
               std::vector<PathHost>& hosts, ImportSummary& summary, std::vector<std::uint8_t>& out,
               std::string& error, const std::function<void(const PathHost&, const std::string&)>& dropped) {
    auto of = [side](const CategoryBits& b) {
        return side == ListSide::kRestricted ? b.restricted : b.approved;
    };
    std::size_t keep = hosts.size();
    for (;;) {
        dbread::ListContent list;
        list.level = kLevel;
        list.approved = side == ListSide::kApproved;
        std::size_t entries = 0;
        for (const auto& [bits, value] : values)
            if (of(bits)) {
                list.addresses.push_back({value, of(bits), {}});
                ++entries;
            }
        std::size_t addressesLeftOut = 0;
        for (const auto& [address, bits] : addresses) {
            if (!of(bits)) continue;
            if (entries >= kMaxAddressEntries) {
                ++addressesLeftOut;
                continue;
            }
            list.addresses.push_back({address, of(bits), {}});
            ++entries;
        }
        std::size_t used = 0;
        for (std::size_t h = 0; h < hosts.size(); ++h) {
            PathHost& host = hosts[h];
            if (host.dropped) continue;
            dbread::ListRecordData items{host.value, 0, {}};
            for (const auto& [path, bits] : host.paths)
                if (of(bits)) items.items.push_back({of(bits), dbread::PathKeyForLevel(kLevel, path)});
            if (!of(host.whole) && items.items.empty()) continue;
            if (used >= keep || entries >= kMaxAddressEntries) {
                host.dropped = true;
                dropped(host, entries >= kMaxAddressEntries ? "the address index holds at most 98304 entries"
                                                            : "the list file holds at most 1 MB");
                continue;
            }
            ++used;
            ++entries;
            // The whole site first: a path record before it would lose its paths in the build.
            if (of(host.whole)) list.addresses.push_back({host.value, of(host.whole), {}});
            if (!items.items.empty()) list.addresses.push_back(std::move(items));
        }
        std::string why;
        if (entries > kMaxAddressEntries) {
            error = "more than 98304 category values and addresses";
            return false;
        }
        if (dbread::EncodeListFile(list, out, why)) {
            (side == ListSide::kRestricted ? summary.restrictedRecords : summary.approvedRecords) =
                list.addresses.size();
            if (addressesLeftOut)
                summary.leftOut["the address index holds at most 98304 entries"] += addressesLeftOut;
            return true;
        }
        if (used == 0) {
            error = why;
            return false;
        }
        keep = used - std::max<std::size_t>(1, used / 10);  // leave out the last tenth, try again
    }
}

}  // namespace

bool ParseCategoryMap(std::string_view text, CategoryMap& map, std::vector<std::string>& problems) {
    std::size_t number = 0;
    while (!text.empty()) {
        const std::size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
        ++number;
        if (std::size_t hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
        const auto words = dbread::SplitWords(line);
        if (words.empty()) continue;
        int bit = -1;
        if (words.size() == 3 && words[2].size() <= 2 &&
            std::all_of(words[2].begin(), words[2].end(), [](char c) { return c >= '0' && c <= '9'; }))
            bit = std::stoi(std::string(words[2]));
        if (words.size() != 3 || (words[1] != "restricted" && words[1] != "approved") || bit < 0 ||
            bit > 15) {
            problems.push_back("line " + std::to_string(number) +
                               ": wants NAME restricted|approved BIT (0 to 15)");
            continue;
        }
        CategoryBits& bits = map[Lower(words[0])];
        (words[1] == "restricted" ? bits.restricted : bits.approved) |= static_cast<std::uint16_t>(1u << bit);
    }
    return problems.empty();
}

std::string_view DefaultCategoryMap() { return kDefaultMap; }

NameVerdict NormaliseName(std::string_view raw, std::string& name, std::uint32_t& address) {
    std::string_view s = Trim(raw);
    if (s.size() >= 2 && s.substr(0, 2) == "*.") s.remove_prefix(2);
    while (!s.empty() && s.back() == '.') s.remove_suffix(1);
    if (s.empty()) return NameVerdict::kNotAHostName;
    if (s.front() >= '0' && s.front() <= '9' && dbread::ParseDottedAddress(s, address)) {
        name.assign(s);
        return NameVerdict::kAddress;
    }
    if (s.size() > 4 && (s[0] | 0x20) == 'w' && (s[1] | 0x20) == 'w' && (s[2] | 0x20) == 'w' && s[3] == '.')
        s.remove_prefix(4);
    if (s.size() > 253) return NameVerdict::kNotAHostName;
    name.assign(s);
    std::size_t label = 0;
    for (std::size_t i = 0; i <= name.size(); ++i) {
        if (i == name.size() || name[i] == '.') {
            if (label == 0 || label > 63) return NameVerdict::kNotAHostName;
            label = 0;
            continue;
        }
        char& c = name[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        if (!LabelChar(static_cast<unsigned char>(c))) return NameVerdict::kNotAHostName;
        ++label;
    }
    static const std::set<std::string_view> kHostsFileNames = {
        "localhost", "localhost.localdomain", "local", "broadcasthost", "ip6-localhost",
        "ip6-loopback", "ip6-localnet", "ip6-mcastprefix", "ip6-allnodes", "ip6-allrouters",
        "ip6-allhosts", "0.0.0.0"};
    if ((name[0] == 'l' || name[0] == 'b' || name[0] == 'i') && kHostsFileNames.count(name))
        return NameVerdict::kSkipped;
    if (name.size() > kMaxName) return NameVerdict::kTooLong;
    return NameVerdict::kHost;
}

NameVerdict ReadSourceLine(std::string_view line, LineKind kind, SourceEntry& entry) {
    entry.name.clear();
    entry.path.clear();
    entry.address = 0;
    entry.isAddress = false;
    if (std::size_t hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
    line = Trim(line);
    if (line.empty() || line.front() == '!' || line.front() == '[') return NameVerdict::kSkipped;
    // The first two words, and whether there are more.
    std::string_view words[2];
    std::size_t count = 0;
    for (std::size_t i = 0; i < line.size() && count < 3;) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        std::size_t j = i;
        while (j < line.size() && line[j] != ' ' && line[j] != '\t' && line[j] != '\r') ++j;
        if (j == i) break;
        if (count < 2) words[count] = line.substr(i, j - i);
        ++count;
        i = j;
    }
    std::string_view word = words[0];
    // A hosts file: an address, then the names that stand for it (the first one is taken).
    std::uint32_t ignored = 0;
    if (count >= 2 && (dbread::ParseDottedAddress(words[0], ignored) || words[0] == "::" ||
                       words[0] == "::1" || words[0] == "::0"))
        word = words[1];
    else if (count != 1)
        return NameVerdict::kNotAHostName;
    if (word.size() > 2 && word.substr(0, 2) == "||") {  // adblock style: ||name^
        word.remove_prefix(2);
        if (!word.empty() && word.back() == '^') word.remove_suffix(1);
    }
    if (kind == LineKind::kUrls) {
        if (std::size_t scheme = word.find("://"); scheme != std::string_view::npos)
            word.remove_prefix(scheme + 3);
        const std::size_t slash = word.find('/');
        if (slash != std::string_view::npos) {
            std::string_view path = word.substr(slash + 1);
            while (!path.empty() && path.back() == '/' && path.size() > 1 && path[path.size() - 2] == '/')
                path.remove_suffix(1);
            if (!path.empty()) {
                if (path.find(',') != std::string_view::npos) return NameVerdict::kNotAHostName;
                entry.path = std::string(path);
            }
            word = word.substr(0, slash);
        }
        if (std::size_t colon = word.find(':'); colon != std::string_view::npos) word = word.substr(0, colon);
    }
    const NameVerdict v = NormaliseName(word, entry.name, entry.address);
    entry.isAddress = v == NameVerdict::kAddress;
    if (!entry.path.empty() && dbread::PathKeyForLevel(kLevel, entry.path).size() > dbread::kMaxListItemKey)
        return NameVerdict::kTooLong;
    return v;
}

std::uint32_t CategoryValue(std::uint32_t n) {
    return 240u | ((n >> 16) & 0x0Fu) << 8 | ((n >> 8) & 0xFFu) << 16 | (n & 0xFFu) << 24;
}

bool Import(const std::vector<ImportSource>& sources, const CategoryMap& map,
            const std::string& outDir, ImportSummary& summary, std::string& error,
            const std::function<void(std::uint64_t, std::uint64_t)>& progress) {
    summary = ImportSummary{};
    // The files to read, and their bytes for the progress.
    struct File {
        std::string path, category;
        LineKind kind;
    };
    std::vector<File> files;
    Merged merged;
    Reader* reader = nullptr;
    std::vector<std::string> unreadable;
    for (const ImportSource& s : sources) {
        if (s.kind == ImportSource::kList) {
            files.push_back({s.path, Lower(s.category), LineKind::kDomains});
            continue;
        }
        if (!IsDirectory(s.path)) {
            unreadable.push_back(s.path + ": not a folder of categories");
            continue;
        }
        for (const std::string& category : Categories(s.path)) {
            for (const char* name : {"domains", "urls"}) {
                const std::string path = s.path + "/" + category + "/" + name;
                if (FileSize(path) > 0 || ::access(path.c_str(), F_OK) == 0)
                    files.push_back({path, Lower(category), name[0] == 'u' ? LineKind::kUrls : LineKind::kDomains});
            }
        }
    }
    std::uint64_t total = 0;
    for (const File& f : files) total += FileSize(f.path);
    merged.names.Reserve(static_cast<std::size_t>(std::min<std::uint64_t>(total, 1u << 30)));
    Reader r(map, merged, summary, total, progress);
    reader = &r;
    for (const std::string& u : unreadable) reader->Report(u);
    std::size_t read = 0;
    for (const File& f : files) read += reader->ReadFile(f.path, f.category, f.kind) ? 1 : 0;
    if (progress) progress(total, total);
    if (read == 0) {
        error = "no source could be read";
        return false;
    }
    merged.names.SortAndMerge();

    // Hosts with paths get values of their own; their whole-site bits go with them.
    std::vector<PathHost> hosts;
    for (auto& [name, paths] : merged.paths) {
        PathHost h;
        h.name = name;
        std::uint32_t address = 0;
        h.isAddress = dbread::ParseDottedAddress(name, address);
        h.paths = std::move(paths);
        if (h.isAddress) {
            h.value = address;
            if (auto it = merged.addresses.find(address); it != merged.addresses.end()) {
                h.whole = it->second;
                merged.addresses.erase(it);
            }
        } else if (NameArena::Entry* e = merged.names.Find(name)) {
            h.whole = e->bits;
            e->removed = true;
        }
        hosts.push_back(std::move(h));
    }
    // Every distinct pair of bits gets a value, in sorted order.
    auto& names = merged.names.entries();
    std::map<std::pair<std::uint16_t, std::uint16_t>, std::uint32_t> valueOf;
    for (const auto& e : names)
        if (!e.removed) valueOf[{e.bits.restricted, e.bits.approved}] = 0;
    std::uint32_t next = 0;
    std::vector<std::pair<CategoryBits, std::uint32_t>> values;
    for (auto& [pair, value] : valueOf) {
        value = CategoryValue(++next);
        values.push_back({CategoryBits{pair.first, pair.second}, value});
    }
    for (PathHost& h : hosts)
        if (!h.isAddress) h.value = CategoryValue(++next);

    auto dropped = [&](const PathHost& host, const std::string& reason) {
        summary.leftOut[reason] += 1;
        for (const std::string& category : merged.pathCategories[host.name]) {
            summary.categories[category].leftOut += 1;
            if (summary.categories[category].kept > 0) --summary.categories[category].kept;
        }
    };
    std::vector<std::uint8_t> restricted, approved;
    if (!BuildList(ListSide::kRestricted, values, merged.addresses, hosts, summary, restricted, error, dropped) ||
        !BuildList(ListSide::kApproved, values, merged.addresses, hosts, summary, approved, error, dropped))
        return false;

    // The raw name lists: a name with restricted bits in DNSRAW.NOT (its value is in both
    // lists when it has approved bits too), one with approved bits only in DNSRAW.YES.
    std::vector<std::pair<std::string_view, std::uint32_t>> rawNot, rawYes;
    rawNot.reserve(names.size());
    std::pair<std::uint16_t, std::uint16_t> lastPair{0, 0};
    std::uint32_t lastValue = 0;
    std::size_t kept = 0;
    for (const auto& e : names) {
        if (e.removed) continue;
        ++kept;
        const std::pair<std::uint16_t, std::uint16_t> pair{e.bits.restricted, e.bits.approved};
        if (lastValue == 0 || pair != lastPair) {
            lastPair = pair;
            lastValue = valueOf[pair];
        }
        (e.bits.restricted ? rawNot : rawYes).emplace_back(merged.names.Name(e), lastValue);
    }
    // The names are in order; the hosts with paths (in order among themselves) go between.
    const std::size_t sortedNot = rawNot.size(), sortedYes = rawYes.size();
    for (const PathHost& h : hosts) {
        if (h.isAddress || h.dropped) continue;
        CategoryBits all = h.whole;
        for (const auto& [path, bits] : h.paths) Or(all, bits);
        (all.restricted ? rawNot : rawYes).push_back({h.name, h.value});
    }
    auto byName = [](const auto& a, const auto& b) { return a.first < b.first; };
    std::inplace_merge(rawNot.begin(), rawNot.begin() + static_cast<std::ptrdiff_t>(sortedNot), rawNot.end(), byName);
    std::inplace_merge(rawYes.begin(), rawYes.begin() + static_cast<std::ptrdiff_t>(sortedYes), rawYes.end(), byName);

    summary.names = kept;
    summary.addresses = merged.addresses.size();
    summary.pathHosts = static_cast<std::size_t>(std::count_if(hosts.begin(), hosts.end(), [](const PathHost& h) { return !h.dropped; }));
    summary.values = next;
    summary.restrictedRawNames = rawNot.size();
    summary.approvedRawNames = rawYes.size();

    sitelists::ScrambleSiteList(restricted);
    sitelists::ScrambleSiteList(approved);
    const std::string notRaw = RawList(rawNot), yesRaw = RawList(rawYes);
    auto bytes = [](const std::string& s) {
        return std::span(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
    };
    const std::pair<const char*, std::span<const std::uint8_t>> outputs[] = {
        {"VELDA.NOT", restricted}, {"VELDA.YES", approved}, {"DNSRAW.NOT", bytes(notRaw)},
        {"DNSRAW.YES", bytes(yesRaw)}};
    for (const auto& [name, data] : outputs) {
        if (!platform::WriteFileAtomically(outDir + "/" + name, data)) {
            error = outDir + "/" + name + ": cannot be written: " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

}  // namespace listimport

#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/locations.h"
#include "platform/process_state.h"

namespace platform {
namespace {

// Atomic: a build may write one file from two threads.
struct FileFaultState {
    std::atomic<int> failAt = 0;  // 0: no fault armed
    std::atomic<int> steps = 0;
};
FileFaultState g_faults;

// The step of the whole process at which it kills itself, as a crash or a kill -9 would:
// VELDANA_CRASH_AT_FILE_STEP, for tests of what a killed console leaves on disk (0: never).
long CrashStep() {
    static const long step = [] {
        const char* text = std::getenv("VELDANA_CRASH_AT_FILE_STEP");
        return text ? std::strtol(text, nullptr, 10) : 0L;
    }();
    return step;
}
std::atomic<long> g_processSteps = 0;

// Counts a changing step; false when this is the step that must fail.
bool Step() {
    if (CrashStep() > 0 && ++g_processSteps == CrashStep()) ::raise(SIGKILL);
    const int step = ++g_faults.steps;
    const int failAt = g_faults.failAt;
    if (failAt != 0 && step == failAt) {
        errno = EIO;
        return false;
    }
    return true;
}

// Closes descriptors on a helper thread. The last close of a file that no longer has a
// name frees its pages and blocks, which takes milliseconds for a database of tens of
// megabytes (tens with an 80 MB one): whoever removed or replaced it need not wait for that.
class DeferredCloser {
  public:
    ~DeferredCloser() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_one();
        if (worker_.joinable()) worker_.join();
    }
    void Close(int fd) {
        {
            std::lock_guard lock(mutex_);
            if (!stopping_ && !worker_.joinable()) {
                try {
                    worker_ = std::thread([this] { Run(); });
                } catch (const std::system_error&) {
                }
            }
            if (!stopping_ && worker_.joinable()) {
                fds_.push_back(fd);
                wake_.notify_one();
                return;
            }
        }
        ::close(fd);
    }

  private:
    void Run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stopping_ || !fds_.empty(); });
            std::vector<int> now;
            now.swap(fds_);
            lock.unlock();
            for (int fd : now) ::close(fd);
            lock.lock();
            if (stopping_ && fds_.empty()) return;
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<int> fds_;
    bool stopping_ = false;
    std::thread worker_;
};
DeferredCloser& Closer() {
    static DeferredCloser closer;
    return closer;
}

// A descriptor that keeps the data of the regular file at `path` alive past its removal,
// for the closer; -1 when there is none.
int HoldForRelease(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}
void Release(int fd) {
    if (fd >= 0) Closer().Close(fd);
}

bool DeniesWriting(int mode) {
    int share = mode & 0x70;
    return share == kOfShareExclusive || share == kOfShareDenyWrite || share == kOfShareDenyRead;
}

// True when some open of the file denies writing (it holds a shared lock).
bool WriteDenied(int fd) {
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) return errno == EWOULDBLOCK;
    flock(fd, LOCK_UN);
    return false;
}

}  // namespace

FileHandle& FileHandle::operator=(FileHandle&& o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
}

void FileHandle::reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

int OpenFileMode(const std::string& path, int mode) {
    if (path.empty()) return -1;
    if (mode & kOfExist) return FileExists(path) ? 1 : -1;

    if (mode & kOfDelete) {
        if (!Step()) return -1;
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0 && errno != ELOOP) return -1;
        if (fd >= 0 && WriteDenied(fd)) {
            ::close(fd);
            return -1;
        }
        const bool removed = ::unlink(path.c_str()) == 0;
        if (fd >= 0) Release(fd);
        return removed ? 1 : -1;
    }

    bool create = (mode & kOfCreate) != 0;
    int access = mode & 3;
    bool writes = create || access == kOfWrite || access == kOfReadWrite;
    int flags = O_CLOEXEC;
    if (create)
        flags |= O_RDWR | O_CREAT | O_NOFOLLOW;  // a file is never created through a link
    else if (access == kOfWrite)
        flags |= O_WRONLY;
    else if (access == kOfReadWrite)
        flags |= O_RDWR;
    else
        flags |= O_RDONLY;

    if (writes && !Step()) return -1;
    FileHandle f(::open(path.c_str(), flags, 0644));
    if (!f.valid()) return -1;
    struct stat st {};
    if (fstat(f.get(), &st) != 0 || S_ISDIR(st.st_mode)) return -1;
    if (writes && WriteDenied(f.get())) return -1;
    if (DeniesWriting(mode) && flock(f.get(), LOCK_SH | LOCK_NB) != 0) return -1;
    if (create && ftruncate(f.get(), 0) != 0) return -1;
    return f.release();
}

int CreateNewFile(const std::string& path, FileAccess access) {
    if (path.empty() || !Step()) return -1;
    return ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  access == FileAccess::kOwnerOnly ? 0600 : 0644);
}

bool WriteDeniedAt(const std::string& path) {
    FileHandle f(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    return f.valid() && WriteDenied(f.get());
}

bool ModificationTime(const std::string& path, std::timespec& time) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
    time = st.st_mtim;
    return true;
}

void CreateDirectories(const std::string& directory) {
    std::filesystem::path made;
    for (const auto& part : std::filesystem::path(directory)) {
        made /= part;
        ::mkdir(made.c_str(), 0755);  // the umask can only take bits away
    }
}

FileHandle LockDirectory(const std::string& directory, int waitMs) {
    FileHandle dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid()) return FileHandle();
    for (int waited = 0;; waited += 50) {
        if (::flock(dir.get(), LOCK_EX | LOCK_NB) == 0) return dir;
        if (errno != EWOULDBLOCK && errno != EINTR) return FileHandle();
        if (waited >= waitMs) return FileHandle();
        ::usleep(50 * 1000);
    }
}

void CloseFile(int handle) {
    if (handle >= 0) ::close(handle);
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool ReadExact(int handle, std::span<std::uint8_t> out) {
    std::size_t done = 0;
    while (done < out.size()) {
        ssize_t n = ::read(handle, out.data() + done, out.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

long ReadSome(int handle, std::span<std::uint8_t> out) {
    std::size_t done = 0;
    while (done < out.size()) {
        ssize_t n = ::read(handle, out.data() + done, out.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<long>(done);
}

bool WriteAll(int handle, std::span<const std::uint8_t> data) {
    if (!Step()) return false;
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(handle, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool WriteAllAt(int handle, std::int64_t offset, std::span<const std::uint8_t> data) {
    if (!Step()) return false;
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::pwrite(handle, data.data() + done, data.size() - done,
                             static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool SeekTo(int handle, std::int64_t offset) {
    return ::lseek(handle, static_cast<off_t>(offset), SEEK_SET) == offset;
}

std::int64_t FileSize(int handle) {
    struct stat st {};
    if (fstat(handle, &st) != 0) return -1;
    return st.st_size;
}

bool FlushFile(int handle) {
    return Step() && ::fsync(handle) == 0;
}

void StartWriteback(int handle, std::int64_t offset, std::int64_t length) {
    ::sync_file_range(handle, offset, length, SYNC_FILE_RANGE_WRITE);
}

std::uint16_t DosDateFromTime(std::time_t t) {
    struct tm tm {};
    if (gmtime_r(&t, &tm) == nullptr) return 33;
    int year = tm.tm_year + 1900;
    if (year < 1980) return (0 << 9) | (1 << 5) | 1;
    if (year > 2107) return static_cast<std::uint16_t>((127 << 9) | (12 << 5) | 31);
    return static_cast<std::uint16_t>(((year - 1980) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
}

std::uint16_t DosTimeFromTime(std::time_t t) {
    struct tm tm {};
    if (gmtime_r(&t, &tm) == nullptr) return 0;
    return static_cast<std::uint16_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
}

std::time_t TimeFromDosDateTime(std::uint16_t date, std::uint16_t time) {
    struct tm tm {};
    tm.tm_year = (date >> 9) + 80;
    tm.tm_mon = ((date >> 5) & 15) - 1;
    tm.tm_mday = date & 31;
    tm.tm_hour = time >> 11;
    tm.tm_min = (time >> 5) & 63;
    tm.tm_sec = (time & 31) * 2;
    return timegm(&tm);
}

int FileDosDate(int handle) {
    struct stat st {};
    if (handle < 0 || fstat(handle, &st) != 0) return -1;
    return DosDateFromTime(st.st_mtim.tv_sec);
}

bool SetFileWriteTime(const std::string& path, std::time_t t) {
    if (!Step()) return false;
    struct timespec times[2];
    times[0].tv_sec = t;
    times[0].tv_nsec = 0;
    times[1] = times[0];
    return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

bool ReplaceFile(const std::string& from, const std::string& to) {
    if (!Step()) return false;
    const int replaced = HoldForRelease(to);
    const bool ok = ::rename(from.c_str(), to.c_str()) == 0;
    Release(replaced);
    return ok;
}

bool RemoveFile(const std::string& path) {
    if (!Step()) return false;
    const int removed = HoldForRelease(path);
    const bool ok = ::unlink(path.c_str()) == 0;
    Release(removed);
    return ok;
}

int CreateUniqueFile(const std::string& prefix, std::string& path, FileAccess access) {
    static constexpr char kLetters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = prefix;
        for (int i = 0; i < kUniqueSuffixLength; ++i)
            name += kLetters[random() % (sizeof kLetters - 1)];
        const int fd = CreateNewFile(name, access);
        if (fd >= 0) {
            path = name;
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    return -1;
}

bool WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> data,
                         FileAccess access) {
    std::string temp;
    FileHandle f(CreateUniqueFile(path + ".new-", temp, access));
    bool ok = f.valid() && WriteAll(f.get(), data) && FlushFile(f.get());
    f.reset();
    if (ok) ok = ReplaceFile(temp, path);
    if (!ok) {
        if (!temp.empty()) ::unlink(temp.c_str());
        return false;
    }
    SyncDirectoryOf(path);
    return true;
}

void SyncDirectoryOf(const std::string& path) {
    std::string dir = path.substr(0, path.find_last_of('/') + 1);
    FileHandle d(::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (d.valid()) ::fsync(d.get());
}

void InjectFileFault(int n) {
    g_faults.failAt = n > 0 ? n : 0;
    g_faults.steps = 0;
}
void ClearFileFaults() {
    InjectFileFault(0);
}
namespace {
const platform::StateReset kResetFileFaults{platform::StateLayer::kPlatform, &ClearFileFaults};
}  // namespace
int FileStepCount() {
    return g_faults.steps;
}

namespace {

namespace fs = std::filesystem;

std::string LowerCase(std::string text) {
    for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The names in a directory by lower-case name, read again only when the directory changed
// (a database build looks for thousands of site names in the same few directories).
const std::map<std::string, std::string>& NamesIgnoringCase(const fs::path& dir) {
    struct Listing {
        bool read = false;
        struct timespec changed {};
        std::map<std::string, std::string> names;
    };
    static std::map<std::string, Listing> cache;
    static const std::map<std::string, std::string> none;
    struct stat st {};
    std::string key = dir.empty() ? "." : dir.string();
    if (::stat(key.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return none;
    Listing& listing = cache[key];
    if (listing.read && listing.changed.tv_sec == st.st_mtim.tv_sec &&
        listing.changed.tv_nsec == st.st_mtim.tv_nsec)
        return listing.names;
    listing = Listing{true, st.st_mtim, {}};
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(key, ec)) {
        std::string name = entry.path().filename().string();
        listing.names.emplace(LowerCase(name), std::move(name));
    }
    return listing.names;
}

// Whether a directory entry is a file (anything but a directory, links followed), as its
// listing tells without asking for each one: a link, or an entry of a file system that
// does not say, is looked at when a search needs to know.
enum class EntryKind : std::uint8_t { kFile, kNotFile, kAsk };

// A directory as a snapshot saw it: every name with its kind, and a name for each
// lower-case form.
struct SnapshotListing {
    std::unordered_map<std::string, EntryKind> kinds;
    // Made when first asked for: along the PATH only exact names are looked for.
    std::unordered_map<std::string, std::string> byLower;
    bool lowerMade = false;
};

struct SnapshotState {
    int depth = 0;  // live FileSearchSnapshot objects
    std::uint64_t id = 0;
    std::unordered_map<std::string, SnapshotListing> listings;
    std::vector<fs::path> searchDirectories;
    std::vector<std::string> searchKeys;           // the same, as listing keys
    std::vector<SnapshotListing*> searchListings;  // their listings, once read
    std::string base;                              // the current directory, "" for the root
};
SnapshotState g_snapshot;
std::uint64_t g_lastSnapshotId = 0;

std::string ListingKey(const fs::path& dir) {
    return dir.empty() ? "." : dir.string();
}

SnapshotListing& SnapshotOf(const std::string& key) {
    auto [it, fresh] = g_snapshot.listings.try_emplace(key);
    if (fresh) {
        if (DIR* dir = ::opendir(key.c_str())) {
            while (const dirent* entry = ::readdir(dir)) {
                const std::string_view name = entry->d_name;
                if (name == "." || name == "..") continue;
                EntryKind kind = EntryKind::kFile;
                if (entry->d_type == DT_DIR) kind = EntryKind::kNotFile;
                if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) kind = EntryKind::kAsk;
                it->second.kinds.emplace(name, kind);
            }
            ::closedir(dir);
        }
    }
    return it->second;
}

const std::unordered_map<std::string, std::string>& LowerNames(SnapshotListing& listing) {
    if (!listing.lowerMade) {
        for (const auto& [name, kind] : listing.kinds)
            listing.byLower.emplace(LowerCase(name), name);
        listing.lowerMade = true;
    }
    return listing.byLower;
}

// The questions SearchFile asks of a directory, answered by the file system or, inside a
// snapshot, by the directory's listing.
bool EntryExists(const fs::path& dir, const std::string& name) {
    if (g_snapshot.depth == 0) {
        std::error_code ec;
        return fs::exists(dir / name, ec);
    }
    return SnapshotOf(ListingKey(dir)).kinds.count(name) != 0;
}

bool IsFileInListing(SnapshotListing& listing, const std::string& key, const std::string& name) {
    auto& kinds = listing.kinds;
    auto it = kinds.find(name);
    if (it == kinds.end()) return false;
    if (it->second == EntryKind::kAsk)
        it->second = FileExists(key + "/" + name) ? EntryKind::kFile : EntryKind::kNotFile;
    return it->second == EntryKind::kFile;
}

bool SnapshotIsFile(const std::string& key, const std::string& name) {
    return IsFileInListing(SnapshotOf(key), key, name);
}

std::string NameInListing(SnapshotListing& listing, const std::string& lower) {
    const auto& names = LowerNames(listing);
    auto it = names.find(lower);
    return it == names.end() ? std::string() : it->second;
}

std::string SnapshotNameIgnoringCase(const std::string& key, const std::string& lower) {
    return NameInListing(SnapshotOf(key), lower);
}

// The listing of the snapshot's search directory number i.
SnapshotListing& SearchListing(std::size_t i) {
    SnapshotListing*& listing = g_snapshot.searchListings[i];
    if (listing == nullptr) listing = &SnapshotOf(g_snapshot.searchKeys[i]);
    return *listing;
}

bool IsFileIn(const fs::path& dir, const std::string& name) {
    if (g_snapshot.depth == 0) return FileExists((dir / name).string());
    return SnapshotIsFile(ListingKey(dir), name);
}

// A name in `dir` that equals `lower` when letter case is ignored, or empty text.
std::string NameIgnoringCase(const fs::path& dir, const std::string& lower) {
    if (g_snapshot.depth == 0) {
        const auto& names = NamesIgnoringCase(dir);
        auto it = names.find(lower);
        return it == names.end() ? std::string() : it->second;
    }
    return SnapshotNameIgnoringCase(ListingKey(dir), lower);
}

// The path of an existing file whose name matches the absolute `path` when letter case is
// ignored, one component at a time (site lists keep names in lower case; the file system
// does not).
std::string MatchIgnoringCase(const fs::path& path) {
    if (g_snapshot.depth == 0 && FileExists(path.string())) return path.string();
    fs::path built = path.root_path();
    for (const auto& part : path.relative_path()) {
        std::string name = part.string();
        if (!EntryExists(built, name)) {
            name = NameIgnoringCase(built, LowerCase(name));
            if (name.empty()) return {};
        }
        built /= name;
    }
    return built.has_filename() && IsFileIn(built.parent_path(), built.filename().string())
               ? built.string()
               : std::string();
}

std::vector<fs::path> SearchDirectories() {
    std::error_code ec;
    std::vector<fs::path> dirs = {fs::current_path(ec), ProgramDirectory(),
                                  WindowsDirectory() + "/SYSTEM", WindowsDirectory()};
    if (const char* path = std::getenv("PATH")) {
        std::string all = path;
        std::size_t start = 0;
        while (start <= all.size()) {
            std::size_t colon = all.find(':', start);
            if (colon == std::string::npos) colon = all.size();
            if (colon > start) dirs.emplace_back(all.substr(start, colon - start));
            start = colon + 1;
        }
    }
    return dirs;
}

// SearchFile inside a snapshot for the names site lists hold: a bare name, or plain
// components joined by single '/' ("www.example.com/kids", "/home/lists/sites.txt"), on
// strings and listings alone. Nothing (a null result) for anything else: ".", "..", "//"
// or a trailing '/' are left to the general search. A found file's path is still made
// absolute by `absolute`.
template <typename Absolute>
std::optional<std::string> SearchPlainName(const std::string& name, Absolute absolute) {
    const auto& keys = g_snapshot.searchKeys;
    const auto& dirs = g_snapshot.searchDirectories;
    if (name.find('/') == std::string::npos) {
        for (std::size_t i = 0; i < keys.size(); ++i)
            if (IsFileInListing(SearchListing(i), keys[i], name)) return absolute(dirs[i] / name);
        const std::string lower = LowerCase(name);
        for (std::size_t i = 0; i < keys.size() && i < 4; ++i) {
            const std::string match = NameInListing(SearchListing(i), lower);
            if (!match.empty() && IsFileInListing(SearchListing(i), keys[i], match))
                return absolute(dirs[i] / match);
        }
        return std::string();
    }
    if (name.back() == '/' || name.find("//") != std::string::npos) return std::nullopt;
    std::vector<std::string_view> parts;
    for (std::size_t at = name.front() == '/' ? 1 : 0; at <= name.size();) {
        std::size_t slash = name.find('/', at);
        if (slash == std::string::npos) slash = name.size();
        const std::string_view part(name.data() + at, slash - at);
        if (part == "." || part == "..") return std::nullopt;
        parts.push_back(part);
        at = slash + 1;
    }
    std::string built = name.front() == '/' ? std::string() : g_snapshot.base;
    for (std::size_t k = 0; k < parts.size(); ++k) {
        const std::string key = built.empty() ? "/" : built;
        std::string used(parts[k]);
        if (SnapshotOf(key).kinds.count(used) == 0) {
            used = SnapshotNameIgnoringCase(key, LowerCase(used));
            if (used.empty()) return std::string();
        }
        if (k + 1 == parts.size())
            return SnapshotIsFile(key, used) ? absolute(fs::path(key) / used) : std::string();
        built += "/" + used;
    }
    return std::string();
}

}  // namespace

FileSearchSnapshot::FileSearchSnapshot() {
    if (g_snapshot.depth++ == 0) {
        g_snapshot.searchDirectories = SearchDirectories();
        g_snapshot.searchKeys.clear();
        for (const auto& dir : g_snapshot.searchDirectories)
            g_snapshot.searchKeys.push_back(ListingKey(dir));
        g_snapshot.searchListings.assign(g_snapshot.searchKeys.size(), nullptr);
        std::error_code ec;
        g_snapshot.base = fs::current_path(ec).string();
        if (g_snapshot.base == "/") g_snapshot.base.clear();
        g_snapshot.id = ++g_lastSnapshotId;
    }
}

FileSearchSnapshot::~FileSearchSnapshot() {
    if (--g_snapshot.depth == 0) g_snapshot = SnapshotState{};
}

std::uint64_t FileSearchSnapshotId() {
    return g_snapshot.depth == 0 ? 0 : g_snapshot.id;
}

std::string SearchFile(const std::string& name) {
    if (name.empty()) return {};
    std::error_code ec;
    auto absolute = [&](const fs::path& p) {
        return fs::absolute(p, ec).lexically_normal().string();
    };
    // Inside a snapshot, bare names and plain paths never get past this.
    if (g_snapshot.depth != 0) {
        if (auto found = SearchPlainName(name, absolute)) return *found;
    }
    if (name.find('/') != std::string::npos) {
        std::string found = MatchIgnoringCase(absolute(name));
        return found.empty() ? "" : absolute(found);
    }

    const std::vector<fs::path> dirs = SearchDirectories();
    for (const auto& dir : dirs)
        if (IsFileIn(dir, name)) return absolute(dir / name);
    // Letter case is ignored in the installation's own directories (the first four), not
    // along the PATH, whose directories can be large.
    const std::string lower = LowerCase(name);
    for (std::size_t i = 0; i < dirs.size() && i < 4; ++i) {
        const std::string match = NameIgnoringCase(dirs[i], lower);
        if (!match.empty() && IsFileIn(dirs[i], match)) return absolute(dirs[i] / match);
    }
    return {};
}

}  // namespace platform

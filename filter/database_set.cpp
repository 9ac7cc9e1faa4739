#include "filter/database_set.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>
#include <utility>

namespace filter {
namespace {

// The watched mappings, readable from the signal handler without locks.
constexpr std::size_t kWatchSlots = 64;
std::atomic<std::uintptr_t> g_watchStart[kWatchSlots];
std::atomic<std::uintptr_t> g_watchEnd[kWatchSlots];
std::atomic<std::uint64_t> g_faults{0};
struct sigaction g_previousBus {};

void OnBusError(int signal, siginfo_t* info, void* context) {
    const auto at = reinterpret_cast<std::uintptr_t>(info->si_addr);
    for (std::size_t i = 0; i < kWatchSlots; ++i) {
        const std::uintptr_t start = g_watchStart[i].load(std::memory_order_acquire);
        if (start == 0 || at < start || at >= g_watchEnd[i].load(std::memory_order_acquire))
            continue;
        const std::uintptr_t page = at & ~(static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE)) - 1);
        if (::mmap(reinterpret_cast<void*>(page), static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)),
                   PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
            g_faults.fetch_add(1, std::memory_order_relaxed);
            return;
        }
    }
    // Not ours: what would have happened without this handler.
    if (g_previousBus.sa_flags & SA_SIGINFO) {
        if (g_previousBus.sa_sigaction) return g_previousBus.sa_sigaction(signal, info, context);
    } else if (g_previousBus.sa_handler != SIG_DFL && g_previousBus.sa_handler != SIG_IGN) {
        return g_previousBus.sa_handler(signal);
    }
    ::signal(SIGBUS, SIG_DFL);
    ::raise(SIGBUS);
}

void InstallGuard() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action {};
        action.sa_sigaction = OnBusError;
        action.sa_flags = SA_SIGINFO | SA_NODEFER;
        sigemptyset(&action.sa_mask);
        sigaction(SIGBUS, &action, &g_previousBus);
    });
}

std::mutex g_watchMutex;  // between the threads that map and unmap

void Watch(const void* data, std::size_t size) {
    InstallGuard();
    std::lock_guard lock(g_watchMutex);
    for (std::size_t i = 0; i < kWatchSlots; ++i) {
        if (g_watchStart[i].load() != 0) continue;
        g_watchEnd[i].store(reinterpret_cast<std::uintptr_t>(data) + size, std::memory_order_release);
        g_watchStart[i].store(reinterpret_cast<std::uintptr_t>(data), std::memory_order_release);
        return;
    }
}

void Unwatch(const void* data) {
    std::lock_guard lock(g_watchMutex);
    for (std::size_t i = 0; i < kWatchSlots; ++i)
        if (g_watchStart[i].load() == reinterpret_cast<std::uintptr_t>(data)) g_watchStart[i].store(0);
}

}  // namespace

std::uint64_t MappingFaults() {
    return g_faults.load(std::memory_order_relaxed);
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
    if (this != &other) {
        if (data_) {
            Unwatch(data_);
            ::munmap(const_cast<std::uint8_t*>(data_), size_);
        }
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

MappedFile::~MappedFile() {
    if (data_) {
        Unwatch(data_);
        ::munmap(const_cast<std::uint8_t*>(data_), size_);
    }
}

bool MappedFile::Open(const std::string& path, std::string& error) {
    *this = MappedFile{};
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0;
    if (ok && !S_ISREG(st.st_mode)) {
        error = path + ": not a regular file";
        ok = false;
    } else if (ok && st.st_size > 0) {
        void* p = ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_SHARED, fd, 0);
        if (p == MAP_FAILED) {
            error = path + ": cannot map: " + std::strerror(errno);
            ok = false;
        } else {
            data_ = static_cast<const std::uint8_t*>(p);
            size_ = static_cast<std::size_t>(st.st_size);
            Watch(data_, size_);
        }
    } else if (!ok) {
        error = path + ": " + std::strerror(errno);
    }
    ::close(fd);
    return ok;
}

bool FileIdentity::operator==(const FileIdentity& o) const {
    return device == o.device && inode == o.inode && size == o.size &&
           modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec;
}

bool IdentifyFile(const std::string& path, FileIdentity& identity) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    identity = FileIdentity{st.st_dev, st.st_ino, st.st_size, st.st_mtim};
    return true;
}

KeyForm DetectKeyForm(const dbread::DatabaseImage& image, KeyForm fallback) {
    dbread::AddressEntry sentinel;
    std::string error;
    if (dbread::FindAddress(image, 0xFFFFFFFF, sentinel, error) != dbread::Lookup::kFound)
        return fallback;
    const auto text = dbread::PathKeyText("TEST");
    const auto segments = dbread::PathKeySegments("TEST");
    for (const auto& item : sentinel.items) {
        if (item.key == text) return KeyForm::kText;
        if (item.key == segments) return KeyForm::kSegments;
    }
    return fallback;
}

namespace {

bool OpenOne(const std::string& path, Sense sense, KeyForm fallback, OpenDatabase& db,
             std::string& error) {
    if (path.empty()) {
        error = "no path is published for a database";
        return false;
    }
    db.path = path;
    db.sense = sense;
    if (!IdentifyFile(path, db.identity) || !db.file.Open(path, error)) {
        if (error.empty()) error = path + ": " + std::strerror(errno);
        return false;
    }
    std::string why;
    if (!dbread::OpenImage(db.file.bytes(), db.image, why)) {
        error = path + ": " + why;
        return false;
    }
    if (!db.image.addressIndexBuilt || !db.image.nameIndexBuilt) {
        error = path + ": its indexes are not built";
        return false;
    }
    db.keyForm = DetectKeyForm(db.image, fallback);
    return true;
}

}  // namespace

bool OpenDatabaseSet(const PublishedPolicy& policy, DatabaseSet& set, std::string& error) {
    DatabaseSet fresh;
    if (!OpenOne(policy.restrictedFile, Sense::kRestricting, KeyForm::kSegments, fresh.restricted,
                 error) ||
        !OpenOne(policy.approvedFile, Sense::kApproving, KeyForm::kText, fresh.approved, error) ||
        !OpenOne(policy.noneNotFile, Sense::kRestricting, KeyForm::kSegments, fresh.noneNot,
                 error) ||
        !OpenOne(policy.noneYesFile, Sense::kApproving, KeyForm::kText, fresh.noneYes, error))
        return false;
    if (policy.dnsFile.empty()) {
        error = "no path is published for the DNS resolving database";
        return false;
    }
    fresh.dnsPath = policy.dnsFile;
    if (!IdentifyFile(fresh.dnsPath, fresh.dnsIdentity) || !fresh.dnsFile.Open(fresh.dnsPath, error)) {
        if (error.empty()) error = fresh.dnsPath + ": " + std::strerror(errno);
        return false;
    }
    std::string why;
    if (!dbread::OpenDnsHashBytes(fresh.dnsFile.bytes(), fresh.dns, why)) {
        error = fresh.dnsPath + ": " + why;
        return false;
    }
    fresh.opened = std::time(nullptr);
    set = std::move(fresh);
    return true;
}

bool SetIsCurrent(const DatabaseSet& set, const PublishedPolicy& policy) {
    auto same = [](const std::string& path, const std::string& openPath, const FileIdentity& id) {
        FileIdentity now;
        return path == openPath && IdentifyFile(path, now) && now == id;
    };
    return same(policy.restrictedFile, set.restricted.path, set.restricted.identity) &&
           same(policy.approvedFile, set.approved.path, set.approved.identity) &&
           same(policy.noneNotFile, set.noneNot.path, set.noneNot.identity) &&
           same(policy.noneYesFile, set.noneYes.path, set.noneYes.identity) &&
           same(policy.dnsFile, set.dnsPath, set.dnsIdentity);
}

}  // namespace filter

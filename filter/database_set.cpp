#include "filter/database_set.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace filter {

MappedFile::MappedFile(MappedFile&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
    if (this != &other) {
        if (data_) ::munmap(const_cast<std::uint8_t*>(data_), size_);
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

MappedFile::~MappedFile() {
    if (data_) ::munmap(const_cast<std::uint8_t*>(data_), size_);
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

namespace {

// The console marks every database with the address 255.255.255.255 and a path item made
// from "TEST"; the form of that key tells the form of all keys in the file.
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

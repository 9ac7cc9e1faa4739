// The file layer: opens with the console's OpenFile modes, existence tests, deletion
// with a gone-or-not result, file dates as 16-bit DOS dates (universal time), a search
// that turns a bare file name into a full path, and replace-by-rename.
//
// Handles are POSIX file descriptors (-1 = failure); FileHandle closes one when it goes.
// Sharing modes are honoured between the console's own opens through advisory locks:
// an open that denies writing holds a shared lock for its lifetime, and a write open or
// a deletion fails while such a lock is held anywhere (Linux itself has no sharing modes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <span>
#include <string>

namespace platform {

// OpenFile flags.
constexpr int kOfRead = 0x0000;
constexpr int kOfWrite = 0x0001;
constexpr int kOfReadWrite = 0x0002;
constexpr int kOfShareExclusive = 0x0010;
constexpr int kOfShareDenyWrite = 0x0020;
constexpr int kOfShareDenyRead = 0x0030;
constexpr int kOfShareDenyNone = 0x0040;
constexpr int kOfDelete = 0x0200;
constexpr int kOfCreate = 0x1000;
constexpr int kOfExist = 0x4000;

// Owns a descriptor and closes it.
class FileHandle {
  public:
    FileHandle() = default;
    explicit FileHandle(int fd) : fd_(fd) {}
    FileHandle(FileHandle&& o) noexcept : fd_(o.release()) {}
    FileHandle& operator=(FileHandle&& o) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle() { reset(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1);

  private:
    int fd_ = -1;
};

// OpenFile: for kOfExist the result is 1 when the file exists, -1 when not; for
// kOfDelete 1 when the file was deleted, -1 when not; otherwise a handle or -1. kOfCreate
// never follows a link at `path` (the open fails instead).
int OpenFileMode(const std::string& path, int mode);
void CloseFile(int handle);
// Who may read a file made new: everyone (0644), or its owner only (0600, from the moment
// it exists).
enum class FileAccess { kEveryoneReads, kOwnerOnly };
// Creates `path` as a new file for reading and writing, never through a link and never
// over a name that exists (errno EEXIST then): a handle, or -1. A step of the fault layer.
int CreateNewFile(const std::string& path, FileAccess access = FileAccess::kEveryoneReads);
// Creates a new file named `prefix` and kUniqueSuffixLength random letters or digits the
// way CreateNewFile does, trying other names while one is taken: a handle with the name in
// `path`, or -1.
constexpr int kUniqueSuffixLength = 6;
int CreateUniqueFile(const std::string& prefix, std::string& path,
                     FileAccess access = FileAccess::kEveryoneReads);
// True when an open of the console's (in any process) denies writing to the regular file
// at `path`; false when none does or there is no such file.
bool WriteDeniedAt(const std::string& path);
// The last-write moment of the file at `path`, to the nanosecond; false when there is none.
bool ModificationTime(const std::string& path, std::timespec& time);

bool FileExists(const std::string& path);

// Reads or writes the whole span at the file position; false on error or short end.
bool ReadExact(int handle, std::span<std::uint8_t> out);
bool WriteAll(int handle, std::span<const std::uint8_t> data);
// Writes the whole span at `offset`, leaving the file position alone; threads may write
// different parts of one file at once.
bool WriteAllAt(int handle, std::int64_t offset, std::span<const std::uint8_t> data);
// Bytes read (up to out.size()), -1 on error.
long ReadSome(int handle, std::span<std::uint8_t> out);
bool SeekTo(int handle, std::int64_t offset);
std::int64_t FileSize(int handle);
bool FlushFile(int handle);
// Asks the system to start writing [offset, offset + length) of the file to disk without
// waiting for it, so that a FlushFile later has less left to wait for. Only a hint.
void StartWriteback(int handle, std::int64_t offset, std::int64_t length);

// The date of a moment as a DOS date, in universal time: (year - 1980) * 512 +
// month * 32 + day, clamped to 1980-01-01 .. 2107-12-31.
std::uint16_t DosDateFromTime(std::time_t t);
std::uint16_t DosTimeFromTime(std::time_t t);
// The moment a DOS date and time name, taken as universal time.
std::time_t TimeFromDosDateTime(std::uint16_t date, std::uint16_t time);
// Last-write date of an open file as a DOS date; -1 when it cannot be read.
int FileDosDate(int handle);
bool SetFileWriteTime(const std::string& path, std::time_t t);

// Renames `from` onto `to`, replacing it.
bool ReplaceFile(const std::string& from, const std::string& to);
// Removes the file at `path` (whoever holds it); false when it could not be removed.
bool RemoveFile(const std::string& path);
// A file that ReplaceFile, RemoveFile or OpenFile's delete mode takes away leaves its
// name at once; its data is let go on a helper thread, so that the caller does not wait
// while a large file's pages and blocks are freed.

// Replaces the file at `path` with `data` so that a failure or a crash at any moment
// leaves either the old or the new content whole: the data goes to a new file of its own,
// "<path>.new-" and six random letters (created exclusively, never through a link), is
// flushed, and is renamed into place. On failure the old file is untouched and the
// temporary file removed.
bool WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> data,
                         FileAccess access = FileAccess::kEveryoneReads);
// Flushes the directory of `path`, so that a rename into it survives a crash.
void SyncDirectoryOf(const std::string& path);

// Creates the missing directories of `directory`, none of them writable by group or others.
void CreateDirectories(const std::string& directory);

// Takes the lock of a directory (flock on the directory itself, so no file is made for it)
// that one process at a time holds; waits up to `waitMs` for another holder to let go. A
// valid handle holds the lock until it is closed; -1 when it could not be had (errno
// EWOULDBLOCK when another holder kept it).
FileHandle LockDirectory(const std::string& directory, int waitMs);

// Finds a file the way OpenFile searches: a name with a '/' is taken as it stands;
// a bare name is looked for in the current directory, the program directory, the
// Windows SYSTEM directory, the Windows directory and the PATH. Returns the absolute
// path, or empty text when the file is not found.
std::string SearchFile(const std::string& name);

// While one lives, SearchFile reads each directory it looks in once and answers from that
// listing instead of asking the file system about every name: a database build looks for
// every site entry, thousands of them, in the same dozen directories. Files created or
// removed meanwhile are not seen until the last snapshot ends; nested ones share the
// outermost one's listings. Other readers may likewise take a file they checked during the
// snapshot as unchanged but for their own writes (see FileSearchSnapshotId).
class FileSearchSnapshot {
  public:
    FileSearchSnapshot();
    ~FileSearchSnapshot();
    FileSearchSnapshot(const FileSearchSnapshot&) = delete;
    FileSearchSnapshot& operator=(const FileSearchSnapshot&) = delete;
};
// A number that names the live outermost snapshot (a new one for each), or 0 when none is.
std::uint64_t FileSearchSnapshotId();

// Fault injection, for tests of what a failure at any step leaves on disk. Every
// operation that changes the file system (an open that writes or creates, a write, a
// flush, a rename, a deletion, a time stamp) is a step; InjectFileFault(n) makes the
// n-th such step from now on fail (n >= 1), as a full disk or a crash would.
void InjectFileFault(int n);
void ClearFileFaults();
// A process started with VELDANA_CRASH_AT_FILE_STEP=n kills itself (SIGKILL) at the n-th
// such step it takes, before doing it: what a crash at that moment leaves can be tested.
// Steps counted since the last InjectFileFault or ClearFileFaults.
int FileStepCount();

}  // namespace platform

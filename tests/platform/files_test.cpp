#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

#include "tests/support/temp_install.h"

namespace {

using namespace platform;

std::span<const std::uint8_t> Bytes(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

class FilesTest : public ::testing::Test {
  protected:
    testsupport::TempInstall install;
    void TearDown() override { ClearFileFaults(); }
};

TEST_F(FilesTest, DosDatesAreTakenInUniversalTime) {
    struct Case {
        const char* when;
        std::time_t t;
        int date;
    };
    const Case cases[] = {
        {"16 July 1995, noon", 805896000, 15 * 512 + 7 * 32 + 16},  // 7920
        {"31 Dec 2026, 23:59:59 UTC", 1798761599, 46 * 512 + 12 * 32 + 31},
        {"1 Jan 1980", 315532800, 0 * 512 + 1 * 32 + 1},
        {"before 1980 clamps", 0, 33},
    };
    setenv("TZ", "Pacific/Kiritimati", 1);  // UTC+14: a local date would differ
    tzset();
    std::string path = install.file("dated");
    install.writeFile(path, "x");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.when);
        ASSERT_TRUE(SetFileWriteTime(path, c.t));
        FileHandle f(OpenFileMode(path, kOfRead | kOfShareDenyNone));
        ASSERT_TRUE(f.valid());
        EXPECT_EQ(FileDosDate(f.get()), c.date);
        EXPECT_EQ(DosDateFromTime(c.t), c.date);
    }
    unsetenv("TZ");
    tzset();
    EXPECT_EQ(TimeFromDosDateTime(7920, (12 << 11) | (30 << 5) | 5), 805897810);
}

TEST_F(FilesTest, OpenModes) {
    std::string path = install.file("data");
    EXPECT_EQ(OpenFileMode(path, kOfRead), -1);
    EXPECT_EQ(OpenFileMode(path, kOfExist), -1);

    FileHandle created(OpenFileMode(path, kOfCreate));
    ASSERT_TRUE(created.valid());
    ASSERT_TRUE(WriteAll(created.get(), Bytes("hello")));
    created.reset();
    EXPECT_EQ(OpenFileMode(path, kOfExist), 1);

    FileHandle rw(OpenFileMode(path, kOfReadWrite | kOfShareDenyNone));
    ASSERT_TRUE(rw.valid());
    std::vector<std::uint8_t> buf(5);
    ASSERT_TRUE(ReadExact(rw.get(), buf));
    EXPECT_EQ(std::string(buf.begin(), buf.end()), "hello");
    EXPECT_EQ(FileSize(rw.get()), 5);
    EXPECT_FALSE(ReadExact(rw.get(), buf));  // at the end
    rw.reset();

    // Create truncates.
    FileHandle again(OpenFileMode(path, kOfCreate));
    ASSERT_TRUE(again.valid());
    EXPECT_EQ(FileSize(again.get()), 0);

    // A directory is not a file.
    std::string dir = install.file("adir");
    std::filesystem::create_directory(dir);
    EXPECT_EQ(OpenFileMode(dir, kOfRead), -1);
    EXPECT_EQ(OpenFileMode(dir, kOfExist), -1);
    EXPECT_EQ(OpenFileMode(dir, kOfDelete), -1);
}

TEST_F(FilesTest, DenyWriteBlocksWritersAndDeletionUntilClosed) {
    std::string path = install.file("shared");
    install.writeFile(path, "abc");
    FileHandle reader(OpenFileMode(path, kOfRead | kOfShareDenyWrite));
    ASSERT_TRUE(reader.valid());

    FileHandle second(OpenFileMode(path, kOfRead | kOfShareDenyWrite));
    EXPECT_TRUE(second.valid()) << "two readers that deny writing coexist";
    second.reset();

    EXPECT_EQ(OpenFileMode(path, kOfReadWrite | kOfShareDenyNone), -1);
    EXPECT_EQ(OpenFileMode(path, kOfCreate), -1);
    EXPECT_EQ(OpenFileMode(path, kOfDelete), -1);
    EXPECT_EQ(install.readFile(path), "abc") << "a refused create must not truncate";

    reader.reset();
    EXPECT_EQ(OpenFileMode(path, kOfDelete), 1);
    EXPECT_FALSE(FileExists(path));
    EXPECT_EQ(OpenFileMode(path, kOfDelete), -1);
}

// Descriptors of this process that still refer to a file once named `path`.
int HeldAfterRemoval(const std::string& path) {
    int held = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        const std::string target = std::filesystem::read_symlink(entry.path(), ec).string();
        if (!ec && target == path + " (deleted)") ++held;
    }
    return held;
}

// Removing or replacing a file takes its name at once and lets its data go soon after, on
// a helper thread; a FIFO is removed without being opened.
TEST_F(FilesTest, RemovedAndReplacedFilesLoseTheirNameAtOnceAndTheirDataSoon) {
    const std::string path = install.file("big.bin"), other = install.file("other.bin");
    const struct {
        const char* what;
        bool fifo;
        std::function<bool()> take;
        bool exists;
    } cases[] = {
        {"delete mode", false, [&] { return OpenFileMode(path, kOfDelete) == 1; }, false},
        {"RemoveFile", false, [&] { return RemoveFile(path); }, false},
        {"ReplaceFile", false, [&] { return ReplaceFile(other, path); }, true},
        {"delete mode, FIFO", true, [&] { return OpenFileMode(path, kOfDelete) == 1; }, false},
        {"RemoveFile, FIFO", true, [&] { return RemoveFile(path); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.fifo)
            ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
        else
            install.writeFile(path, std::string(1 << 20, 'o'));
        install.writeFile(other, "new");
        ASSERT_TRUE(c.take());
        EXPECT_EQ(FileExists(path), c.exists);
        if (c.exists) {
            EXPECT_EQ(install.readFile(path), "new");
        }
        int held = HeldAfterRemoval(path);
        for (int wait = 0; held != 0 && wait < 1000; ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            held = HeldAfterRemoval(path);
        }
        EXPECT_EQ(held, 0);
        std::filesystem::remove(path);
    }
    EXPECT_FALSE(RemoveFile(path)) << "nothing to remove";
}

// The same answers whether each name goes to the file system or a snapshot of the
// directories answers it.
TEST_F(FilesTest, SearchFindsBareNamesInTheInstallationAndKeepsPaths) {
    install.writeFile(install.file("INPROG.TXT"), "p");
    install.writeFile(install.windowsDir() + "/SYSTEM/INSYS.TXT", "s");
    install.writeFile(install.windowsDir() + "/INWIN.TXT", "w");
    std::filesystem::create_directories(install.file("Sub/Deeper"));
    install.writeFile(install.file("Sub/Deeper/Leaf.txt"), "l");
    const std::string prog = install.programDir();
    const struct {
        std::string name, found, why;
    } cases[] = {
        {"INPROG.TXT", install.file("INPROG.TXT"), "program directory"},
        {"INSYS.TXT", install.windowsDir() + "/SYSTEM/INSYS.TXT", "Windows SYSTEM directory"},
        {"INWIN.TXT", install.windowsDir() + "/INWIN.TXT", "Windows directory"},
        {"sh", "/usr/bin/sh", "the PATH is searched last"},
        {prog + "/./INPROG.TXT", install.file("INPROG.TXT"), "a path is normalised"},
        {"inprog.txt", install.file("INPROG.TXT"), "case is ignored"},
        {prog + "/inProg.TXT", install.file("INPROG.TXT"), "case is ignored in a path"},
        {prog + "/sub/DEEPER/leaf.TXT", install.file("Sub/Deeper/Leaf.txt"),
         "case is ignored in every component"},
        {prog + "/Sub/Deeper", "", "a directory is not a file"},
        {prog + "/Sub/Deeper/", "", "nor is a name ending in '/'"},
        {prog + "/Sub/Nothing/Leaf.txt", "", "a missing directory on the way"},
        {"Sub", "", "a bare directory name"},
        {"NOWHERE.TXT", "", "missing"},
        {"www.example.test/index.html", "", "a site with a path"},
        {"", "", "empty"},
    };
    for (bool snapshot : {false, true}) {
        std::optional<FileSearchSnapshot> scope;
        if (snapshot) scope.emplace();
        for (const auto& c : cases)
            EXPECT_EQ(SearchFile(c.name), c.found) << c.why << (snapshot ? " (snapshot)" : "");
    }
}

// Inside a snapshot a file made meanwhile is not seen; once the last one ends it is.
TEST_F(FilesTest, SearchSnapshotAnswersFromTheListingsItTook) {
    install.writeFile(install.file("FIRST.TXT"), "1");
    {
        FileSearchSnapshot outer;
        EXPECT_EQ(SearchFile("first.txt"), install.file("FIRST.TXT"));
        install.writeFile(install.file("LATER.TXT"), "2");
        {
            FileSearchSnapshot inner;
            EXPECT_EQ(SearchFile("LATER.TXT"), "");
        }
        EXPECT_EQ(SearchFile("LATER.TXT"), "") << "the outer snapshot still holds";
    }
    EXPECT_EQ(SearchFile("LATER.TXT"), install.file("LATER.TXT"));
}

// A save that fails at any of its steps (as a full disk or a crash would) leaves the old
// content whole; once every step succeeds the new content is there whole.
TEST_F(FilesTest, AtomicWriteLeavesOldOrNewContentAtEveryFailingStep) {
    std::string path = install.file("precious");
    const std::string oldContent(5000, 'o'), newContent(7000, 'n');
    install.writeFile(path, oldContent);

    ClearFileFaults();
    std::string probe = install.file("probe");
    ASSERT_TRUE(WriteFileAtomically(probe, Bytes(newContent)));
    int steps = FileStepCount();
    ASSERT_GE(steps, 4);  // open, write, flush, rename

    for (int failAt = 1; failAt <= steps; ++failAt) {
        SCOPED_TRACE(failAt);
        InjectFileFault(failAt);
        EXPECT_FALSE(WriteFileAtomically(path, Bytes(newContent)));
        EXPECT_EQ(install.readFile(path), oldContent);
        for (const auto& e : std::filesystem::directory_iterator(install.programDir()))
            EXPECT_EQ(e.path().filename().string().find(".new"), std::string::npos)
                << "left behind: " << e.path();
    }
    ClearFileFaults();
    ASSERT_TRUE(WriteFileAtomically(path, Bytes(newContent)));
    EXPECT_EQ(install.readFile(path), newContent);
}

// A file only its owner may read is so from the moment it exists, temporary name included:
// nobody can open it while it is written.
TEST_F(FilesTest, AFileForItsOwnerOnlyIsNeverReadableByOthers) {
    const std::string path = install.file("secret");
    for (auto [access, mode] : {std::pair{FileAccess::kOwnerOnly, 0600u},
                                std::pair{FileAccess::kEveryoneReads, 0644u}}) {
        ASSERT_TRUE(WriteFileAtomically(path, Bytes("token"), access));
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, mode);
    }
    std::string made;
    const int fd = CreateUniqueFile(install.file("t-"), made, FileAccess::kOwnerOnly);
    ASSERT_GE(fd, 0);
    struct stat st {};
    ASSERT_EQ(::fstat(fd, &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ::close(fd);
}

// Files are never created through a link: a link planted where a temporary or a new file
// would go does not send the data elsewhere.
TEST_F(FilesTest, NoWriteFollowsALinkToAnotherFile) {
    const std::string outside = install.root() + "/outside";
    install.writeFile(outside, "not yours");
    const std::string path = install.file("saved");
    ASSERT_EQ(::symlink(outside.c_str(), (path + ".new").c_str()), 0);
    ASSERT_TRUE(WriteFileAtomically(path, Bytes("content")));
    EXPECT_EQ(install.readFile(path), "content");
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));

    const std::string linked = install.file("linked");
    ASSERT_EQ(::symlink(outside.c_str(), linked.c_str()), 0);
    EXPECT_LT(OpenFileMode(linked, kOfCreate | kOfWrite), 0) << "a create never follows a link";
    std::string made;
    const int fd = CreateUniqueFile(install.file("x-"), made);
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_EQ(made.size(), install.file("x-").size() + kUniqueSuffixLength);
    EXPECT_EQ(install.readFile(outside), "not yours");
}

}  // namespace

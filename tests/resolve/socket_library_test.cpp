// The binding to WSOCK32.DLL: where it is looked for, the 45 entries bound by name, a
// library that lacks one, releasing it, and what loading it leaves untouched in the
// program (its exported names are libc's names too).
#include "resolve/socket_library.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/locations.h"
#include "tests/support/temp_install.h"

namespace {

using resolve::SocketLibrary;
using resolve::Sockets;

// The names in binding order, written out independently of the binding's own table.
const std::vector<std::string> kEntryNames = {
    "accept",
    "bind",
    "closesocket",
    "connect",
    "ioctlsocket",
    "getpeername",
    "getsockname",
    "getsockopt",
    "htonl",
    "htons",
    "inet_addr",
    "inet_ntoa",
    "listen",
    "ntohl",
    "ntohs",
    "recv",
    "recvfrom",
    "select",
    "send",
    "sendto",
    "setsockopt",
    "socket",
    "gethostbyaddr",
    "gethostbyname",
    "gethostname",
    "getservbyport",
    "getservbyname",
    "getprotobynumber",
    "getprotobyname",
    "WSAStartup",
    "WSACleanup",
    "WSASetLastError",
    "WSAGetLastError",
    "WSAIsBlocking",
    "WSAUnhookBlockingHook",
    "WSASetBlockingHook",
    "WSACancelBlockingCall",
    "WSAAsyncGetServByName",
    "WSAAsyncGetServByPort",
    "WSAAsyncGetProtoByName",
    "WSAAsyncGetProtoByNumber",
    "WSAAsyncGetHostByName",
    "WSAAsyncGetHostByAddr",
    "WSACancelAsyncRequest",
    "WSAAsyncSelect",
};

// The table's slots in order.
std::vector<void*> Slots() {
    static_assert(sizeof(resolve::SocketEntryTable) == 45 * sizeof(void*));
    std::vector<void*> slots(45);
    std::memcpy(slots.data(), &Sockets(), sizeof(resolve::SocketEntryTable));
    return slots;
}

bool Loaded(const std::string& path) {
    void* h = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (h == nullptr) return false;
    dlclose(h);
    return true;
}

// The file that a bound entry lives in.
std::string FileOf(void* entry) {
    Dl_info info{};
    if (entry == nullptr || dladdr(entry, &info) == 0 || info.dli_fname == nullptr) return {};
    return std::filesystem::canonical(info.dli_fname).string();
}

std::string Canonical(const std::string& path) {
    return std::filesystem::canonical(path).string();
}

class SocketLibraryTest : public ::testing::Test {
  protected:
    void SetUp() override { resolve::ResetSocketLibrary(); }
    void TearDown() override { resolve::ResetSocketLibrary(); }

    void Place(const std::string& from, const std::string& dir) const {
        std::filesystem::create_directories(dir);
        std::filesystem::copy_file(from, dir + "/WSOCK32.DLL",
                                   std::filesystem::copy_options::overwrite_existing);
    }

    testsupport::TempInstall install;
    const std::string systemDir = install.windowsDir() + "/SYSTEM";
    const std::string besideExe = platform::ExecutableDirectory() + "/WSOCK32.DLL";
};

TEST_F(SocketLibraryTest, LooksInProgramThenSystemThenExecutableDirectory) {
    EXPECT_EQ(resolve::SocketLibraryCandidates(),
              (std::vector<std::string>{install.programDir() + "/WSOCK32.DLL",
                                        systemDir + "/WSOCK32.DLL", besideExe}));
}

TEST_F(SocketLibraryTest, BindsAllEntriesByNameInTableOrder) {
    ASSERT_EQ(resolve::LoadSocketLibrary(), 1);
    void* module = SocketLibrary().SocketLibraryHandle;
    ASSERT_NE(module, nullptr);
    std::vector<void*> slots = Slots();
    for (std::size_t i = 0; i < kEntryNames.size(); ++i) {
        SCOPED_TRACE(kEntryNames[i]);
        EXPECT_NE(slots[i], nullptr);
        EXPECT_EQ(slots[i], dlsym(module, kEntryNames[i].c_str()));
    }
    EXPECT_EQ(resolve::BindSocketEntries(module), 1);
    EXPECT_EQ(resolve::BindSocketEntries(nullptr), 0);
}

TEST_F(SocketLibraryTest, FirstPlaceHoldingTheLibraryWins) {
    const std::string real = VELDANA_WSOCK32_PATH;
    struct Case {
        const char* name;
        bool inProgramDir;
        bool inSystemDir;
        std::string expected;
    };
    const Case cases[] = {
        {"program and system directory", true, true, install.programDir() + "/WSOCK32.DLL"},
        {"system directory only", false, true, systemDir + "/WSOCK32.DLL"},
        {"neither", false, false, besideExe},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(install.programDir() + "/WSOCK32.DLL");
        std::filesystem::remove(systemDir + "/WSOCK32.DLL");
        if (c.inProgramDir) Place(real, install.programDir());
        if (c.inSystemDir) Place(real, systemDir);

        ASSERT_EQ(resolve::LoadSocketLibrary(), 1);
        EXPECT_EQ(SocketLibrary().path, c.expected);
        EXPECT_EQ(FileOf(reinterpret_cast<void*>(Sockets().socket)), Canonical(c.expected));
        resolve::UnloadSocketLibrary();
        EXPECT_FALSE(Loaded(c.expected));
    }
}

TEST_F(SocketLibraryTest, LibraryLackingAnEntryLeavesNothingLoaded) {
    const std::string lacking = VELDANA_WSOCK32_WITHOUT_ASYNC_SELECT;
    {
        // The variant lacks exactly the last entry of the table.
        void* h = dlopen(lacking.c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(dlsym(h, "WSAAsyncSelect"), nullptr);
        EXPECT_NE(dlsym(h, "WSACancelAsyncRequest"), nullptr);
        EXPECT_EQ(resolve::BindSocketEntries(h), 0);
        EXPECT_EQ(Sockets().accept, nullptr) << "a failed binding leaves the table empty";
        dlclose(h);
    }
    Place(lacking, install.programDir());
    const std::string placed = install.programDir() + "/WSOCK32.DLL";

    EXPECT_EQ(resolve::LoadSocketLibrary(), 0);
    EXPECT_EQ(SocketLibrary().SocketLibraryHandle, nullptr);
    for (void* slot : Slots()) EXPECT_EQ(slot, nullptr);
    EXPECT_FALSE(Loaded(placed));
    // The complete copy beside the executable is not taken instead.
    EXPECT_FALSE(Loaded(besideExe));
}

TEST_F(SocketLibraryTest, FileThatDoesNotLoadIsAFailure) {
    install.writeFile(install.programDir() + "/WSOCK32.DLL", "not a shared object");
    EXPECT_EQ(resolve::LoadSocketLibrary(), 0);
    EXPECT_EQ(SocketLibrary().SocketLibraryHandle, nullptr);
    EXPECT_EQ(Sockets().WSAStartup, nullptr);
}

TEST_F(SocketLibraryTest, LoadWhenLoadedAndUnloadTwice) {
    ASSERT_EQ(resolve::LoadSocketLibrary(), 1);
    void* module = SocketLibrary().SocketLibraryHandle;
    ASSERT_EQ(resolve::LoadSocketLibrary(), 1);
    EXPECT_EQ(SocketLibrary().SocketLibraryHandle, module);

    resolve::UnloadSocketLibrary();
    EXPECT_EQ(SocketLibrary().SocketLibraryHandle, nullptr);
    EXPECT_EQ(Sockets().recv, nullptr);
    EXPECT_FALSE(Loaded(besideExe)) << "a second load must not take a second reference";
    resolve::UnloadSocketLibrary();
    EXPECT_EQ(SocketLibrary().SocketLibraryHandle, nullptr);

    ASSERT_EQ(resolve::LoadSocketLibrary(), 1);
    EXPECT_NE(Sockets().recv, nullptr);
}

// The library exports the 45 entries and its host registration, nothing else, and imports
// none of the names it exports: its own system calls cannot land on its entries.
TEST_F(SocketLibraryTest, ExportsExactlyTheEntriesAndImportsNoneOfThem) {
    auto names = [](const std::string& options) {
        std::string out, err;
        EXPECT_EQ(
            testsupport::RunCommand("nm -D " + options + " '" VELDANA_WSOCK32_PATH "'", &out, &err),
            0)
            << err;
        std::set<std::string> result;
        std::istringstream lines(out);
        for (std::string line; std::getline(lines, line);) {
            std::string name = line.substr(line.find_last_of(' ') + 1);
            result.insert(name.substr(0, name.find('@')));
        }
        return result;
    };
    std::set<std::string> expected(kEntryNames.begin(), kEntryNames.end());
    expected.insert("VeldanaSocketHost");
    EXPECT_EQ(names("--defined-only"), expected);
    for (const std::string& imported : names("--undefined-only"))
        EXPECT_EQ(expected.count(imported), 0u) << imported << " is imported";
}

TEST_F(SocketLibraryTest, LoadingLeavesTheProgramsOwnSocketCallsAlone) {
    ASSERT_EQ(resolve::LoadSocketLibrary(), 1);
    // Not started: the library's socket() and select() would fail here.
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_GE(fd, 0);
    if (fd >= 0) ::close(fd);
    timeval zero{0, 0};
    EXPECT_EQ(::select(0, nullptr, nullptr, nullptr, &zero), 0);
    EXPECT_EQ(dlsym(RTLD_DEFAULT, "WSAStartup"), nullptr);
    EXPECT_NE(dlsym(RTLD_DEFAULT, "socket"), reinterpret_cast<void*>(Sockets().socket));
}

}  // namespace

// The console and the registry tool as programs, on throw-away installations.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "settings/settings_store.h"
#include "tests/support/temp_install.h"
#include "update/download_schedule.h"

namespace {

using testsupport::BuiltProgram;
using testsupport::RawNameList;
using testsupport::RunCommand;

const std::string kPolicyKey = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\W3Velda\\Services";

std::string Q(const std::string& s) { return "'" + s + "'"; }

// The files a quick run builds for the filter.
const char* const kDatabases[] = {"NoneNOT.BIN", "NoneYES.BIN", "VeldaNOT.BIN", "VeldaYES.BIN",
                                  "DNSHASH.DAT"};

class StartupTest : public ::testing::Test {
protected:
    testsupport::TempInstall install;
    std::string veldana = BuiltProgram("veldana");
    std::string reg = BuiltProgram("veldana-reg");

    // Both category lists, counted as fetched today: no download is due, and a quick run
    // checks the databases.
    void InstallListsFetchedToday() {
        for (const char* list : {"VELDA.NOT", "VELDA.YES"}) {
            ASSERT_EQ(testsupport::MakeListFile(std::string("kind ") +
                                                    (list[6] == 'N' ? "restricted" : "approved") +
                                                    "\naddress 192.0.2.1 0x0001\n",
                                                install.file(list)),
                      0);
        }
        const std::string today = std::to_string(update::DayNumber());
        settings::WriteSetting(settings::kKeyNotDownloadDay, {}, today);
        settings::WriteSetting(settings::kKeyYesDownloadDay, {}, today);
    }
    // veldana-db reads the file as a whole database.
    bool Complete(const std::string& file) {
        return RunCommand(BuiltProgram("veldana-db") + " info " + Q(install.file(file))) == 0;
    }
    // Temporary files of builds left in the program directory.
    std::vector<std::string> Temporaries() {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(install.programDir())) {
            const std::string name = e.path().filename().string();
            if (name.find(".TMP") != std::string::npos) names.push_back(name);
        }
        return names;
    }
};

// On a fresh installation the lists are due for download, and the test installation names
// no reachable update server: the quick run publishes everything it can and says that the
// download failed.
constexpr int kDownloadFailed = 4;
constexpr int kStoreNotWritable = 2;
constexpr int kBuildFailed = 3;

// The sanitizer build runs the long loops with a coarser stride: its programs are several
// times slower, and the release build covers every step.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

TEST_F(StartupTest, QuickRunOnAFreshInstallationPublishesEveryDefault) {
    // The variables point into directories that do not exist yet.
    std::filesystem::remove_all(install.programDir());
    std::string out, err;
    ASSERT_EQ(RunCommand(veldana + " /QR", &out, &err), kDownloadFailed) << err;
    EXPECT_EQ(err,
              "veldana: the category lists were due for download, and no update server gave "
              "them; nothing was installed\n");

    ASSERT_EQ(RunCommand(reg + " query " + Q(kPolicyKey), &out, &err), 0) << err;
    const std::string expected[] = {
        "    AM_End    REG_SZ    48\n",
        "    AM_Start    REG_SZ    33\n",
        "    DaysOfOperation    REG_SZ    0111110\n",
        "    IPLeisureDataFile    REG_SZ    " + install.file("VeldaYES.BIN") + "\n",
        "    IPNormalDataFile    REG_SZ    " + install.file("VeldaNOT.BIN") + "\n",
        "    LeisureContent    REG_SZ    16383\n",
        "    LeisureVeldaYES    REG_SZ    0\n",
        "    LeisureWEB    REG_SZ    1\n",
        "    LogSites    REG_SZ    0\n",
        "    NoneNOTFile    REG_SZ    " + install.file("NoneNOT.BIN") + "\n",
        "    NoneYESFile    REG_SZ    " + install.file("NoneYES.BIN") + "\n",
        "    NormalContent    REG_SZ    16383\n",
        "    NormalVeldaYES    REG_SZ    0\n",
        "    NormalWEB    REG_SZ    1\n",
        "    PM_End    REG_SZ    69\n",
        "    PM_Start    REG_SZ    52\n",
        "    RedirectedSite    REG_SZ    http://www.veldana.example/proxy/restrict.htm\n",
        "    VELDADATA_Changed    REG_SZ    1\n",
    };
    std::string all;
    for (const auto& line : expected) all += line;
    EXPECT_EQ(out, "\nHKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\W3Velda\\Services\n" +
                       all);
}

TEST_F(StartupTest, ExportReimportsIntoAnEmptyStoreToTheSameContent) {
    ASSERT_EQ(RunCommand(veldana + " /qr"), kDownloadFailed);
    ASSERT_EQ(RunCommand(reg + " add 'HKLM\\SOFTWARE\\Odd' /v 'quote\"back\\slash' /d 'a\"b\\c'"), 0);
    ASSERT_EQ(RunCommand(reg + " add 'HKLM\\SOFTWARE\\Odd' /v Count /t REG_DWORD /d 0x1234"), 0);
    ASSERT_EQ(RunCommand(reg + " add 'HKLM\\SOFTWARE\\Odd' /v Blob /t REG_BINARY /d 00ff10"), 0);
    ASSERT_EQ(RunCommand(reg + " add 'HKLM\\SOFTWARE\\Odd' /ve /d default"), 0);
    ASSERT_EQ(RunCommand(reg + " add 'HKLM\\SOFTWARE\\Empty\\Key'"), 0);

    std::string first = install.root() + "/first.reg", second = install.root() + "/second.reg";
    std::string out, err;
    ASSERT_EQ(RunCommand(reg + " export " + Q(first), &out, &err), 0) << err;

    std::string other = "VELDANA_REGISTRY=" + Q(install.root() + "/other.db") + " ";
    ASSERT_EQ(RunCommand(other + reg + " import " + Q(first), &out, &err), 0) << err;
    ASSERT_EQ(RunCommand(other + reg + " export " + Q(second), &out, &err), 0) << err;
    std::string a = install.readFile(first), b = install.readFile(second);
    EXPECT_EQ(a, b);
    EXPECT_NE(a.find("\"quote\\\"back\\\\slash\"=\"a\\\"b\\\\c\""), std::string::npos) << a;
    EXPECT_NE(a.find("\"Count\"=dword:00001234"), std::string::npos);
    EXPECT_NE(a.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Empty\\Key]"), std::string::npos);
}

TEST_F(StartupTest, RegistryToolCommandsAndErrors) {
    std::string out, err;
    EXPECT_EQ(RunCommand(reg + " add 'HKLM\\SOFTWARE\\T' /v Name /d value", &out, &err), 0) << err;
    EXPECT_EQ(RunCommand(reg + " query 'HKLM\\SOFTWARE\\T' /v name", &out, &err), 0);
    EXPECT_EQ(out, "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\T\n    name    REG_SZ    value\n");
    EXPECT_EQ(RunCommand(reg + " delete 'HKLM\\SOFTWARE\\T' /v Name /f", &out, &err), 0);
    EXPECT_EQ(RunCommand(reg + " query 'HKLM\\SOFTWARE\\T' /v Name", &out, &err), 1);
    EXPECT_NE(err.find("unable to find"), std::string::npos);
    EXPECT_EQ(RunCommand(reg + " delete 'HKLM\\SOFTWARE' /f", &out, &err), 0);
    EXPECT_EQ(RunCommand(reg + " query 'HKLM\\SOFTWARE\\T'", &out, &err), 1);

    EXPECT_EQ(RunCommand(reg + " query 'HKCU\\Software'", &out, &err), 1);
    EXPECT_NE(err.find("Invalid key name"), std::string::npos);
    EXPECT_EQ(RunCommand(reg + " add 'HKLM\\X' /v n /t REG_DWORD /d nope", &out, &err), 1);
    EXPECT_EQ(RunCommand(reg + " frobnicate x", &out, &err), 1);

    install.writeFile(install.root() + "/bad.reg",
                      "Windows Registry Editor Version 5.00\n\n[HKLM\\A]\n\"v\"=dword:xyz\n");
    EXPECT_EQ(RunCommand(reg + " import " + Q(install.root() + "/bad.reg"), &out, &err), 1);
    EXPECT_NE(err.find("line 4"), std::string::npos) << err;
}

TEST_F(StartupTest, ABrokenStoreIsReportedAndNeverChanged) {
    std::string junk(3000, '\x17');
    install.writeFile(install.registryPath(), junk);
    std::string out, err;
    EXPECT_EQ(RunCommand(veldana + " /qr", &out, &err), kStoreNotWritable);
    EXPECT_NE(err.find("veldana: the policy could not be published"), std::string::npos) << err;
    EXPECT_EQ(RunCommand(reg + " query " + Q(kPolicyKey), &out, &err), 1);
    EXPECT_NE(err.find("not a valid registry store"), std::string::npos) << err;
    EXPECT_EQ(RunCommand(reg + " add 'HKLM\\X' /v a /d b", &out, &err), 1);
    EXPECT_EQ(install.readFile(install.registryPath()), junk);
}

TEST_F(StartupTest, AStoreOnAReadOnlyPathReadsButRefusesWrites) {
    ASSERT_EQ(RunCommand(veldana + " /qr"), kDownloadFailed);
    ASSERT_EQ(RunCommand(reg + " add 'HKLM\\SYSTEM\\CurrentControlSet\\Services\\W3Velda\\Services'"
                               " /v AM_Start /d 30"),
              0);
    if (RunCommand("unshare -m true") != 0) GTEST_SKIP() << "no mount namespaces here";
    // Inside a private mount namespace the Windows directory becomes read-only.
    std::string dir = Q(install.windowsDir());
    std::string script = "mount --bind " + dir + " " + dir + " && mount -o remount,ro,bind " +
                         dir + " " + dir + " && { " + veldana + " /qr; test $? -eq 2; } && " +
                         reg + " query " +
                         Q(kPolicyKey) + " /v AM_Start && ! " + reg +
                         " add 'HKLM\\SOFTWARE\\X' /v a /d b";
    std::string scriptFile = install.root() + "/readonly.sh";
    install.writeFile(scriptFile, script + "\n");
    std::string out, err;
    ASSERT_EQ(RunCommand("unshare -m sh " + Q(scriptFile), &out, &err), 0) << out << err;
    EXPECT_NE(out.find("AM_Start    REG_SZ    30"), std::string::npos) << out;
    EXPECT_NE(err.find("read-only"), std::string::npos) << err;
}

// The filter reads the store as another user. A read leaves no file behind (a WAL store's
// reader would leave -wal and -shm files owned by it), even where it could make them, and a
// store that an older console left in WAL mode is turned back on its next write.
TEST_F(StartupTest, AnotherUserReadsTheStoreAndLeavesNoFileBehind) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to read as another user";
    if (RunCommand("command -v setpriv >/dev/null") != 0) GTEST_SKIP() << "no setpriv";
    ASSERT_EQ(RunCommand(veldana + " /qr"), kDownloadFailed);
    const std::string store = install.registryPath();
    ASSERT_EQ(RunCommand("python3 -c \"import sqlite3; "
                         "sqlite3.connect('" + store + "').execute('pragma journal_mode=wal')\""),
              0);
    ASSERT_EQ(install.readFile(store)[18], 2) << "the store is in WAL mode";
    ASSERT_EQ(RunCommand(reg + " add " + Q(kPolicyKey) + " /v AM_Start /d 34"), 0);
    EXPECT_EQ(install.readFile(store)[18], 1) << "the write turned it to a rollback journal";

    std::filesystem::permissions(install.root(), std::filesystem::perms(0755));
    std::filesystem::permissions(install.windowsDir(), std::filesystem::perms(0777));
    std::string out, err;
    EXPECT_EQ(RunCommand("setpriv --reuid=65534 --regid=65534 --clear-groups " + reg +
                             " query " + Q(kPolicyKey) + " /v AM_Start",
                         &out, &err),
              0)
        << err;
    EXPECT_NE(out.find("AM_Start    REG_SZ    34"), std::string::npos) << out;
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(install.windowsDir()))
        if (e.path().filename().string().rfind("registry.db", 0) == 0)
            files.push_back(e.path().filename().string());
    EXPECT_EQ(files, std::vector<std::string>{"registry.db"});
    std::filesystem::permissions(install.windowsDir(), std::filesystem::perms(0755));
}

// The filter may read at any moment: it must never see VELDADATA_Changed = "1" before
// the values it announces.
TEST_F(StartupTest, ASecondProcessNeverSeesTheFlagBeforeTheValues) {
    std::string watcher = BuiltProgram("publish_watcher");
    if (access(watcher.c_str(), X_OK) != 0)
        watcher = std::string(VELDANA_BUILD_DIR) + "/tests/integration/publish_watcher";
    long sawInProgress = 0;
    for (int run = 0; run < 8; ++run) {
        SCOPED_TRACE(run);
        std::string store = install.root() + "/race" + std::to_string(run) + ".db";
        std::string ready = install.root() + "/ready" + std::to_string(run);
        std::string env = "VELDANA_REGISTRY=" + Q(store) + " ";
        std::string script = env + Q(watcher) + " " + Q(ready) + " > " + Q(ready + ".out") +
                             " & pid=$!; while [ ! -e " + Q(ready) +
                             " ]; do sleep 0.01; done; " + env + veldana + " /qr; wait $pid";
        std::string out, err;
        ASSERT_EQ(RunCommand(script, &out, &err), 0) << install.readFile(ready + ".out") << err;
        std::string verdict = install.readFile(ready + ".out");
        ASSERT_EQ(verdict.rfind("ok ", 0), 0u) << verdict;
        sawInProgress += std::stol(verdict.substr(3));
    }
    EXPECT_GT(sawInProgress, 0) << "the watcher never caught a publication in progress";
}

// One installation, several consoles: the start-up work is done by one at a time, so that
// every database the store names under "1" is complete whatever the order.
TEST_F(StartupTest, QuickRunsAtOnceTakeTurnsAndLeaveCompleteDatabases) {
    ASSERT_NO_FATAL_FAILURE(InstallListsFetchedToday());

    for (int round = 0; round < 6; ++round) {
        // Every other round, a stale database makes both runs want to rebuild.
        if (round % 2 == 1) install.writeFile(install.file("VeldaNOT.BIN"), "");
        std::string out, err;
        ASSERT_EQ(RunCommand("a=0; b=0; " + veldana + " /qr & p=$!; " + veldana +
                                 " /qr || b=$?; wait $p || a=$?; echo $a $b",
                             &out, &err),
                  0);
        EXPECT_EQ(out, "0 0\n") << "round " << round << ": " << err;
        EXPECT_EQ(settings::ReadSetting(settings::kKeyBinChanged), "1") << "round " << round;
        for (const char* file : kDatabases)
            EXPECT_TRUE(Complete(file)) << "round " << round << ": " << file;
        EXPECT_EQ(Temporaries(), std::vector<std::string>{}) << "round " << round;
    }

    // A console that finds the installation busy waits for it.
    std::string out, err;
    ASSERT_EQ(RunCommand("flock " + Q(install.programDir()) + " sleep 1.5 & sleep 0.3; "
                         "start=$(date +%s%N); " + veldana + " /qr; rc=$?; "
                         "echo $rc $(( ($(date +%s%N) - start) / 1000000 ))",
                         &out, &err),
              0);
    int rc = -1, waitedMs = 0;
    ASSERT_EQ(std::sscanf(out.c_str(), "%d %d", &rc, &waitedMs), 2) << out;
    EXPECT_EQ(rc, 0) << err;
    EXPECT_GE(waitedMs, 1000) << "it waited for the holder to let go";
}

// A console killed at any step of its file work (every write, flush, rename and removal of a
// rebuild) never leaves a database named under "1" that is not complete, and the next
// start-up repairs everything it left.
TEST_F(StartupTest, AConsoleKilledAtAnyStepLeavesNothingTheNextOneCannotRepair) {
    ASSERT_NO_FATAL_FAILURE(InstallListsFetchedToday());
    ASSERT_EQ(RunCommand(veldana + " /qr"), 0);

    // Every step of the run in turn, until a run takes fewer steps than the kill waits for.
    // (The sanitizer build, several times slower, kills at every third step.)
    int killed = 0;
    for (int step = 1; step < 5000; step += kSanitized ? 3 : 1) {
        // Alternately a list newer than its database, and a None database gone after a
        // failed rebuild (flag "0"): the two kinds of rebuild.
        if (step % 2 == 1) {
            install.writeFile(install.file("VELDA.NOT"), install.readFile(install.file("VELDA.NOT")));
        } else {
            settings::WriteSetting(settings::kKeyBinChanged, {}, "0");
            std::filesystem::remove(install.file("NoneYES.BIN"));
        }
        const int rc = RunCommand("VELDANA_CRASH_AT_FILE_STEP=" + std::to_string(step) + " " +
                                  veldana + " /qr");
        if (rc == 0) break;  // the run took fewer steps: every step was met
        ASSERT_EQ(rc, 128 + 9) << "step " << step << ": killed";
        ++killed;
        if (settings::ReadSetting(settings::kKeyBinChanged) == "1") {
            for (const char* file : kDatabases) EXPECT_TRUE(Complete(file)) << step << ": " << file;
        }
        ASSERT_EQ(RunCommand(veldana + " /qr"), 0) << "step " << step << ": the repair";
        EXPECT_EQ(settings::ReadSetting(settings::kKeyBinChanged), "1") << step;
        for (const char* file : kDatabases) EXPECT_TRUE(Complete(file)) << step << ": " << file;
        EXPECT_EQ(Temporaries(), std::vector<std::string>{}) << step;
    }
    EXPECT_GT(killed, kSanitized ? 16 : 50) << "a rebuild takes more steps than that";
}

// Lists and a store damaged by flipped bits: a run never crashes and never publishes a
// database that is not complete; a build that fails keeps the last good databases and says
// so; a store it refuses is never written; and once the damage is undone the next run
// builds everything again.
TEST_F(StartupTest, FlippedBitsInListsAndStoreNeverPublishABrokenDatabase) {
    ASSERT_NO_FATAL_FAILURE(InstallListsFetchedToday());
    install.writeFile(install.file("DNSRAW.NOT"), RawNameList("bad.example", 0x0909090a));
    install.writeFile(install.file("DNSRAW.YES"), RawNameList("good.example", 0x01646433));
    ASSERT_EQ(RunCommand(veldana + " /qr"), 0);
    // The flag as another process reads it (the store may be the damaged file).
    auto flagIsSet = [&] {
        std::string out;
        RunCommand(reg + " query " + Q(kPolicyKey) + " /v VELDABIN_Changed", &out);
        return out.find("REG_SZ    1") != std::string::npos;
    };

    const std::string victims[] = {"VELDA.NOT", "VELDA.YES", "DNSRAW.NOT", "DNSRAW.YES",
                                   "windows/registry.db"};
    std::mt19937 random(1210);
    constexpr int kRounds = kSanitized ? 10 : 30;
    int failed = 0;
    for (int round = 0; round < kRounds; ++round) {
        const std::string victim = victims[round % std::size(victims)];
        SCOPED_TRACE("round " + std::to_string(round) + ", " + victim);
        const std::string path = install.file(victim);
        testsupport::ResetAllState();  // this process lets go of the store
        const std::string original = install.readFile(path);
        std::string damaged = original;
        for (int flips = 1 + random() % 4; flips > 0; --flips)
            damaged[random() % damaged.size()] ^= static_cast<char>(1 << random() % 8);
        install.writeFile(path, damaged);  // and newer than what was built from it

        std::string out, err;
        const int rc = RunCommand(veldana + " /qr", &out, &err);
        ASSERT_TRUE(rc == 0 || rc == kStoreNotWritable || rc == kBuildFailed) << rc << "\n" << err;
        if (rc != 0) {
            ++failed;
            EXPECT_EQ(err.rfind("veldana: ", 0), 0u) << err;
        }
        if (rc == kStoreNotWritable && victim == victims[4]) {
            EXPECT_EQ(install.readFile(path), damaged) << "a refused store is never written";
        }
        // Under "1" every database is complete; after a failed build the last good ones are.
        if (flagIsSet() || rc == kBuildFailed) {
            for (const char* file : kDatabases) EXPECT_TRUE(Complete(file)) << file;
        }
        EXPECT_EQ(Temporaries(), std::vector<std::string>{});

        install.writeFile(path, original);
        ASSERT_EQ(RunCommand(veldana + " /qr", &out, &err), 0) << "undamaged again: " << err;
        EXPECT_TRUE(flagIsSet());
        for (const char* file : kDatabases) EXPECT_TRUE(Complete(file)) << file;
        if (HasFailure()) break;
    }
    std::printf("%d of %d damaged runs failed and said so\n", failed, kRounds);
}

// A full disk at any point of a rebuild: the build fails and says so, the last good databases
// stay whole and in use, and no temporary file is left. Each run gets a filesystem of its own
// (tmpfs in a private mount namespace) holding a copy of the installation, sized to fill up
// at a different moment.
TEST_F(StartupTest, AFullDiskKeepsTheLastGoodDatabases) {
    if (RunCommand("unshare -m true") != 0) GTEST_SKIP() << "no mount namespaces here";
    ASSERT_NO_FATAL_FAILURE(InstallListsFetchedToday());
    ASSERT_EQ(RunCommand(veldana + " /qr"), 0);
    std::string out;
    ASSERT_EQ(RunCommand("du -sk " + Q(install.programDir()) + " | cut -f1", &out), 0);
    const long usedKb = std::stol(out);

    const std::string prog = Q(install.programDir()), copy = Q(install.root() + "/copy");
    const std::string db = BuiltProgram("veldana-db"), regTool = reg;
    const std::string flag = regTool + " query " + Q(kPolicyKey) + " /v VELDABIN_Changed";
    int full = 0;
    // Room for the old databases and a little more, less than a rebuild writes: each size
    // runs out at another point of it.
    for (long extraKb = 64; extraKb <= 4096; extraKb += 448) {
        SCOPED_TRACE(extraKb);
        const std::string script =
            "set -e; rm -rf " + copy + "; cp -a " + prog + " " + copy + "; "
            "mount -t tmpfs -o size=" + std::to_string(usedKb + extraKb) + "k tmpfs " + prog +
            "; cp -a " + copy + "/. " + prog + "/; "
            // every database stale: the whole rebuild runs
            "touch " + prog + "/VELDA.NOT " + prog + "/VELDA.YES; rm -f " + prog + "/NoneYES.BIN; " +
            regTool + " add " + Q(kPolicyKey) + " /v VELDABIN_Changed /d 0 >/dev/null; "
            "set +e; " + veldana + " /qr 2>/dev/null; echo status $?; " + flag + " | grep -o 'REG_SZ.*'; "
            "for f in NoneNOT.BIN VeldaNOT.BIN VeldaYES.BIN DNSHASH.DAT; do " + db + " info " +
            prog + "/$f >/dev/null 2>&1 && echo complete $f; done; "
            "ls " + prog + " | grep -c TMP || true";
        const std::string scriptFile = install.root() + "/full.sh";
        install.writeFile(scriptFile, script + "\n");
        std::string result, err;
        ASSERT_EQ(RunCommand("unshare -m sh " + Q(scriptFile), &result, &err), 0) << err;
        const bool failed = result.find("status 3") != std::string::npos;
        EXPECT_TRUE(failed || result.find("status 0") != std::string::npos) << result;
        if (failed) ++full;
        // The databases that were complete before are complete still, whatever was built.
        for (const char* f : {"NoneNOT.BIN", "VeldaNOT.BIN", "VeldaYES.BIN", "DNSHASH.DAT"})
            EXPECT_NE(result.find(std::string("complete ") + f), std::string::npos)
                << f << "\n" << result;
        EXPECT_EQ(result.substr(result.find_last_of('\n', result.size() - 2) + 1), "0\n")
            << "no temporary file is left\n" << result;
        if (failed) {
            EXPECT_NE(result.find("REG_SZ    0"), std::string::npos) << result;
        }
    }
    EXPECT_GT(full, 3) << "most sizes fill the disk during the rebuild";
}

}  // namespace

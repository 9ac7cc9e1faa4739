// Building and publishing the databases, and what every failure leaves behind.
#include "policy/database_rebuild.h"

#include <sys/stat.h>

#include <unistd.h>

#include <filesystem>
#include <functional>

#include <gtest/gtest.h>

#include "dbbuild/database_build.h"
#include "dbread/dns_hash_reader.h"
#include "dbread/record_reader.h"
#include "platform/files.h"
#include "resolve/resolvers.h"
#include "settings/file_catalogue.h"
#include "settings/settings_store.h"
#include "tests/support/temp_install.h"
#include "ui/headless.h"
#include "ui/window.h"
#include "progress/transfer_status.h"

namespace {

using namespace policy;
using namespace settings;
using testsupport::BuiltProgram;
using testsupport::RunCommand;

class DatabaseRebuildTest : public ::testing::Test {
protected:
    testsupport::TempInstall install;
    ui::HeadlessDisplay display;
    void SetUp() override {
        display.onStuck = [](const std::string& s) { FAIL() << "stuck\n" << s; };
    }
    void TearDown() override { ui::ResetWindowLayer(); }

    void MakeList(const std::string& name, const std::string& kind) {
        ASSERT_EQ(testsupport::MakeListFile("kind " + kind + "\naddress 192.0.2.1 0x0001\n",
                                            install.file(name)),
                  0);
    }
    bool Exists(const std::string& name) { return platform::FileExists(install.file(name)); }
    // Temporary files of builds in the program directory.
    std::vector<std::string> Temporaries() {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(install.programDir())) {
            const std::string name = e.path().filename().string();
            if (name.find(".TMP") != std::string::npos) names.push_back(name);
        }
        return names;
    }
    bool ReadsAsDatabase(const std::string& name) {
        std::vector<std::uint8_t> bytes;
        std::string error;
        dbread::DatabaseImage image;
        return dbread::LoadFile(install.file(name), bytes, error) &&
               dbread::OpenImage(bytes, image, error);
    }
    bool ReadsAsDnsHash() {
        dbread::DnsHashImage image;
        dbread::DnsHashSummary summary;
        std::string error;
        return dbread::OpenDnsHashFile(install.file("DNSHASH.DAT"), image, error) &&
               dbread::CheckDnsHash(image, summary, error);
    }
};

TEST(TemporaryNameTest, FirstDotOfTheFileName) {
    EXPECT_EQ(dbbuild::TemporaryName("/opt/veldana/VeldaNOT.BIN"), "/opt/veldana/VeldaNOT.TMP");
    EXPECT_EQ(dbbuild::TemporaryName("/opt/v1.2/DNSHASH.DAT"), "/opt/v1.2/DNSHASH.TMP");
    EXPECT_EQ(dbbuild::TemporaryName("/opt/v1.2/NOEXT"), "/opt/v1.2/NOEXTTMP");
}

TEST_F(DatabaseRebuildTest, ANoneDatabaseWithoutEntriesHoldsTheSentinelsOnly) {
    ASSERT_EQ(dbbuild::BuildDatabase(kFileNoneYesBin, 65535, resolve::LookupOrResolve), 1);
    EXPECT_FALSE(Exists("NoneYES.TMP"));
    std::vector<std::uint8_t> bytes;
    std::string error;
    dbread::DatabaseImage image;
    ASSERT_TRUE(dbread::LoadFile(install.file("NoneYES.BIN"), bytes, error)) << error;
    ASSERT_TRUE(dbread::OpenImage(bytes, image, error)) << error;
    EXPECT_EQ(image.addressEntries, 1u);
    EXPECT_EQ(image.nameIndex.count, 1u);
    EXPECT_EQ(dbbuild::BuildDatabase(12345, 65535, resolve::LookupOrResolve), 0) << "not a database";
}

TEST_F(DatabaseRebuildTest, AnInvalidListKeepsTheOldDatabaseAndLeavesNoTemporaryFile) {
    install.writeFile(install.file("VELDA.NOT"), std::string(100, '\x42'));
    install.writeFile(install.file("VeldaNOT.BIN"), "old");
    EXPECT_EQ(dbbuild::BuildDatabase(kFileVeldaNotBin, 65535, resolve::LookupOrResolve), 0);
    EXPECT_EQ(install.readFile(install.file("VeldaNOT.BIN")), "old");
    EXPECT_EQ(Temporaries(), std::vector<std::string>{});
    EXPECT_EQ(progress::TransferStatus().window, 0u) << "the progress window is closed";
}

TEST_F(DatabaseRebuildTest, ABuildFailingAtAnyStepKeepsTheOldDatabaseWhole) {
    MakeList("VELDA.NOT", "restricted");
    ASSERT_EQ(dbbuild::BuildDatabase(kFileVeldaNotBin, 65535, resolve::LookupOrResolve), 1);
    const std::string good = install.readFile(install.file("VeldaNOT.BIN"));
    ASSERT_TRUE(ReadsAsDatabase("VeldaNOT.BIN"));
    int step = 1;
    for (; step < 2000; ++step) {
        platform::InjectFileFault(step);
        const int built = dbbuild::BuildDatabase(kFileVeldaNotBin, 65535, resolve::LookupOrResolve);
        const bool reached = platform::FileStepCount() >= step;
        platform::ClearFileFaults();
        EXPECT_EQ(Temporaries(), std::vector<std::string>{}) << "step " << step;
        ASSERT_TRUE(ReadsAsDatabase("VeldaNOT.BIN")) << "step " << step;
        if (!reached) {
            EXPECT_EQ(built, 1) << "no fault: the build completes";
            break;
        }
        EXPECT_EQ(built, 0) << "step " << step;
        EXPECT_EQ(install.readFile(install.file("VeldaNOT.BIN")), good) << "step " << step;
    }
    EXPECT_GT(step, 10) << "every write, the flush and the rename were failed once";
}

TEST_F(DatabaseRebuildTest, LinksAtTheTemporaryNamesAreNeverFollowed) {
    MakeList("VELDA.NOT", "restricted");
    const std::string outside = install.root() + "/outside";
    install.writeFile(outside, "not yours");
    for (const char* name : {"VeldaNOT.TMP", "DNSHASH.TMP"})
        ASSERT_EQ(::symlink(outside.c_str(), install.file(name).c_str()), 0);
    ASSERT_EQ(dbbuild::BuildDatabase(kFileVeldaNotBin, 65535, resolve::LookupOrResolve), 1);
    ASSERT_EQ(PublishDatabases({.rebuildDnsHash = true}), 1);
    EXPECT_EQ(install.readFile(outside), "not yours");
    for (const char* db : {"VeldaNOT.BIN", "DNSHASH.DAT"}) {
        struct stat st {};
        ASSERT_EQ(::lstat(install.file(db).c_str(), &st), 0) << db;
        EXPECT_TRUE(S_ISREG(st.st_mode)) << db << " is a file of its own";
    }
}

TEST_F(DatabaseRebuildTest, ADatabaseInUseStopsTheBuildAndIsLeftAsItIs) {
    MakeList("VELDA.NOT", "restricted");
    install.writeFile(install.file("VeldaNOT.BIN"), "in use");
    platform::FileHandle held(OpenCatalogueFile(kFileVeldaNotBin, kModeReadDenyWrite));
    ASSERT_TRUE(held.valid());
    EXPECT_EQ(dbbuild::BuildDatabase(kFileVeldaNotBin, 65535, resolve::LookupOrResolve), 0);
    EXPECT_EQ(install.readFile(install.file("VeldaNOT.BIN")), "in use");
}

TEST_F(DatabaseRebuildTest, AFailedApprovedDatabaseLeavesTheChangeFlagAtZero) {
    MakeList("VELDA.NOT", "restricted");
    WriteSetting(kKeyDnsDataFile, {}, "/old/path");
    EXPECT_EQ(RebuildDatabases(dbbuild::NoneDatabases::kBuilt), 0) << "VELDA.YES is missing";
    EXPECT_EQ(ReadSetting(kKeyBinChanged), "0");
    EXPECT_EQ(ReadSetting(kKeyDnsDataFile), "/old/path") << "nothing published";
    EXPECT_TRUE(Exists("VeldaNOT.BIN"));
    EXPECT_FALSE(Exists("VeldaYES.BIN"));
}

TEST_F(DatabaseRebuildTest, AFailedDnsDatabaseKeepsTheOldOneOrAnnouncesNothing) {
    MakeList("VELDA.NOT", "restricted");
    MakeList("VELDA.YES", "approved");
    ASSERT_EQ(RebuildDatabases(dbbuild::NoneDatabases::kBuilt), 1);
    const std::string good = install.readFile(install.file("DNSHASH.DAT"));
    int step = 1;
    for (; step < 2000; ++step) {
        platform::InjectFileFault(step);
        const int published = PublishDatabases({.rebuildDnsHash = true});
        const bool reached = platform::FileStepCount() >= step;
        platform::ClearFileFaults();
        // The old database is complete: it is published again.
        EXPECT_EQ(published, 1) << "step " << step;
        EXPECT_EQ(ReadSetting(kKeyBinChanged), "1") << "step " << step;
        EXPECT_EQ(ReadSetting(kKeyDnsDataFile), install.file("DNSHASH.DAT"));
        EXPECT_TRUE(ReadsAsDnsHash()) << "step " << step;
        EXPECT_EQ(Temporaries(), std::vector<std::string>{}) << "step " << step;
        if (!reached) break;
        EXPECT_EQ(install.readFile(install.file("DNSHASH.DAT")), good) << "step " << step;
    }
    EXPECT_GT(step, 3);

    // Without an old one, a failed build leaves the flag at "0".
    ASSERT_TRUE(platform::RemoveFile(install.file("DNSHASH.DAT")));
    platform::InjectFileFault(1);
    EXPECT_EQ(PublishDatabases({.rebuildDnsHash = true}), 0);
    platform::ClearFileFaults();
    EXPECT_EQ(ReadSetting(kKeyBinChanged), "0");
    EXPECT_EQ(Temporaries(), std::vector<std::string>{});
}

TEST_F(DatabaseRebuildTest, TheStartUpCheckRepairsWhatAnInterruptedRebuildLeft) {
    MakeList("VELDA.NOT", "restricted");
    MakeList("VELDA.YES", "approved");
    ASSERT_EQ(RebuildDatabases(dbbuild::NoneDatabases::kBuilt), 1);
    struct Case {
        const char* name;
        std::function<void()> damage;
    };
    const Case cases[] = {
        {"flag left at 0", [&] { WriteSetting(kKeyBinChanged, {}, "0"); }},
        {"DNSHASH.DAT missing", [&] { platform::RemoveFile(install.file("DNSHASH.DAT")); }},
        {"DNSDataFile elsewhere", [&] { WriteSetting(kKeyDnsDataFile, {}, "/elsewhere/DNSHASH.DAT"); }},
        {"temporary files left", [&] {
             install.writeFile(install.file("VeldaNOT.TMP-a1B2c3"), "half");
             install.writeFile(install.file("DNSHASH.TMP"), "half");
         }},
        {"raw list newer", [&] {
             install.writeFile(install.file("DNSRAW.NOT"), std::string(4, '\0'));
         }},
    };
    for (const Case& c : cases) {
        c.damage();
        CheckDatabasesAtStartup();
        EXPECT_EQ(ReadSetting(kKeyBinChanged), "1") << c.name;
        EXPECT_EQ(ReadSetting(kKeyDnsDataFile), install.file("DNSHASH.DAT")) << c.name;
        EXPECT_TRUE(ReadsAsDnsHash()) << c.name;
        for (const char* db : {"VeldaNOT.BIN", "VeldaYES.BIN", "NoneNOT.BIN", "NoneYES.BIN"})
            EXPECT_TRUE(ReadsAsDatabase(db)) << c.name << ": " << db;
        EXPECT_EQ(Temporaries(), std::vector<std::string>{}) << c.name;
    }
}

TEST_F(DatabaseRebuildTest, AListReplacedTheSameDayAsItsDatabaseIsCompiled) {
    MakeList("VELDA.NOT", "restricted");
    MakeList("VELDA.YES", "approved");
    ASSERT_EQ(RebuildDatabases(dbbuild::NoneDatabases::kBuilt), 1);
    std::timespec database{};
    ASSERT_TRUE(platform::ModificationTime(install.file("VeldaYES.BIN"), database));
    ASSERT_TRUE(platform::SetFileWriteTime(install.file("VELDA.YES"), database.tv_sec + 1));
    EXPECT_EQ(DatabaseIsStale(CategoryDatabase::kApproved), 1);
    EXPECT_EQ(DatabaseIsStale(CategoryDatabase::kRestricted), 0);
}

TEST_F(DatabaseRebuildTest, TheStartUpCheckRebuildsWhatIsMissingOrOlderThanItsList) {
    MakeList("VELDA.NOT", "restricted");
    MakeList("VELDA.YES", "approved");
    CheckDatabasesAtStartup();  // nothing built yet: all four and the DNS database
    for (const char* db : {"NoneNOT.BIN", "NoneYES.BIN", "VeldaNOT.BIN", "VeldaYES.BIN", "DNSHASH.DAT"})
        EXPECT_TRUE(Exists(db)) << db;
    EXPECT_EQ(DatabaseIsStale(CategoryDatabase::kRestricted), 0);
    EXPECT_EQ(DatabaseIsStale(CategoryDatabase::kApproved), 0);

    // A list dated after its database makes both category databases rebuild.
    const std::time_t day = 24 * 3600;
    std::time_t now = std::time(nullptr);
    for (const char* db : {"VeldaNOT.BIN", "VeldaYES.BIN", "NoneNOT.BIN", "NoneYES.BIN"})
        ASSERT_TRUE(platform::SetFileWriteTime(install.file(db), now - 3 * day));
    ASSERT_TRUE(platform::SetFileWriteTime(install.file("VELDA.NOT"), now - 4 * day));
    ASSERT_TRUE(platform::SetFileWriteTime(install.file("VELDA.YES"), now - 2 * day));
    EXPECT_EQ(DatabaseIsStale(CategoryDatabase::kRestricted), 0);
    EXPECT_EQ(DatabaseIsStale(CategoryDatabase::kApproved), 1);
    CheckDatabasesAtStartup();
    struct stat notDb{}, noneDb{};
    ::stat(install.file("VeldaNOT.BIN").c_str(), &notDb);
    ::stat(install.file("NoneNOT.BIN").c_str(), &noneDb);
    EXPECT_GT(notDb.st_mtime, now - day) << "both category databases were rebuilt";
    EXPECT_LT(noneDb.st_mtime, now - day) << "the None databases were not";

    // An empty database counts as stale.
    install.writeFile(install.file("VeldaNOT.BIN"), "");
    EXPECT_EQ(DatabaseIsStale(CategoryDatabase::kRestricted), 1);
}

}  // namespace

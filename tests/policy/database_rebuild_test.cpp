// Building and publishing the databases, and what every failure leaves behind.
#include "policy/database_rebuild.h"

#include <sys/stat.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "dbbuild/database_build.h"
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
        std::string src = install.root() + "/" + name + ".src";
        install.writeFile(src, "kind " + kind + "\naddress 192.0.2.1 0x0001\n");
        ASSERT_EQ(RunCommand(BuiltProgram("veldana-list") + " make '" + src + "' '" + install.file(name) + "'"), 0);
    }
    bool Exists(const std::string& name) { return platform::FileExists(install.file(name)); }
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

TEST_F(DatabaseRebuildTest, AnInvalidListLeavesNoDatabaseAndNoTemporaryFile) {
    install.writeFile(install.file("VELDA.NOT"), std::string(100, '\x42'));
    install.writeFile(install.file("VeldaNOT.BIN"), "old");
    EXPECT_EQ(dbbuild::BuildDatabase(kFileVeldaNotBin, 65535, resolve::LookupOrResolve), 0);
    EXPECT_FALSE(Exists("VeldaNOT.BIN"));
    EXPECT_FALSE(Exists("VeldaNOT.TMP"));
    EXPECT_EQ(progress::TransferStatus().window, 0u) << "the progress window is closed";
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

TEST_F(DatabaseRebuildTest, AFailedDnsDatabaseStillPublishesTheOldOne) {
    MakeList("VELDA.NOT", "restricted");
    MakeList("VELDA.YES", "approved");
    install.writeFile(install.file("DNSHASH.DAT"), "old resolving database");
    std::filesystem::create_directory(install.file("DNSHASH.TMP"));  // cannot be created
    EXPECT_EQ(RebuildDatabases(dbbuild::NoneDatabases::kBuilt), 1);
    EXPECT_EQ(install.readFile(install.file("DNSHASH.DAT")), "old resolving database");
    EXPECT_EQ(ReadSetting(kKeyDnsDataFile), install.file("DNSHASH.DAT"));
    EXPECT_EQ(ReadSetting(kKeyBinChanged), "1");
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

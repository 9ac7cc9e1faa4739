#include "settings/file_catalogue.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "platform/files.h"
#include "tests/support/temp_install.h"

namespace {

using namespace settings;

class FileCatalogueTest : public ::testing::Test {
protected:
    testsupport::TempInstall install;
};

TEST_F(FileCatalogueTest, IdentifiersNameTheirFiles) {
    struct Case {
        int id;
        std::string path;
    };
    const Case cases[] = {
        {kFileIvdIni, install.windowsDir() + "/IVD.INI"},
        {kFileSocketLibrary, install.windowsDir() + "/SYSTEM/WSOCK32.DLL"},
        {kFileUserList, install.file("USER.LST")},
        {kFileVeldaYes, install.file("VELDA.YES")},
        {kFileVeldaNot, install.file("VELDA.NOT")},
        {kFileUpdateMarker, install.file("UPDATE")},
        {kFileVeldaNotBin, install.file("VeldaNOT.BIN")},
        {kFileVeldaYesBin, install.file("VeldaYES.BIN")},
        {kFileDnsRawYes, install.file("DNSRAW.YES")},
        {kFileDnsRawNot, install.file("DNSRAW.NOT")},
        {kFileIpDnsRawNot, install.file("IPDNSRAW.NOT")},
        {kFileIpDnsRawYes, install.file("IPDNSRAW.YES")},
        {kFileIpAddrList, install.file("IPADDR.LST")},
        {kFileNoneNotBin, install.file("NoneNOT.BIN")},
        {kFileNoneYesBin, install.file("NoneYES.BIN")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        EXPECT_EQ(CatalogueFilePath(c.id), c.path);
        EXPECT_EQ(OpenCatalogueFile(c.id, kModeExists), 0);
        install.writeFile(c.path, "x");
        EXPECT_GT(OpenCatalogueFile(c.id, kModeExists), 0);
    }
}

TEST_F(FileCatalogueTest, DateDeleteAndExistsResults) {
    std::string path = install.file("VELDA.NOT");
    EXPECT_EQ(OpenCatalogueFile(kFileVeldaNot, kModeDate), -1);
    EXPECT_EQ(OpenCatalogueFile(kFileVeldaNot, kModeDelete), 1) << "never existed: gone";

    install.writeFile(path, "list");
    ASSERT_TRUE(platform::SetFileWriteTime(path, 805896000));  // 16 July 1995
    EXPECT_EQ(OpenCatalogueFile(kFileVeldaNot, kModeDate), 7920);

    // A file held open with writing denied cannot be deleted.
    int held = OpenCatalogueFile(kFileVeldaNot, kModeReadDenyWrite);
    ASSERT_GE(held, 0);
    EXPECT_EQ(OpenCatalogueFile(kFileVeldaNot, kModeDelete), 0);
    EXPECT_GT(OpenCatalogueFile(kFileVeldaNot, kModeExists), 0);
    platform::CloseFile(held);
    EXPECT_NE(OpenCatalogueFile(kFileVeldaNot, kModeDelete), 0);
    EXPECT_EQ(OpenCatalogueFile(kFileVeldaNot, kModeExists), 0);

    int created = OpenCatalogueFile(kFileUserList, kModeCreate);
    ASSERT_GE(created, 0);
    platform::CloseFile(created);
    int rw = OpenCatalogueFile(kFileUserList, kModeReadWriteShared);
    EXPECT_GE(rw, 0);
    platform::CloseFile(rw);
}

TEST_F(FileCatalogueTest, NamedListUsesTheListNameBuffer) {
    install.writeFile(install.file("MYLIST.NOT"), "x");
    for (int mode : {kModeReadDenyWrite, kModeDate, kModeReadWriteShared, kModeDelete, kModeCreate,
                     kModeExists}) {
        EXPECT_EQ(OpenCatalogueFile(kFileNamedList, mode), 0) << mode;
        EXPECT_EQ(OpenCatalogueFile(9999, mode), 0) << mode;
    }
    EXPECT_EQ(install.readFile(install.file("MYLIST.NOT")), "x") << "nothing touched";

    SetListName("MYLIST.NOT");
    EXPECT_EQ(CatalogueFilePath(kFileNamedList), install.file("MYLIST.NOT"));
    EXPECT_GT(OpenCatalogueFile(kFileNamedList, kModeExists), 0);
    EXPECT_EQ(OpenCatalogueFile(kFileNamedList, kModeDelete), 1);
}

TEST_F(FileCatalogueTest, PathBuilders) {
    std::string out = "unchanged";
    ASSERT_EQ(GetProgramDirectory(out), 1);
    EXPECT_EQ(out, install.programDir() + "/");

    const char* names[] = {"VeldaNOT.BIN", "VeldaYES.BIN", "NoneNOT.BIN", "NoneYES.BIN"};
    for (int which = 0; which < 4; ++which) {
        ASSERT_EQ(GetDatabasePath(out, which), 1);
        EXPECT_EQ(out, install.file(names[which]));
    }
    out = "unchanged";
    EXPECT_EQ(GetDatabasePath(out, 4), 0);
    EXPECT_EQ(GetDatabasePath(out, -1), 0);
    EXPECT_EQ(out, "unchanged");
    ASSERT_EQ(GetDnsHashPath(out), 1);
    EXPECT_EQ(out, install.file("DNSHASH.DAT"));

    install.writeFile(install.file("SITES.TXT"), "a.example\n");
    std::string name = "SITES.TXT";
    EXPECT_EQ(ResolveFilePath(name), 1);
    EXPECT_EQ(name, install.file("SITES.TXT"));
    name = "MISSING.TXT";
    EXPECT_EQ(ResolveFilePath(name), 0);
    EXPECT_EQ(name, "MISSING.TXT");
}

TEST(FileCatalogueDefaults, ProgramDirectoryIsTheExecutablesDirectory) {
    unsetenv("VELDANA_PROGRAM_DIR");
    unsetenv("VELDANA_WINDOWS_DIR");
    std::string dir;
    GetProgramDirectory(dir);
    std::string exeDir = std::filesystem::read_symlink("/proc/self/exe").parent_path().string() + "/";
    EXPECT_EQ(dir, exeDir);
    EXPECT_EQ(CatalogueFilePath(kFileIvdIni), exeDir + "windows/IVD.INI");
}

}  // namespace

#include "platform/registry.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "tests/support/temp_install.h"

namespace {

using namespace platform;

class RegistryTest : public ::testing::Test {
protected:
    testsupport::TempInstall install;

    RegKey Create(const std::string& path) {
        RegKey k;
        EXPECT_EQ(RegCreateKey(HkeyLocalMachine(), path, k), kErrSuccess) << path;
        return k;
    }
};

TEST_F(RegistryTest, FreshStoreHoldsTheServicesKeyOnly) {
    RegKey k;
    EXPECT_EQ(RegOpenKey(HkeyLocalMachine(), "SYSTEM\\CurrentControlSet\\Services", k), kErrSuccess);
    EXPECT_EQ(RegOpenKey(HkeyLocalMachine(), "SYSTEM\\CurrentControlSet\\Services\\W3SVC", k),
              kErrFileNotFound);
    EXPECT_FALSE(k.IsOpen());
}

TEST_F(RegistryTest, NamesIgnoreCaseAndKeepTheirCase) {
    RegKey k = Create("Software\\MixedCase");
    ASSERT_EQ(RegSetValue(k, "ValueName", kRegSz, "one"), kErrSuccess);
    // Writing under another spelling updates the same value and keeps the first spelling.
    ASSERT_EQ(RegSetValue(k, "VALUENAME", kRegSz, "two"), kErrSuccess);

    RegKey again;
    ASSERT_EQ(RegOpenKey(HkeyLocalMachine(), "SOFTWARE\\mixedcase", again), kErrSuccess);
    EXPECT_EQ(again.id, k.id);
    unsigned type = 0;
    std::string data, name;
    ASSERT_EQ(RegQueryValue(again, "valuename", type, data, 100), kErrSuccess);
    EXPECT_EQ(data, "two");
    EXPECT_EQ(type, kRegSz);
    ASSERT_EQ(RegEnumValue(again, 0, name, type, data), kErrSuccess);
    EXPECT_EQ(name, "ValueName");
    EXPECT_EQ(RegEnumValue(again, 1, name, type, data), kErrNoMoreItems);

    std::string keyName;
    RegKey software;
    ASSERT_EQ(RegOpenKey(HkeyLocalMachine(), "software", software), kErrSuccess);
    ASSERT_EQ(RegEnumKey(software, 0, keyName), kErrSuccess);
    EXPECT_EQ(keyName, "MixedCase");
}

TEST_F(RegistryTest, ValuesKeepTheirExactBytes) {
    RegKey k = Create("Software\\Bytes");
    const std::string text = "no terminator";
    ASSERT_EQ(RegSetValue(k, "t", kRegSz, text), kErrSuccess);
    const std::string binary("\0\x01\xff", 3);
    ASSERT_EQ(RegSetValue(k, "b", kRegBinary, binary), kErrSuccess);

    unsigned type = 0;
    std::string data;
    ASSERT_EQ(RegQueryValue(k, "t", type, data, text.size()), kErrSuccess);
    EXPECT_EQ(data.size(), text.size());
    EXPECT_EQ(RegQueryValue(k, "t", type, data, text.size() - 1), kErrMoreData);
    EXPECT_TRUE(data.empty());
    ASSERT_EQ(RegQueryValue(k, "b", type, data, 10), kErrSuccess);
    EXPECT_EQ(data, binary);
    EXPECT_EQ(type, kRegBinary);
}

TEST_F(RegistryTest, DeleteValueAndTreeGiveWindowsResults) {
    RegKey a = Create("Software\\A\\B\\C");
    ASSERT_EQ(RegSetValue(a, "v", kRegSz, "x"), kErrSuccess);
    EXPECT_EQ(RegDeleteValue(a, "missing"), kErrFileNotFound);
    EXPECT_EQ(RegDeleteValue(a, "V"), kErrSuccess);
    EXPECT_EQ(RegDeleteValue(a, "v"), kErrFileNotFound);

    ASSERT_EQ(RegSetValue(a, "v", kRegSz, "x"), kErrSuccess);
    EXPECT_EQ(RegDeleteTree(HkeyLocalMachine(), "software\\a"), kErrSuccess);
    RegKey k;
    EXPECT_EQ(RegOpenKey(HkeyLocalMachine(), "Software\\A", k), kErrFileNotFound);
    EXPECT_EQ(RegOpenKey(HkeyLocalMachine(), "Software", k), kErrSuccess);
    // A handle to a deleted key no longer works.
    unsigned type = 0;
    std::string data;
    EXPECT_EQ(RegQueryValue(a, "v", type, data, 10), kErrKeyDeleted);
    EXPECT_EQ(RegDeleteTree(HkeyLocalMachine(), "Software\\A"), kErrFileNotFound);
    EXPECT_EQ(RegDeleteTree(HkeyLocalMachine(), ""), kErrAccessDenied);
}

TEST_F(RegistryTest, MalformedPathsAreRefused) {
    RegKey k;
    for (const char* path : {"\\SYSTEM", "SYSTEM\\\\CurrentControlSet", "\\"}) {
        EXPECT_EQ(RegOpenKey(HkeyLocalMachine(), path, k), kErrInvalidParameter) << path;
        EXPECT_EQ(RegCreateKey(HkeyLocalMachine(), path, k), kErrInvalidParameter) << path;
    }
    EXPECT_EQ(RegOpenKey(HkeyLocalMachine(), "SYSTEM\\", k), kErrSuccess);
    EXPECT_EQ(RegOpenKey(RegKey{}, "SYSTEM", k), kErrInvalidHandle);
}

TEST_F(RegistryTest, FilesThatAreNotStoresAreNeverChanged) {
    struct Case {
        const char* what;
        std::string content;
        std::string sqlSetup;  // when set, the file is made by sqlite3 with this SQL
    };
    const Case cases[] = {
        {"garbage", std::string(4096, 'x'), ""},
        {"one byte", "x", ""},
        {"a short text", "not a store\n", ""},
        {"truncated header", std::string("SQLite format 3\0", 16), ""},
        {"foreign database", "", "CREATE TABLE t(a); INSERT INTO t VALUES(1);"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ResetRegistry();
        std::string path = install.registryPath();
        std::remove(path.c_str());
        if (c.sqlSetup.empty()) {
            install.writeFile(path, c.content);
        } else {
            ASSERT_EQ(testsupport::RunCommand("sqlite3 '" + path + "' '" + c.sqlSetup + "'"), 0);
        }
        std::string before = install.readFile(path);

        RegKey k;
        EXPECT_EQ(RegOpenKey(HkeyLocalMachine(), "SYSTEM", k), kErrBadDb);
        EXPECT_EQ(RegCreateKey(HkeyLocalMachine(), "SYSTEM\\X", k), kErrBadDb);
        EXPECT_FALSE(RegistryError().empty());
        ResetRegistry();
        EXPECT_EQ(install.readFile(path), before);
    }
}

TEST_F(RegistryTest, SwitchesStoreWhenTheEnvironmentNamesAnother) {
    RegKey k = Create("Software\\First");
    std::string second = install.root() + "/second.db";
    setenv("VELDANA_REGISTRY", second.c_str(), 1);
    EXPECT_EQ(RegOpenKey(HkeyLocalMachine(), "Software\\First", k), kErrFileNotFound);
    setenv("VELDANA_REGISTRY", install.registryPath().c_str(), 1);
    EXPECT_EQ(RegOpenKey(HkeyLocalMachine(), "Software\\First", k), kErrSuccess);
}

TEST_F(RegistryTest, ADamagedStoreIsRefusedAndNeverWritten) {
    Create("SOFTWARE\\Kept");
    ResetRegistry();  // closed: the store is one file
    std::string path = install.registryPath();
    std::string bytes = install.readFile(path);
    ASSERT_GE(bytes.size(), 2 * 4096u) << bytes.size();
    bytes[4096] = '\x7f';  // the type byte of the second page
    install.writeFile(path, bytes);

    RegKey k;
    EXPECT_EQ(RegCreateKey(HkeyLocalMachine(), "SOFTWARE\\New", k), kErrBadDb);
    EXPECT_NE(RegistryError().find("damaged"), std::string::npos) << RegistryError();
    ResetRegistry();
    EXPECT_EQ(install.readFile(path), bytes);
}

TEST_F(RegistryTest, AnEmptyFileBecomesAStore) {
    ResetRegistry();
    install.writeFile(install.registryPath(), "");
    RegKey k;
    EXPECT_EQ(RegCreateKey(HkeyLocalMachine(), "SOFTWARE\\New", k), kErrSuccess);
}

TEST_F(RegistryTest, DirectoriesMadeForTheStoreAreNotWritableByOthers) {
    ResetRegistry();
    const std::string dir = install.root() + "/new/deeper";
    setenv("VELDANA_REGISTRY", (dir + "/registry.db").c_str(), 1);
    const mode_t old = ::umask(0);  // even a permissive umask makes none writable by others
    RegKey k;
    EXPECT_EQ(RegCreateKey(HkeyLocalMachine(), "SOFTWARE\\New", k), kErrSuccess);
    ::umask(old);
    for (const std::string& d : {install.root() + "/new", dir}) {
        struct stat st {};
        ASSERT_EQ(::stat(d.c_str(), &st), 0) << d;
        EXPECT_EQ(st.st_mode & (S_IWGRP | S_IWOTH), 0u) << d;
    }
    ResetRegistry();
    setenv("VELDANA_REGISTRY", install.registryPath().c_str(), 1);
}

}  // namespace

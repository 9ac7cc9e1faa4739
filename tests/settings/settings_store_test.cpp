#include "settings/settings_store.h"

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "tests/support/temp_install.h"

namespace {

using namespace settings;
using platform::HkeyLocalMachine;
using platform::RegKey;

constexpr const char* kPolicyKey = "SYSTEM\\CurrentControlSet\\Services\\W3Velda\\Services";
constexpr const char* kConsoleKey = "SYSTEM\\CurrentControlSet\\Services\\W3Velda\\Veldana";
constexpr const char* kWebKey = "SYSTEM\\CurrentControlSet\\Services\\W3SVC\\Parameters";

bool KeyExists(const std::string& path) {
    RegKey k;
    return platform::RegOpenKey(HkeyLocalMachine(), path, k) == platform::kErrSuccess;
}

std::string RawValue(const std::string& path, const std::string& name) {
    RegKey k;
    if (platform::RegOpenKey(HkeyLocalMachine(), path, k) != platform::kErrSuccess) return "<no key>";
    unsigned type = 0;
    std::string data;
    if (platform::RegQueryValue(k, name, type, data, 100000) != platform::kErrSuccess)
        return "<no value>";
    return data;
}

class SettingsStoreTest : public ::testing::Test {
protected:
    testsupport::TempInstall install;
};

TEST_F(SettingsStoreTest, EveryIdentifierClassMapsToItsKeyAndName) {
    struct Case {
        int id;
        const char* name;
        const char* path;
        const char* valueName;
    };
    const Case cases[] = {
        {kKeyNormalContent, nullptr, kPolicyKey, "NormalContent"},
        {kKeyProxyPort, nullptr, kPolicyKey, "QTXPXYPRT"},
        {kKeyNoneYesFile, nullptr, kPolicyKey, "NoneYESFile"},
        {kKeySource, nullptr, kConsoleKey, "Source"},
        {kKeyAutoDownload, nullptr, kConsoleKey, "AutoDownload"},
        {kKeyDnsServers, "QTXDNS3", kConsoleKey, "QTXDNS3"},
        {5123, "Anything", kConsoleKey, "Anything"},  // unlisted: caller-named
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        std::string_view name = c.name ? c.name : "";
        EXPECT_EQ(SettingKeyPath(c.id, name), c.path);
        ASSERT_EQ(WriteSetting(c.id, name, "v1"), 1);
        EXPECT_EQ(RawValue(c.path, c.valueName), "v1");
        EXPECT_EQ(ReadSetting(c.id, name, "d"), "v1");
    }
}

TEST_F(SettingsStoreTest, DefaultsAndDeletion) {
    EXPECT_EQ(ReadSetting(kKeyNormalContent, {}, "16383"), "16383");
    ASSERT_EQ(WriteSetting(kKeyNormalContent, {}, "5"), 1);
    EXPECT_EQ(ReadSetting(kKeyNormalContent, {}, "16383"), "5");

    // Writing empty text deletes the value, however long it was.
    ASSERT_EQ(WriteSetting(kKeyRedirectedSite, {}, "http://blocked.example.org/page.htm"), 1);
    EXPECT_EQ(WriteSetting(kKeyRedirectedSite, {}, ""), 1);
    EXPECT_EQ(RawValue(kPolicyKey, "RedirectedSite"), "<no value>");
    EXPECT_EQ(ReadTableSetting(kKeyRedirectedSite), "");
    // Deleting what is not there fails and changes nothing.
    EXPECT_EQ(WriteSetting(kKeyRedirectedSite, {}, ""), 0);
    EXPECT_EQ(WriteSetting(kKeyLogSites, {}, {}), 0);
}

TEST_F(SettingsStoreTest, CallerNamedValuesNeedAName) {
    EXPECT_EQ(ReadSetting(kKeyDnsServers, {}, "198.41.0.4"), "");
    EXPECT_EQ(WriteSetting(kKeyDnsServers, {}, "1.2.3.4"), 0);
    EXPECT_FALSE(KeyExists("SYSTEM\\CurrentControlSet\\Services\\W3Velda"))
        << "a nameless write touches nothing";
}

TEST_F(SettingsStoreTest, FirstWriteCreatesTheFilterKeysButNeverTheWebServiceKey) {
    EXPECT_FALSE(KeyExists("SYSTEM\\CurrentControlSet\\Services\\W3Velda"));
    ASSERT_EQ(WriteSetting(kKeyWindowPosition, {}, "10, 20"), 1);
    EXPECT_TRUE(KeyExists(kConsoleKey));
    EXPECT_FALSE(KeyExists(kPolicyKey));

    EXPECT_EQ(WriteSetting(kKeyFilterDlls, {}, "/opt/filter.so"), 0);
    EXPECT_FALSE(KeyExists("SYSTEM\\CurrentControlSet\\Services\\W3SVC"));

    RegKey web;
    ASSERT_EQ(platform::RegCreateKey(HkeyLocalMachine(), kWebKey, web), platform::kErrSuccess);
    EXPECT_EQ(WriteSetting(kKeyFilterDlls, {}, "/opt/filter.so"), 1);
    EXPECT_EQ(RawValue(kWebKey, "Filter DLLs"), "/opt/filter.so");
    EXPECT_FALSE(KeyExists("SYSTEM\\CurrentControlSet\\Services\\W3SVC\\Veldana"));
}

TEST_F(SettingsStoreTest, LengthLimits) {
    const std::string full(kMaxSettingLength, 'a');
    ASSERT_EQ(WriteSetting(kKeySource, {}, full), 1);
    EXPECT_EQ(ReadSetting(kKeySource, {}, "d"), full);
    EXPECT_EQ(RawValue(kConsoleKey, "Source").size(), kMaxSettingLength) << "no terminator stored";
    EXPECT_EQ(ReadTableSetting(kKeySource), std::string(25, 'a')) << "readers keep 25";

    // A longer value is refused rather than stored where no reader can read it.
    EXPECT_EQ(WriteSetting(kKeySource, {}, full + "b"), 0);
    EXPECT_EQ(ReadSetting(kKeySource, {}, "d"), full);

    // One that got there by other means reads as the default.
    RegKey k;
    ASSERT_EQ(platform::RegOpenKey(HkeyLocalMachine(), kConsoleKey, k), platform::kErrSuccess);
    ASSERT_EQ(platform::RegSetValue(k, "Source", platform::kRegSz, full + "b"),
              platform::kErrSuccess);
    EXPECT_EQ(ReadSetting(kKeySource, {}, "d"), "d");
}

TEST_F(SettingsStoreTest, KeyTableDefaultsAndCuts) {
    struct Case {
        int id;
        const char* stored;  // null: nothing stored
        const char* read;
    };
    const Case cases[] = {
        {kKeyAmStart, nullptr, "33"},          {kKeyAmEnd, nullptr, "48"},
        {kKeyPmStart, nullptr, "52"},          {kKeyPmEnd, nullptr, "69"},
        {kKeyDaysOfOperation, nullptr, "0111110"}, {kKeyNormalWeb, nullptr, "1"},
        {kKeyLeisureContent, nullptr, "16383"}, {kKeyLogSites, nullptr, "0"},
        {kKeyAutoDownload, nullptr, "1"},      {kKeyAutoDownload, "0xyz", "0"},
        {kKeyNormalContent, "12345678", "123456"}, {kKeyAmStart, "123456", "1234"},
        {kKeyCompiledListDate, nullptr, ""},  {kKeyProxyPort, "80808080808", "8080808080"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        WriteSetting(c.id, {}, c.stored ? c.stored : "");
        EXPECT_EQ(ReadTableSetting(c.id), c.read);
    }
}

TEST_F(SettingsStoreTest, AStoredTerminatorIsNotPartOfTheText) {
    ASSERT_EQ(WriteSetting(kKeyProxyServer, {}, "x"), 1);
    RegKey k;
    ASSERT_EQ(platform::RegOpenKey(HkeyLocalMachine(), kPolicyKey, k), platform::kErrSuccess);
    ASSERT_EQ(platform::RegSetValue(k, "QTXPXYSVR", platform::kRegSz, std::string("proxy\0", 6)),
              platform::kErrSuccess);
    EXPECT_EQ(ReadSetting(kKeyProxyServer), "proxy");
}

TEST_F(SettingsStoreTest, BrokenStoresReadDefaultsAndFailWrites) {
    install.writeFile(install.registryPath(), std::string(2048, '\x5a'));
    platform::ResetRegistry();
    EXPECT_EQ(ReadSetting(kKeyNormalContent, {}, "16383"), "16383");
    EXPECT_EQ(WriteSetting(kKeyNormalContent, {}, "5"), 0);
    EXPECT_EQ(install.readFile(install.registryPath()), std::string(2048, '\x5a'));

    // A store path under a file cannot be created at all.
    setenv("VELDANA_REGISTRY", (install.registryPath() + "/sub/registry.db").c_str(), 1);
    EXPECT_EQ(ReadTableSetting(kKeyAmStart), "33");
    EXPECT_EQ(WriteSetting(kKeyAmStart, {}, "30"), 0);
}

}  // namespace

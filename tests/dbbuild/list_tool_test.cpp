// veldana-list: make and show round trips, and its errors.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/dbbuild/list_test_support.h"
#include "tests/support/temp_install.h"

namespace {

using namespace listtest;

class ListTool : public ::testing::Test {
  protected:
    // Runs veldana-list with `args`; returns its exit status.
    int Run(const std::string& args) {
        return testsupport::RunCommand("cd '" + install_.programDir() + "' && " +
                                           testsupport::BuiltProgram("veldana-list") + " " + args,
                                       &out_, &err_);
    }
    void Source(const std::string& text) { install_.writeFile(install_.file("list.txt"), text); }
    bool Exists(const std::string& name) const {
        return std::filesystem::exists(install_.file(name));
    }

    testsupport::TempInstall install_;
    std::string out_, err_;
};

const char* const kSource =
    "# every entry the format carries\n"
    "address 10.1.2.3 0x0005\n"
    "address 10.1.2.4 path /Ads/Top 1 path img 0x0004 key 00ff7f 8\n"
    "block 10.9.9.9 2\n"
    "alias 10.1.2.3 10.1.2.30 10.1.2.31\n"
    "name www.example.com\n";

TEST_F(ListTool, ShowPrintsASourceThatMakesTheSameFile) {
    for (int level : {1, 2, 3}) {
        for (const char* kind : {"restricted", "approved"}) {
            SCOPED_TRACE(std::to_string(level) + " " + kind);
            std::string source = kSource;
            if (level == 1) source = "address 10.1.2.3 5\naddress 10.1.2.4 path a/b 1\nname n\n";
            Source(source);
            const std::string options =
                " --level " + std::to_string(level) + " --kind " + std::string(kind);
            ASSERT_EQ(Run("make list.txt FIRST" + options), 0) << err_;
            ASSERT_EQ(Run("show FIRST"), 0) << err_;
            const std::string shown = out_;
            EXPECT_NE(shown.find("kind " + std::string(kind) + "\n"), std::string::npos) << shown;
            EXPECT_NE(shown.find("# accepted by the database build: yes"), std::string::npos);
            install_.writeFile(install_.file("shown.txt"), shown);
            ASSERT_EQ(Run("make shown.txt SECOND"), 0) << err_;  // level and kind from the text
            EXPECT_EQ(install_.readFile(install_.file("FIRST")),
                      install_.readFile(install_.file("SECOND")));
            if (level == 2) {
                EXPECT_NE(shown.find("address 10.1.2.4 path ads/top 0x0001 path img 0x0004 key "
                                     "00ff7f 0x0008\n"),
                          std::string::npos)
                    << shown;
            }
            if (level == 3) {
                EXPECT_EQ(shown.find(" path "), std::string::npos) << shown;
            }
        }
    }
}

TEST_F(ListTool, ShowJsonDescribesTheList) {
    Source(kSource);
    ASSERT_EQ(Run("make list.txt VELDA.YES --level 2 --kind approved"), 0) << err_;
    ASSERT_EQ(Run("show VELDA.YES --json"), 0) << err_;
    for (const char* part :
         {"\"layout\":\"extended\"", "\"level\":2", "\"list\":\"approved\"", "\"report\":2",
          "\"acceptedByBuild\":true", "\"address\":\"10.1.2.4\",\"categories\":13",
          "{\"categories\":1,\"key\":\"6164732f746f70\",\"text\":\"ads/top\"}",
          "\"aliases\":[\"10.1.2.30\",\"10.1.2.31\"]", "\"names\":[\"www.example.com\"]"})
        EXPECT_NE(out_.find(part), std::string::npos) << part << "\n" << out_;

    // A list of another family is shown, and marked as one the build does not take.
    WriteList(install_.file("OTHER"), Extended('H', 'H', 0, {{'I', Record(1, 1)}}));
    ASSERT_EQ(Run("show OTHER --json"), 0) << err_;
    EXPECT_NE(out_.find("\"family\":\"H\""), std::string::npos) << out_;
    EXPECT_NE(out_.find("\"acceptedByBuild\":false"), std::string::npos) << out_;
}

TEST_F(ListTool, BadSourcesAreReportedWithTheirLine) {
    struct Case {
        std::string source;
        const char* options;
        const char* error;
    } cases[] = {
        {"address 10.1.2 5\n", "", "list.txt:1: '10.1.2' is not a dotted IPv4 address"},
        {"# c\n\naddress 10.1.2.3 0\n", "", "list.txt:3: categories 0"},
        {"address 10.1.2.3 70000\n", "", "list.txt:1: '70000' is not a category number"},
        {"address 10.1.2.3 path /a\n", "", "list.txt:1: 'path' needs a value and categories"},
        {"address 10.1.2.3 path /a,b 1\n", "", "list.txt:1: path '/a,b'"},
        {"address 10.1.2.3 key 12x 1\n", "", "list.txt:1: '12x' is not a key in hex digits"},
        {"address 10.1.2.3 path / 1\n", "", "list.txt:1: path '/' gives an empty key"},
        {"address 10.1.2.3 1\nalias 10.1.2.3\n", "", "list.txt:2: expected: alias"},
        {"alias 0.0.0.0 10.1.2.3\n", "", "list.txt:1: 0.0.0.0 cannot be"},
        {"level 4\n", "", "list.txt:1: expected: level 1"},
        {"kind neutral\n", "", "list.txt:1: expected: kind restricted"},
        {"address 1.2.3.4 1\nsite 1.2.3.4\n", "", "list.txt:2: unknown entry 'site'"},
        {"address 1.2.3.4 1\nblock 1.2.3.5 1\n", "--level 1",
         "list.txt:2: a level 1 list has no site-block section"},
        {"level 1\n\nalias 1.2.3.4 1.2.3.5\n", "", "list.txt:3: a level 1 list has no alias"},
        {"address 1.2.3.4 path /a 1 key 00 2\naddress 1.2.3.5 path /" + std::string(253, 'p') +
             " 1\n",
         "--level 2", "list.txt:2: the key of"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source);
        Source(c.source);
        EXPECT_EQ(Run(std::string("make list.txt OUT ") + c.options), 1);
        EXPECT_NE(err_.find(c.error), std::string::npos) << err_;
        EXPECT_FALSE(Exists("OUT"));
    }
}

TEST_F(ListTool, DamagedFilesAndUsageErrors) {
    WriteList(install_.file("CUT"),
              Extended('C', 'H', 0, {{'I', Cat({Record(1, 0), Item(1, "abcd", 200)})}}));
    install_.writeFile(install_.file("SHORT"), "1234567");
    struct Case {
        const char* args;
        int status;
        const char* error;
    } cases[] = {
        {"show CUT", 1, "CUT: invalid or damaged list: address section: path item at 0x6"},
        {"show SHORT", 1, "shorter than 8 bytes"},
        {"show MISSING", 1, "MISSING: cannot be read"},
        {"plain CUT PLAIN", 0, ""},
        {"make MISSING OUT", 1, "MISSING: cannot be read"},
        {"", 2, "usage:"},
        {"show", 2, "usage:"},
        {"show CUT --level 2", 2, "usage:"},
        {"make list.txt", 2, "usage:"},
        {"make list.txt OUT --level 4", 2, "usage:"},
        {"make list.txt OUT --kind", 2, "usage:"},
        {"make list.txt OUT --json", 2, "usage:"},
        {"frob a b", 2, "usage:"},
    };
    Source("address 1.2.3.4 1\n");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        EXPECT_EQ(Run(c.args), c.status) << err_;
        EXPECT_NE(err_.find(c.error), std::string::npos) << err_;
    }
    // plain writes the unscrambled bytes: the extended layout's mark comes first.
    EXPECT_EQ(install_.readFile(install_.file("PLAIN")).substr(0, 1), "\xFC");
}

TEST_F(ListTool, MakeReadsStandardInputAndReplacesTheOutput) {
    install_.writeFile(install_.file("OUT"), "old");
    ASSERT_EQ(testsupport::RunCommand(
                  "cd '" + install_.programDir() + "' && printf 'address 1.2.3.4 1\\n' | " +
                      testsupport::BuiltProgram("veldana-list") + " make - OUT --level 2",
                  &out_, &err_),
              0)
        << err_;
    EXPECT_NE(out_.find("OUT: level 2 restricted list"), std::string::npos) << out_;
    ASSERT_EQ(Run("show OUT"), 0) << err_;
    EXPECT_NE(out_.find("address 1.2.3.4 0x0001\n"), std::string::npos) << out_;
    EXPECT_FALSE(Exists("OUT.new"));
}

}  // namespace

// veldana-db run as a program on the sample database and on damaged files.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "dbbuild/record_file.h"
#include "tests/dbbuild/sample_database.h"
#include "tests/support/temp_install.h"

namespace {

struct Result {
    int status;
    std::string out, err;
};

class VeldanaDb : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        install_ = std::make_unique<testsupport::TempInstall>();
        dbbuild::ResetRecordFile();
        ASSERT_TRUE(dbtest::BuildSampleDatabase(install_->file("VeldaNOT.BIN")));
        dbbuild::ResetRecordFile();
    }
    static void TearDownTestSuite() { install_.reset(); }

    static Result Db(const std::string& args) {
        Result r;
        r.status = testsupport::RunCommand(testsupport::BuiltProgram("veldana-db") + " " + args,
                                           &r.out, &r.err);
        return r;
    }
    static std::string File() { return install_->file("VeldaNOT.BIN"); }

    static std::unique_ptr<testsupport::TempInstall> install_;
};
std::unique_ptr<testsupport::TempInstall> VeldanaDb::install_;

// True when the texts occur in `s` in this order.
bool InOrder(const std::string& s, std::initializer_list<std::string> texts) {
    std::size_t at = 0;
    for (const std::string& t : texts) {
        at = s.find(t, at);
        if (at == std::string::npos) return false;
        at += t.size();
    }
    return true;
}

TEST_F(VeldanaDb, InfoShowsHeaderTablesAndIndexes) {
    Result r = Db("info " + File());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(InOrder(r.out, {"magic VD, version 0x0100", "table area end 0x00a83400",
                                "alias pairs: 2 at 0x009c3400", "address table (descriptor at 80)",
                                "capacity 98304, in use 7", "path data at 0x003b0200",
                                "name table (descriptor at 158)", "capacity 1000, in use 9",
                                "address index: mask 0xffff, 6 entries",
                                "name index: mask 0xffff, 6 entries at 0x00ac3a00"}))
        << r.out;

    r = Db("info --json " + File());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.front(), '{');
    EXPECT_TRUE(InOrder(r.out, {"\"table_area_end\":11023360", "\"alias_count\":2",
                                "\"address_table\":{", "\"in_use\":7", "\"name_table\":{",
                                "\"address_index\":{\"built\":true,\"mask\":65535,\"entries\":6",
                                "\"name_index\":{\"built\":true,\"mask\":65535,\"entries\":6"}))
        << r.out;
}

TEST_F(VeldanaDb, DumpListsBothIndexesInTheirOrder) {
    Result r = Db("dump " + File());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(InOrder(
        r.out, {"address index: 6 entries", "255.255.255.255  categories 0xffff", "key \"test\"",
                "10.0.0.1  categories 0x0002", "242.1.4.4  categories 0x0015",
                "1.2.3.4  categories 0x0015", "key \"x\"", "key \"ab\"", "key \"abc\"", "5.6.7.8",
                "13.13.13.13", "categories 0xffff  key \"ad\"", "name index: 6 entries", "\"ab\"",
                "\"abc\"", "\"abd\"", "\"com.example\"  flags 0x80  categories 0xfefe",
                "\"z.z.z.z.z\"", "\"\\xffcom.evil\"  flags 0x82  categories 0xffff"}))
        << r.out;

    r = Db("--json dump " + File());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(
        InOrder(r.out, {"{\"address_index\":{\"built\":true", "\"address\":\"1.2.3.4\"",
                        "\"items\":[{\"categories\":16,\"kind\":2,\"key\":\"x\",\"hex\":\"78\"}",
                        "\"name_index\"", "\"key\":\"\\u00ffcom.evil\""}))
        << r.out;
}

TEST_F(VeldanaDb, LookupFindsAddressesPathsAndNames) {
    Result r = Db("lookup " + File() + " 1.2.3.4 /ABC/d");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(InOrder(r.out, {"address 1.2.3.4  categories 0x0015  entry 3  bucket 15918",
                                "path \"/ABC/d\": item 1 (text, leading part, categories 0x0001)",
                                " item 2 (text, leading part, categories 0x0004)"}))
        << r.out;
    EXPECT_EQ(r.out.find("item 0"), std::string::npos) << r.out;

    r = Db("lookup " + File() + " 1.2.3.5");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("address 1.2.3.5: not in the address index (bucket 19758)"),
              std::string::npos)
        << r.out;

    // Domains are stored with their labels reversed; a host finds its parent domain.
    r = Db("lookup " + File() + " www.Example.COM");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "name \"com.example\"  flags 0x80  categories 0xfefe  position 3\n");
    r = Db("lookup " + File() + " example.net");
    EXPECT_EQ(r.out,
              "name index: nothing for \"example.net\" (keys \"net.example\", \"net\", each also "
              "with the 0xff lead byte)\n");
    r = Db("lookup " + File() + " evil.com --json");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(InOrder(r.out, {"\"query\":\"evil.com\"", "\"key\":\"com.evil\",\"found\":false",
                                "\"key\":\"\\u00ffcom.evil\",\"found\":true",
                                "\"flags\":130,\"categories\":65535"}))
        << r.out;
}

TEST_F(VeldanaDb, DamagedFilesAndUsageErrors) {
    const std::string damaged = install_->file("damaged.BIN");
    std::filesystem::copy_file(File(), damaged);
    std::filesystem::resize_file(damaged, 0x900000);  // cuts into the table area

    for (const char* command : {"info", "dump", "lookup"}) {
        Result r = Db(std::string(command) + " " + damaged + (command[0] == 'l' ? " 1.2.3.4" : ""));
        EXPECT_EQ(r.status, 1) << command;
        EXPECT_NE(r.err.find("damaged or not a database: the table area runs past the end"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(r.out, "");
    }
    Result r = Db("info " + install_->file("missing.BIN"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot open"), std::string::npos) << r.err;

    const std::string usage[] = {"",
                                 "info",
                                 "frobnicate " + File(),
                                 "info " + File() + " extra",
                                 "lookup " + File(),
                                 "lookup " + File() + " example.com /path"};
    for (const std::string& args : usage) {
        r = Db(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_NE(r.err, "") << args;
    }
}

}  // namespace

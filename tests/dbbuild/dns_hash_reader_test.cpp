#include "dbread/dns_hash_reader.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "dbbuild/dns_hash.h"
#include "tests/support/temp_install.h"
#include "tools/db_reports.h"

namespace {

using namespace dbbuild;
using namespace dbread;
using namespace dbreports;

// The file every test starts from (101 buckets, records at 1024):
//   0 n0.example    10.0.0.1     bucket 39, next 1   (records 0, 1 and 2 form one ring)
//   1 n18.example   10.0.0.2     bucket 39, next 2
//   2 n163.example  10.0.0.3     bucket 39, next 0
//   3 a.example     192.168.1.1  bucket 61, next 3
//   4 caf\xe9"q     1.2.3.4      bucket 18, next 4
// n198.example also hashes to bucket 39 but is not stored; absent.example hashes to the
// empty bucket 66.
class DnsHashReaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetDnsHash();
        ASSERT_EQ(DnsHashCreate(Path(), 101), 1);
        const std::pair<std::string, std::uint32_t> records[] = {
            {"n0.example", 0x0100000A}, {"n18.example", 0x0200000A}, {"n163.example", 0x0300000A},
            {"a.example", 0x0101A8C0},  {"caf\xe9\"q", 0x04030201},
        };
        for (auto [name, value] : records) ASSERT_GT(DnsHashPut(name, &value), 0);
        ASSERT_EQ(DnsHashClose(), 1);
        good = install.readFile(Path());
        ASSERT_EQ(good.size(), 1024u + 5 * 76);
    }

    std::string Path() const { return install.file("DNSHASH.DAT"); }
    static void Set32(std::string& b, std::size_t at, std::uint32_t v) {
        for (std::size_t i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
    }
    static std::size_t Record(std::size_t index) { return 1024 + 76 * index; }

    // Opens `bytes` from a file or from memory.
    bool Open(const std::string& bytes, bool fromFile, DnsHashImage& image, std::string& error) {
        if (!fromFile)
            return OpenDnsHashBytes(
                std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), image,
                error);
        install.writeFile(Path(), bytes);
        return OpenDnsHashFile(Path(), image, error);
    }

    testsupport::TempInstall install;
    std::string good;
};

TEST_F(DnsHashReaderTest, ReportsDescribeAGoodFile) {
    DnsHashImage image;
    std::string out, error;
    ASSERT_TRUE(OpenDnsHashFile(Path(), image, error)) << error;

    ASSERT_TRUE(DnsHashInfoJson(image, out, error)) << error;
    EXPECT_EQ(out,
              "{\"magic\":29810,\"recordSize\":76,\"tableOffset\":512,\"bucketCount\":101,"
              "\"recordOffset\":1024,\"recordCount\":5,\"nameBytes\":53,\"bucketsUsed\":3,"
              "\"longestRing\":3,\"fileSize\":1404}\n");
    ASSERT_TRUE(DnsHashInfoText(image, out, error)) << error;
    EXPECT_NE(out.find("offset 512, 101 buckets, 3 used\n"), std::string::npos) << out;
    EXPECT_NE(out.find("longest ring   3\n"), std::string::npos) << out;

    ASSERT_TRUE(DnsHashDumpJson(image, out, error)) << error;
    EXPECT_EQ(out,
              "{\"bucketCount\":101,\"records\":["
              "{\"index\":0,\"name\":\"n0.example\",\"address\":\"10.0.0.1\",\"bucket\":39,"
              "\"next\":1},"
              "{\"index\":1,\"name\":\"n18.example\",\"address\":\"10.0.0.2\",\"bucket\":39,"
              "\"next\":2},"
              "{\"index\":2,\"name\":\"n163.example\",\"address\":\"10.0.0.3\",\"bucket\":39,"
              "\"next\":0},"
              "{\"index\":3,\"name\":\"a.example\",\"address\":\"192.168.1.1\",\"bucket\":61,"
              "\"next\":3},"
              "{\"index\":4,\"name\":\"caf\\u00e9\\\"q\",\"address\":\"1.2.3.4\",\"bucket\":18,"
              "\"next\":4}]}\n");
    ASSERT_TRUE(DnsHashDumpText(image, out, error)) << error;
    EXPECT_NE(out.find("         4         18          4  1.2.3.4          caf\\xe9\"q\n"),
              std::string::npos)
        << out;
}

TEST_F(DnsHashReaderTest, LookupFollowsTheRingFromItsHead) {
    DnsHashImage image;
    std::string out, error;
    ASSERT_TRUE(OpenDnsHashFile(Path(), image, error)) << error;
    const struct {
        std::string name;
        std::string json;
    } cases[] = {
        {"n163.example",
         "{\"name\":\"n163.example\",\"hash\":1846755951,\"bucket\":39,\"ring\":[0,1,2],"
         "\"found\":true,\"record\":{\"index\":2,\"name\":\"n163.example\",\"address\":"
         "\"10.0.0.3\",\"bucket\":39,\"next\":0}}\n"},
        {"n198.example",  // walks the whole ring back to its head
         "{\"name\":\"n198.example\",\"hash\":1846781807,\"bucket\":39,\"ring\":[0,1,2],"
         "\"found\":false}\n"},
        {"absent.example",
         "{\"name\":\"absent.example\",\"hash\":2439676983,\"bucket\":66,\"ring\":[],"
         "\"found\":false}\n"},
        {"A.example",  // case matters
         "{\"name\":\"A.example\",\"hash\":910725231,\"bucket\":50,\"ring\":[],"
         "\"found\":false}\n"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(DnsHashLookupJson(image, c.name, out, error)) << error;
        EXPECT_EQ(out, c.json);
    }
    ASSERT_TRUE(DnsHashLookupText(image, "n18.example", out, error)) << error;
    EXPECT_NE(out.find("ring     0 -> 1\nfound    record 1: 10.0.0.2\n"), std::string::npos) << out;
    EXPECT_FALSE(DnsHashLookupText(image, "", out, error));

    // A name longer than 63 bytes is looked up as the builder stored it: cut.
    ResetDnsHash();
    ASSERT_EQ(DnsHashCreate(Path(), 101), 1);
    std::uint32_t value = 5;
    ASSERT_EQ(DnsHashPut(std::string(80, 'x'), &value), 1);
    ASSERT_EQ(DnsHashClose(), 1);
    ASSERT_TRUE(OpenDnsHashFile(Path(), image, error)) << error;
    DnsLookupResult result;
    ASSERT_TRUE(LookupDnsName(image, std::string(70, 'x'), result, error)) << error;
    EXPECT_TRUE(result.found);
    EXPECT_EQ(result.record.value, 5u);
}

TEST_F(DnsHashReaderTest, RefusesDamagedAndForeignFiles) {
    using Mutation = std::function<void(std::string&)>;
    const struct {
        const char* what;
        Mutation mutate;
        const char* reason;
    } cases[] = {
        {"a truncated header", [](std::string& b) { b.resize(10); },
         "fewer than the 24-byte header"},
        {"a foreign file", [](std::string& b) { b.replace(0, 4, "PK\x03\x04"); },
         "not a DNS resolving database"},
        {"another record size", [](std::string& b) { b[2] = 80; }, "record size 80 instead"},
        {"a bucket count that does not fit", [](std::string& b) { Set32(b, 8, 0x10000000); },
         "past the end of the file"},
        {"a bucket count below 100", [](std::string& b) { Set32(b, 8, 7); }, "below 100"},
        {"a record area offset that disagrees", [](std::string& b) { Set32(b, 12, 1536); },
         "record area offset 1536 instead of 1024"},
        {"a partial record", [](std::string& b) { b.append(10, 'z'); },
         "not a whole number of 76-byte records"},
        {"a record count above the records", [](std::string& b) { Set32(b, 20, 6); },
         "counts 6 records but the file holds 5"},
        {"an unfinished build", [](std::string& b) { Set32(b, 20, 0); }, "unfinished build"},
        {"filler that is not 0xFF", [](std::string& b) { b[916] = 0; }, "behind the bucket table"},
        {"a bucket naming a record outside", [](std::string& b) { Set32(b, 512, 9); },
         "bucket 0 names record 9, outside the 5 records"},
        {"a record linking outside", [](std::string& b) { Set32(b, Record(3), 99); },
         "record 3 links to record 99"},
        {"a name length of 0", [](std::string& b) { b[Record(3) + 12] = 0; }, "name length 0"},
        {"a name length of 64", [](std::string& b) { b[Record(3) + 12] = 64; }, "name length 64"},
        {"a hash that is not the name's", [](std::string& b) { Set32(b, Record(3) + 4, 1); },
         "its name hashes to 0x3648b06f"},
        {"a ring that loops without its head", [](std::string& b) { Set32(b, Record(2), 1); },
         "the ring of bucket 39 does not come back to its head"},
        {"a record in another bucket's ring",
         [](std::string& b) {
             Set32(b, Record(2), 3);
             Set32(b, Record(3), 0);
         },
         "record 3 of bucket 61 is in the ring of bucket 39"},
        {"a record in no ring", [](std::string& b) { Set32(b, 512 + 4 * 18, 0xFFFFFFFF); },
         "record 4 is in no ring"},
        {"a name byte total that disagrees", [](std::string& b) { Set32(b, 16, 54); },
         "counts 54 name bytes but the records hold 53"},
    };
    for (const auto& c : cases) {
        for (bool fromFile : {true, false}) {
            SCOPED_TRACE(std::string(c.what) + (fromFile ? " (file)" : " (bytes)"));
            std::string bytes = good;
            c.mutate(bytes);
            DnsHashImage image;
            std::string out, error;
            bool ok = Open(bytes, fromFile, image, error) && DnsHashInfoText(image, out, error);
            EXPECT_FALSE(ok);
            EXPECT_NE(error.find(c.reason), std::string::npos) << error;
            // Dump refuses what info refuses; lookups end whatever they meet.
            if (Open(bytes, fromFile, image, error)) {
                EXPECT_FALSE(DnsHashDumpJson(image, out, error));
                for (const char* name : {"n0.example", "n198.example", "a.example"})
                    DnsHashLookupJson(image, name, out, error);
            }
        }
    }
}

TEST_F(DnsHashReaderTest, LookupStopsAtDamageOnItsWay) {
    using Mutation = std::function<void(std::string&)>;
    const struct {
        const char* what;
        Mutation mutate;
        const char* name;
        const char* reason;
    } cases[] = {
        {"a ring that loops without its head", [](std::string& b) { Set32(b, Record(2), 1); },
         "n198.example", "does not come back to its head (record 0) within 5 records"},
        {"a self-link inside the ring", [](std::string& b) { Set32(b, Record(1), 1); },
         "n198.example", "within 5 records"},
        {"a bucket naming a record outside", [](std::string& b) { Set32(b, 512 + 4 * 39, 9); },
         "n0.example", "bucket 39 names record 9"},
        {"a record linking outside", [](std::string& b) { Set32(b, Record(1), 99); },
         "n198.example", "record 1 links to record 99"},
        {"a name length of 0", [](std::string& b) { b[Record(1) + 12] = 0; }, "n198.example",
         "record 1 has name length 0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string bytes = good;
        c.mutate(bytes);
        DnsHashImage image;
        std::string error;
        ASSERT_TRUE(Open(bytes, true, image, error)) << error;
        DnsLookupResult result;
        EXPECT_FALSE(LookupDnsName(image, c.name, result, error));
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }

    DnsHashImage image;
    std::string error;
    EXPECT_FALSE(OpenDnsHashFile(install.file("missing.dat"), image, error));
    EXPECT_NE(error.find("missing.dat"), std::string::npos) << error;
    EXPECT_FALSE(HasDnsHashMagic(install.file("missing.dat")));
    install.writeFile(Path(), good);
    EXPECT_TRUE(HasDnsHashMagic(Path()));
}

}  // namespace

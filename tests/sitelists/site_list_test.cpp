#include "sitelists/site_list.h"

#include <random>

#include <gtest/gtest.h>

#include "dbread/text.h"
#include "platform/files.h"
#include "tests/support/temp_install.h"

namespace {

using namespace sitelists;

std::vector<std::uint8_t> RandomBytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> v(n);
    for (auto& b : v) b = static_cast<std::uint8_t>(rng());
    return v;
}

std::string AsString(const std::vector<std::uint8_t>& v) { return std::string(v.begin(), v.end()); }

class SiteListTest : public ::testing::Test {
protected:
    testsupport::TempInstall install;
    void SetUp() override { ResetSiteLists(); }
    void TearDown() override {
        ResetSiteLists();
        platform::ClearFileFaults();
    }
    std::string userList() const { return install.file("USER.LST"); }
};

TEST(ScrambleTest, WorkedExampleAndZeroImage) {
    std::vector<std::uint8_t> abc = {0x61, 0x62, 0x63};
    ScrambleSiteList(abc);
    EXPECT_EQ(abc, (std::vector<std::uint8_t>{0xC9, 0xF6, 0x3B}));
    UnscrambleSiteList(abc);
    EXPECT_EQ(abc, (std::vector<std::uint8_t>{0x61, 0x62, 0x63}));

    std::vector<std::uint8_t> zeros(kSiteListImageSize, 0);
    ScrambleSiteList(zeros);
    EXPECT_EQ(zeros, std::vector<std::uint8_t>(kSiteListImageSize, 0)) << "s = 0 keeps zeros";
}

TEST(ScrambleTest, EachUndoesTheOtherForEveryLength) {
    for (std::size_t n : {2u, 3u, 255u, 256u, 257u, 4096u, 69632u, 204800u}) {
        auto original = RandomBytes(n, static_cast<unsigned>(n));
        auto bytes = original;
        ScrambleSiteList(bytes);
        if (n >= 8) {
            EXPECT_NE(bytes, original) << n;
        }
        UnscrambleSiteList(bytes);
        EXPECT_EQ(bytes, original) << n;
    }
}

TEST_F(SiteListTest, SaveWritesTheScrambledImageAndLoadReturnsItIdentically) {
    SetSiteName(SiteList::kRestricted, 0, "Bad.Example.COM");
    SetSiteAddress(SiteList::kRestricted, 0, 0x04030201);
    SetSiteName(SiteList::kApproved, 700, "good.example.org/kids");
    SetDomainRecord(0, kDomainRestricted, "xxx");
    SetDomainRecord(1, kDomainApproved, "EDU");
    auto image = std::vector<std::uint8_t>(SiteListImage().begin(), SiteListImage().end());

    ASSERT_EQ(SaveSiteList(), 1);
    auto expected = image;
    ScrambleSiteList(expected);
    EXPECT_EQ(install.readFile(userList()), AsString(expected));
    EXPECT_EQ(std::vector<std::uint8_t>(SiteListImage().begin(), SiteListImage().end()), image)
        << "the image stays plain in memory";

    ResetSiteLists();
    LoadSiteList();
    EXPECT_EQ(std::vector<std::uint8_t>(SiteListImage().begin(), SiteListImage().end()), image);
    EXPECT_EQ(SiteName(SiteList::kRestricted, 0), "bad.example.com");
    EXPECT_EQ(dbread::DottedAddress(SiteAddress(SiteList::kRestricted, 0)), "1.2.3.4");
    EXPECT_EQ(SiteName(SiteList::kApproved, 700), "good.example.org/kids");
    EXPECT_EQ(DomainPart(1), "edu");
    EXPECT_EQ(DomainKindAt(1), kDomainApproved);
}

TEST_F(SiteListTest, FilesOfOtherLengthsKeepBlockOneOnly) {
    auto junk = RandomBytes(kSiteListImageSize, 7);
    struct Case {
        const char* what;
        std::size_t length;
    };
    const Case cases[] = {
        {"older 69632-byte file", kBlockOneEnd},
        {"truncated file", 1000},
        {"empty file", 0},
        {"longer file", kSiteListImageSize + 4096},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto plain = RandomBytes(c.length, 11);
        auto file = plain;
        ScrambleSiteList(file);
        install.writeFile(userList(), AsString(file));

        std::copy(junk.begin(), junk.end(), SiteListImage().begin());  // earlier contents
        LoadSiteList();
        auto image = SiteListImage();
        std::size_t kept = std::min(c.length, kBlockOneEnd);
        for (std::size_t i = 0; i < kept; ++i) ASSERT_EQ(image[i], plain[i]) << i;
        for (std::size_t i = kept; i < kBlockOneEnd; ++i) ASSERT_EQ(image[i], junk[i]) << i;
        for (std::size_t i = kBlockOneEnd; i < kSiteListImageSize; ++i) ASSERT_EQ(image[i], 0) << i;
    }
}

TEST_F(SiteListTest, MissingFileLeavesTheImageAndZeroFileGivesEmptyLists) {
    SetSiteName(SiteList::kApproved, 0, "kept.example");
    LoadSiteList();
    EXPECT_EQ(SiteName(SiteList::kApproved, 0), "kept.example");

    install.writeFile(userList(), std::string(kSiteListImageSize, '\0'));
    LoadSiteList();
    EXPECT_EQ(BlockEntryCount(SiteList::kApproved, 0), 0);
    EXPECT_EQ(BlockEntryCount(SiteList::kRestricted, 1), 0);
    EXPECT_EQ(DomainPart(0), "");
}

TEST_F(SiteListTest, EntriesFillBlockOneThenBlockTwo) {
    for (int i = 0; i < 513; ++i)
        ASSERT_EQ(SetSiteName(SiteList::kRestricted, i, "site" + std::to_string(i)), 1);
    EXPECT_EQ(BlockEntryCount(SiteList::kRestricted, 0), 512);
    EXPECT_EQ(BlockEntryCount(SiteList::kRestricted, 1), 1);
    EXPECT_EQ(SiteNameOffset(SiteList::kRestricted, 511), kRestrictedNames1 + 511 * 64);
    EXPECT_EQ(SiteNameOffset(SiteList::kRestricted, 512), kRestrictedNames2);
    EXPECT_EQ(SiteAddressOffset(SiteList::kApproved, 512), kApprovedAddresses2);
    EXPECT_EQ(SiteAddressOffset(SiteList::kApproved, 3), kApprovedAddresses1 + 12);
    EXPECT_EQ(BlockEntryCount(SiteList::kApproved, 0), 0);
}

TEST_F(SiteListTest, TextsLongerThanTheirSlotsAreRefused) {
    const std::string longest(63, 'a');
    ASSERT_EQ(SetSiteName(SiteList::kApproved, 0, longest), 1);
    EXPECT_EQ(SetSiteName(SiteList::kApproved, 0, longest + "b"), 0);
    EXPECT_EQ(SiteName(SiteList::kApproved, 0), longest);
    ASSERT_EQ(SetDomainRecord(5, kDomainApproved, std::string(62, 'd')), 1);
    EXPECT_EQ(SetDomainRecord(5, kDomainRestricted, std::string(63, 'e')), 0);
    EXPECT_EQ(DomainPart(5), std::string(62, 'd'));
    EXPECT_EQ(DomainKindAt(5), kDomainApproved);

    // A slot without a terminator (a damaged file) still reads as at most 63 characters.
    std::fill_n(SiteListImage().begin() + kRestrictedNames1, 64, 'z');
    EXPECT_EQ(SiteName(SiteList::kRestricted, 0), std::string(63, 'z'));
    // A shorter text clears the remnants of a longer one.
    ASSERT_EQ(SetSiteName(SiteList::kRestricted, 0, "ab"), 1);
    EXPECT_EQ(SiteListImage()[kRestrictedNames1 + 3], 0);
}

// A save that fails at any step leaves the old USER.LST whole; the image stays plain.
TEST_F(SiteListTest, AFailedSaveAtAnyStepKeepsTheOldFileWhole) {
    SetSiteName(SiteList::kApproved, 0, "old.example");
    ASSERT_EQ(SaveSiteList(), 1);
    std::string oldFile = install.readFile(userList());
    SetSiteName(SiteList::kApproved, 0, "new.example");
    auto plain = std::vector<std::uint8_t>(SiteListImage().begin(), SiteListImage().end());

    platform::ClearFileFaults();
    ASSERT_EQ(SaveSiteList(), 1);
    int steps = platform::FileStepCount();
    std::string newFile = install.readFile(userList());
    install.writeFile(userList(), oldFile);

    for (int failAt = 1; failAt <= steps; ++failAt) {
        SCOPED_TRACE(failAt);
        platform::InjectFileFault(failAt);
        EXPECT_EQ(SaveSiteList(), 0);
        EXPECT_EQ(install.readFile(userList()), oldFile);
        EXPECT_EQ(std::vector<std::uint8_t>(SiteListImage().begin(), SiteListImage().end()), plain);
    }
    platform::ClearFileFaults();
    ASSERT_EQ(SaveSiteList(), 1);
    EXPECT_EQ(install.readFile(userList()), newFile);
}

}  // namespace

#include "sitelists/line_reader.h"

#include <array>
#include <filesystem>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/temp_install.h"

namespace {

using namespace sitelists;

class LineReaderTest : public ::testing::Test {
protected:
    testsupport::TempInstall install;
    void TearDown() override { ResetLineFiles(); }

    // Every result of ReadLine until the end, with the texts read.
    std::vector<std::pair<int, std::string>> ReadAll(const std::string& content, std::size_t size) {
        std::string path = install.file("sites.txt");
        install.writeFile(path, content);
        int slot = OpenLineFile(path);
        EXPECT_GE(slot, 1);
        std::vector<std::pair<int, std::string>> results;
        std::vector<char> buffer(size, 'X');
        int n;
        do {
            n = ReadLine(slot, buffer);
            results.emplace_back(n, n >= 0 ? std::string(buffer.data()) : "");
        } while (n >= 0 && results.size() < 100);
        CloseLineFile(slot);
        return results;
    }
};

TEST_F(LineReaderTest, LinesComeWithoutTheirEnds) {
    using R = std::vector<std::pair<int, std::string>>;
    struct Case {
        const char* what;
        std::string content;
        std::size_t size;
        R expected;
    };
    const Case cases[] = {
        {"three lines", "x\ny\nz\n", 128, R{{1, "x"}, {1, "y"}, {1, "z"}, {-1, ""}}},
        {"no final line end", "x\ny", 128, R{{1, "x"}, {1, "y"}, {-1, ""}}},
        {"CR LF and an empty line", "a.example\r\n\r\nb\r\n", 128,
         R{{9, "a.example"}, {0, ""}, {1, "b"}, {-1, ""}}},
        {"a line longer than the buffer", std::string(200, 'q') + "\nr\n", 128,
         R{{127, std::string(127, 'q')}, {1, "r"}, {-1, ""}}},
        {"a line longer than 4095 comes in pieces", std::string(5000, 'w') + "\n", 8192,
         R{{4095, std::string(4095, 'w')}, {905, std::string(905, 'w')}, {-1, ""}}},
        {"empty file", "", 16, R{{-1, ""}}},
    };
    for (const auto& c : cases) EXPECT_EQ(ReadAll(c.content, c.size), c.expected) << c.what;
}

TEST_F(LineReaderTest, SlotsAreLimitedAndCheckedAndErrorsReported) {
    std::string path = install.file("f.txt");
    install.writeFile(path, "line\n");
    std::array<int, kLineFileSlots> slots{};
    for (int i = 0; i < kLineFileSlots; ++i) {
        slots[i] = OpenLineFile(path);
        ASSERT_EQ(slots[i], i + 1);
    }
    EXPECT_EQ(OpenLineFile(path), 0) << "a 26th file waits for a free slot";
    CloseLineFile(7);
    EXPECT_EQ(OpenLineFile(path), 7);

    std::array<char, 16> buf{};
    EXPECT_EQ(ReadLine(0, buf), 0);
    EXPECT_EQ(ReadLine(26, buf), 0);
    CloseLineFile(3);
    EXPECT_EQ(ReadLine(3, buf), 0) << "a free slot";
    CloseLineFile(-1);
    CloseLineFile(99);

    EXPECT_EQ(OpenLineFile(install.file("missing.txt")), 0);
    EXPECT_EQ(OpenLineFile(path), 3) << "a failed open leaves its slot free";
    ResetLineFiles();

    std::filesystem::create_directory(install.file("adir"));
    int dir = OpenLineFile(install.file("adir"));
    ASSERT_GE(dir, 1);
    EXPECT_EQ(ReadLine(dir, buf), -2);
}

}  // namespace

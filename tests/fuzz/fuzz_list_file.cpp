// Fuzzes the category list reader: an input is the unscrambled content of a list file (the
// transform chains every byte to the ones before it, so mutations are made on the plain
// bytes; the seeds are lists made by veldana-list and unscrambled with its "plain" command).
//
// Each input is checked and read whole under both installed names; a list that passes must
// read back unchanged after writing it again. Then the input is scrambled into a list file
// and parsed by LoadCategoryList into a record file, as the database build does.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "dbbuild/list_parser.h"
#include "dbbuild/record_file.h"
#include "dbread/list_file.h"
#include "sitelists/site_list.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void CheckRoundTrip(const Bytes& content, const char* name) {
    dbread::ListContent list;
    dbread::ListLayout layout;
    std::string why;
    const bool valid =
        dbread::DecodeListFile(name, content, dbread::kAnyListKind, list, layout, why);
    if ((dbbuild::CheckListHeader(name, content, dbread::kAnyListKind) != 0) != valid)
        std::abort();  // the header test and the reader disagree
    if (!valid) return;
    Bytes again;
    if (!dbread::EncodeListFile(list, again, why)) {
        // Writing again may only grow a list past a limit: by a closing 0 byte per section,
        // or by sections that share bytes in the input and are written apart.
        if (content.size() < dbread::kMaxListFileSize / 8) std::abort();
        return;
    }
    dbread::ListContent back;
    dbread::ListLayout backLayout;
    if (!dbread::DecodeListFile(name, again, dbread::kAnyListKind, back, backLayout, why))
        std::abort();
    back.namesReadable = list.namesReadable;
    if (!(back == list)) std::abort();
}

// A program directory with a small record file that the parser fills.
struct Installation {
    std::string dir;
    std::string database;
    int runs = 0;
    Installation() {
        char tmpl[] = "/tmp/fuzz_list_file-XXXXXX";
        if (mkdtemp(tmpl) == nullptr) std::abort();
        dir = tmpl;
        database = dir + "/FUZZ.BIN";
        setenv("VELDANA_PROGRAM_DIR", dir.c_str(), 1);
        setenv("VELDANA_WINDOWS_DIR", (dir + "/windows").c_str(), 1);
    }
    // A fresh file now and then, so that inserts keep succeeding.
    void Open() {
        if (runs++ % 256 == 0 || !dbbuild::RdbIsOpen()) {
            dbbuild::ResetRecordFile();
            if (dbbuild::RdbCreate(database, 0x10000, 4096, 16) != 1) std::abort();
        }
    }
};

void Parse(const Bytes& content) {
    static Installation install;
    Bytes file = content;
    if (file.size() >= 2) sitelists::ScrambleSiteList(file);
    {
        std::ofstream out(install.dir + "/VELDA.NOT", std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(file.data()),
                  static_cast<std::streamsize>(file.size()));
    }
    install.Open();
    if (dbbuild::LoadCategoryList("VELDA.NOT") != 1) {
        if (dbbuild::PutListAddresses(0, false) != 0) std::abort();  // nothing kept
        return;
    }
    const auto& layout = dbbuild::LoadedListLayout();
    if (static_cast<std::size_t>(dbbuild::PutListAddresses(0, false)) != layout.addressRecords ||
        static_cast<std::size_t>(dbbuild::PutListAddresses(0, true)) != layout.siteBlockRecords)
        std::abort();
    dbbuild::PutListAliases();
    dbbuild::ReleaseCategoryList();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > dbread::kMaxListFileSize + 1) return 0;
    const Bytes content(data, data + size);
    CheckRoundTrip(content, "VELDA.NOT");
    CheckRoundTrip(content, "VELDA.YES");
    Parse(content);
    return 0;
}

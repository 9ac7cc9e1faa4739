// The file catalogue: every file the console opens, tests, dates or deletes is named by
// a file identifier. Most files live in the program directory; IVD.INI and
// SYSTEM/WSOCK32.DLL live in the Windows directory. Identifier 12287 (and any other
// unlisted identifier) names the file held in the list-name buffer.
#pragma once

#include <string>
#include <string_view>

namespace settings {

enum : int {
    kFileIvdIni = 8193,
    kFileSocketLibrary = 8194,  // SYSTEM/WSOCK32.DLL
    kFileUserList = 8196,       // USER.LST
    kFileVeldaYes = 8199,
    kFileVeldaNot = 8200,
    kFileUpdateMarker = 8201,   // UPDATE
    kFileVeldaNotBin = 8205,
    kFileVeldaYesBin = 8206,
    kFileDnsRawYes = 8207,
    kFileDnsRawNot = 8208,
    kFileIpDnsRawNot = 8212,
    kFileIpDnsRawYes = 8213,
    kFileIpAddrList = 8214,     // IPADDR.LST
    kFileNoneNotBin = 8215,
    kFileNoneYesBin = 8216,
    kFileNamedList = 12287,     // the name in the list-name buffer
};

// Open modes (OpenFile flags).
enum : int {
    kModeReadWrite = 0x2,
    kModeReadDenyWrite = 0x20,
    kModeDate = 0x40,
    kModeReadWriteShared = 0x42,
    kModeDelete = 0x200,
    kModeCreate = 0x1000,
    kModeExists = 0x4000,
};

// Performs one open-style operation on a catalogue file:
//   kModeDate    last-write date as a DOS date (universal time), -1 when it cannot be opened
//   kModeDelete  non-zero when the file is gone afterwards (1 when it never existed), 0 when
//                it still exists
//   kModeExists  positive when the file exists, 0 when not
//   other modes  a file handle the caller closes, or -1
// For the named-list identifier with an empty list-name buffer: 0, and nothing is touched.
int OpenCatalogueFile(int fileId, int mode);

// The list-name buffer: the file name that identifier 12287 opens next.
void SetListName(std::string_view name);
std::string ListName();

// Full path of a catalogue file; empty for the named list while the buffer is empty.
std::string CatalogueFilePath(int fileId);

// The program directory with its trailing '/'.
int GetProgramDirectory(std::string& out);
// Full path of VeldaNOT.BIN (0), VeldaYES.BIN (1), NoneNOT.BIN (2) or NoneYES.BIN (3);
// 0 and nothing written for any other `which`.
int GetDatabasePath(std::string& out, int which);
// Full path of DNSHASH.DAT.
int GetDnsHashPath(std::string& out);
// Replaces a file name by the full path the file search finds; 0 (and the name left as
// it is) when the file is not found.
int ResolveFilePath(std::string& buffer);

// Empties the list-name buffer.
void ResetFileCatalogue();

}  // namespace settings

// Compiles one filter database: the category list (for VeldaNOT.BIN and VeldaYES.BIN), the
// administrator's sites and domains, and the sentinels, written to a temporary file next
// to the database and renamed into place only when complete.
//
//   VeldaNOT.BIN  list named by QTXPCBRF (else VELDA.NOT), restricting, level from the list
//   VeldaYES.BIN  list named by QTXLCBRF (else VELDA.YES), approving, level from the list
//   NoneNOT.BIN   no list, restricting, level 3
//   NoneYES.BIN   no list, approving, level 1
// A category build writes QTXPCND, the DOS date of the list file used ("%u"; 4294967295
// when it cannot be opened). The shared progress window shows the work and is closed at
// the end, whoever opened it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "sitelists/site_entries.h"

namespace dbbuild {

// Whether a rebuild builds NoneNOT.BIN and NoneYES.BIN too, or keeps them.
enum class NoneDatabases { kKept, kBuilt };

// 1 when the database is in place, 0 on failure (also for an identifier that is not one
// of the four databases). The database is built under a temporary name of its own
// (ReserveTemporaryFile), flushed, and renamed over the old one only when complete: until
// then the old database serves, and a failed build leaves it as it was and no temporary
// file. A database that another open denies writing to (the filter reading it) stops the
// build before anything changes. The administrator's sites are resolved with `resolve`.
int BuildDatabase(int fileId, std::uint16_t categoryMask, const sitelists::SiteResolver& resolve);

// The temporary name of a file being built: its path up to and including the first '.' of
// its file name, followed by "TMP" ("TMP" appended when the name has no '.').
std::string TemporaryName(const std::string& path);
// Creates a new, empty file named TemporaryName(path) + "-" and six random letters or
// digits, exclusively (never through a link or over an existing name, so that nobody can
// place a file or a link there beforehand, and two builds never share one): 1 with its name
// in `temp`, else 0.
int ReserveTemporaryFile(const std::string& path, std::string& temp);
// True for a name that ReserveTemporaryFile gives for `path`.
bool IsTemporaryFileOf(const std::string& path, std::string_view name);

}  // namespace dbbuild

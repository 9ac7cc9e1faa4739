// Rebuilding the filter databases and announcing them: VELDABIN_Changed is "0" from the
// start of a rebuild until the databases and DNSHASH.DAT are in place and DNSDataFile
// names it, then "1". The start-up check rebuilds what is missing or older than its list.
#pragma once

#include "dbbuild/database_build.h"
#include "policy/policy.h"

namespace policy {

// Builds NoneNOT.BIN and NoneYES.BIN (with NoneDatabases::kBuilt), then VeldaNOT.BIN and
// VeldaYES.BIN, then publishes them with the DNS resolving database. The administrator's
// sites are resolved by resolve::LookupOrResolve. Nothing is built unless VELDABIN_Changed
// = "0" could be written first. 1 when every database was built and published; on failure
// the flag stays "0" and every database that did not build is the old one.
int RebuildDatabases(dbbuild::NoneDatabases none);
// The two category databases.
enum class CategoryDatabase { kRestricted, kApproved };  // VeldaNOT.BIN, VeldaYES.BIN
// 1 when the database must be rebuilt: missing, empty, or last written before its list file.
int DatabaseIsStale(CategoryDatabase which);
// Repairs what an interrupted or failed rebuild left, and rebuilds what is missing or old:
// leftover temporary files are removed; missing None databases rebuild everything; a stale
// category database or a flag left at "0" rebuilds the category databases and DNSHASH.DAT;
// a DNSHASH.DAT that is missing, older than a raw name list or not the one DNSDataFile
// names is built anew and published. 1 when every database is in place and published.
int CheckDatabasesAtStartup();
// The database part of PublishPolicy: with rebuildDnsHash, VELDABIN_Changed = "0", then
// DNSHASH.DAT built under a temporary name and renamed over the old one when complete, and
// DNSDataFile written; then, when either step is asked for, VELDABIN_Changed = "1". The flag
// becomes "1" only when a complete DNSHASH.DAT is in place and DNSDataFile names it: a failed
// build keeps the old one, and without an old one the flag stays "0". 1 when the flag is "1".
int PublishDatabases(const Publication& publication);

}  // namespace policy

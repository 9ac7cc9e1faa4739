// Rebuilding the filter databases and announcing them: VELDABIN_Changed is "0" from the
// start of a rebuild until the databases and DNSHASH.DAT are in place and DNSDataFile
// names it, then "1". The start-up check rebuilds what is missing or older than its list.
#pragma once

#include "dbbuild/database_build.h"
#include "policy/policy.h"

namespace policy {

// Builds NoneNOT.BIN and NoneYES.BIN (with NoneDatabases::kBuilt), then VeldaNOT.BIN and
// VeldaYES.BIN, then publishes them with the DNS resolving database. The administrator's
// sites are resolved by resolve::LookupOrResolve. 1 when every database was built and
// published; on failure VELDABIN_Changed stays "0".
int RebuildDatabases(dbbuild::NoneDatabases none);
// The two category databases.
enum class CategoryDatabase { kRestricted, kApproved };  // VeldaNOT.BIN, VeldaYES.BIN
// 1 when the database must be rebuilt: missing, empty, or dated before its list file.
int DatabaseIsStale(CategoryDatabase which);
void CheckDatabasesAtStartup();
// The database part of PublishPolicy: with rebuildDnsHash, builds DNSHASH.DAT through a
// temporary file and publishes DNSDataFile; then, when either step is asked for,
// VELDABIN_Changed = "1".
void PublishDatabases(const Publication& publication);

}  // namespace policy

// Rebuilding the filter databases and announcing them: VELDABIN_Changed is "0" from the
// start of a rebuild until the databases and DNSHASH.DAT are in place and DNSDataFile
// names it, then "1". The start-up check rebuilds what is missing or older than its list.
#pragma once

namespace policy {

// Builds NoneNOT.BIN and NoneYES.BIN (when includeNoneDatabases is 1), then VeldaNOT.BIN
// and VeldaYES.BIN, then publishes them with the DNS resolving database. 1 when every
// database was built and published; on failure VELDABIN_Changed stays "0".
int RebuildDatabases(int includeNoneDatabases);
// 1 when VeldaNOT.BIN (which = 0) or VeldaYES.BIN (1) must be rebuilt: missing, empty, or
// dated before its list file.
int DatabaseIsStale(int which);
void CheckDatabasesAtStartup();
// The database part of PublishPolicy: with rebuildDnsHash, builds DNSHASH.DAT through a
// temporary file and publishes DNSDataFile; then VELDABIN_Changed = "1".
void PublishDatabases(int databasesRebuilt, int rebuildDnsHash);

}  // namespace policy

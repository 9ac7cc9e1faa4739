// HKEY_LOCAL_MACHINE, kept in one SQLite database (see platform/locations.h for where).
//
// The calls mirror the Windows registry functions the console uses and return their
// error codes (0 = success). Key and value names are compared without regard to letter
// case and keep the case they were created with. Key paths use backslashes. The store
// keeps a rollback journal: another process may read while this one writes (it waits out a
// write in progress), a reader creates no file, and every write is durable and becomes
// visible to readers in the order it was made.
//
// A fresh store holds HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services, as any
// machine does. A file that is not a store (or a foreign SQLite database) is never
// changed: every call fails with kErrBadDb and RegistryError() says why.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace platform {

// Windows error codes returned by the calls below.
constexpr long kErrSuccess = 0;
constexpr long kErrFileNotFound = 2;
constexpr long kErrAccessDenied = 5;
constexpr long kErrInvalidHandle = 6;
constexpr long kErrInvalidParameter = 87;
constexpr long kErrMoreData = 234;
constexpr long kErrNoMoreItems = 259;
constexpr long kErrBadDb = 1009;
constexpr long kErrKeyDeleted = 1018;

// Value types.
constexpr unsigned kRegNone = 0;
constexpr unsigned kRegSz = 1;
constexpr unsigned kRegExpandSz = 2;
constexpr unsigned kRegBinary = 3;
constexpr unsigned kRegDword = 4;
constexpr unsigned kRegMultiSz = 7;
constexpr unsigned kRegQword = 11;

// An open key. Keys hold no resources; a default-constructed Key is not open.
struct RegKey {
    std::int64_t id = 0;
    bool IsOpen() const { return id != 0; }
};

// The predefined root key.
RegKey HkeyLocalMachine();

long RegOpenKey(const RegKey& parent, std::string_view subKey, RegKey& out);
// Opens the key, creating every missing level.
long RegCreateKey(const RegKey& parent, std::string_view subKey, RegKey& out);
// Reads a value. A value longer than `capacity` bytes yields kErrMoreData and
// leaves `data` empty.
long RegQueryValue(const RegKey& key, std::string_view name, unsigned& type, std::string& data,
                   std::size_t capacity);
long RegSetValue(const RegKey& key, std::string_view name, unsigned type, std::string_view data);
long RegDeleteValue(const RegKey& key, std::string_view name);
// Deletes subKey of parent with everything below it.
long RegDeleteTree(const RegKey& parent, std::string_view subKey);
// Enumerations in name order (ignoring case); kErrNoMoreItems past the end.
long RegEnumKey(const RegKey& key, std::size_t index, std::string& name);
long RegEnumValue(const RegKey& key, std::size_t index, std::string& name, unsigned& type,
                  std::string& data);

// Why the last failing call failed, in words (empty after a success).
std::string RegistryError();
// Closes the store; the next call opens the store that the environment names then.
void ResetRegistry();
// For tests of what a store that cannot be written does to its callers: while set, every
// write fails as on a read-only store (kErrAccessDenied, "... is read-only"). ResetRegistry
// clears it.
void RefuseRegistryWrites(bool refuse);

// For another program that only reads the store (the filter, as another user): the text
// values of one key (below HKEY_LOCAL_MACHINE), each cut at its first NUL, read through a
// connection of its own that is opened read-only, creates nothing and is closed before the
// call returns. A missing key gives an empty map. False, with the reason, when the file is
// not a readable store.
struct CaseInsensitiveLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
};
using RegistryValues = std::map<std::string, std::string, CaseInsensitiveLess>;
bool ReadRegistryKeyValues(const std::string& storePath, std::string_view keyPath,
                           RegistryValues& values, std::string& error);

}  // namespace platform

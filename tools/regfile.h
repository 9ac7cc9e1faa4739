// The registry text format ("Windows Registry Editor Version 5.00" .reg files):
// reading it into operations, applying them, and writing a key tree out.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace tools {

struct RegOp {
    enum Kind { kCreateKey, kDeleteKey, kSetValue, kDeleteValue } kind = kCreateKey;
    std::string key;   // path below HKEY_LOCAL_MACHINE (may be empty: the root)
    std::string name;  // value name ("" = the default value)
    unsigned type = platform::kRegSz;
    std::string data;
};

// Parses .reg text. On failure returns false with the line number and reason in `error`.
bool ParseRegFile(std::string_view text, std::vector<RegOp>& ops, std::string& error);

// Applies parsed operations to the store; false with a reason at the first failure.
bool ApplyRegOps(const std::vector<RegOp>& ops, std::string& error);

// Writes `key` (named `path` below HKEY_LOCAL_MACHINE) and everything below it as .reg
// text, header included.
bool ExportRegKey(const platform::RegKey& key, const std::string& path, std::string& out,
                  std::string& error);

// Splits "HKLM\a\b" or "HKEY_LOCAL_MACHINE\a\b" into the path below the root; false
// for any other root.
bool SplitRootedKey(std::string_view full, std::string& path);

// The value's data as `reg query` shows it.
std::string FormatValueData(unsigned type, const std::string& data);
std::string TypeName(unsigned type);
bool TypeFromName(std::string_view name, unsigned& type);

}  // namespace tools

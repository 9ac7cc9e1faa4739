// The inspector's reports (veldana-db) on the filter databases and on DNSHASH.DAT, as text
// or as JSON, made from what the readers in dbread/ find.
//
// Database keys are shown as quoted text with bytes outside printable ASCII as \xHH, path
// keys that are not printable as hex in groups of 4 bytes. DNSHASH.DAT names are shown with
// bytes outside 0x21..0x7E (and the backslash) escaped as \xNN in text. JSON strings escape
// bytes outside printable ASCII as \u00NN (reading them as Latin-1), so any key survives a
// round trip. The DNSHASH.DAT info and dump reports check the whole file first
// (dbread::CheckDnsHash).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "dbread/dns_hash_reader.h"
#include "dbread/record_reader.h"

namespace dbreports {

enum class ReportFormat { kText, kJson };
bool ReportInfo(const dbread::DatabaseImage& image, ReportFormat format, std::string& out,
                std::string& error);
bool ReportDump(const dbread::DatabaseImage& image, ReportFormat format, std::string& out,
                std::string& error);
// `query` is a dotted address (looked up in both indexes) or a name; `path`, when given, is
// matched against the address entry's path items.
bool ReportLookup(const dbread::DatabaseImage& image, std::string_view query,
                  std::optional<std::string_view> path, ReportFormat format, std::string& out,
                  std::string& error);

// Each returns false with the reason in `error` for a damaged file.
bool DnsHashInfoText(const dbread::DnsHashImage& image, std::string& out, std::string& error);
bool DnsHashInfoJson(const dbread::DnsHashImage& image, std::string& out, std::string& error);
bool DnsHashDumpText(const dbread::DnsHashImage& image, std::string& out, std::string& error);
bool DnsHashDumpJson(const dbread::DnsHashImage& image, std::string& out, std::string& error);
bool DnsHashLookupText(const dbread::DnsHashImage& image, std::string_view name, std::string& out,
                       std::string& error);
bool DnsHashLookupJson(const dbread::DnsHashImage& image, std::string_view name, std::string& out,
                       std::string& error);

}  // namespace dbreports

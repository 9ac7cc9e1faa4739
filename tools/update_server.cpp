#include "tools/update_server.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace updateserver {
namespace {

bool IsTokenChar(char c) {
    auto b = static_cast<unsigned char>(c);
    if (b <= 0x20 || b >= 0x7F) return false;
    return std::strchr("()<>@,;:\\\"/[]?={}", c) == nullptr;
}

bool IsPrintableText(std::string_view text) {
    for (char c : text) {
        auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F) return false;
    }
    return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

bool AllDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool ParseInt(std::string_view text, int low, int high, int& out) {
    if (!AllDigits(text) || text.size() > 9) return false;
    int value = std::stoi(std::string(text));
    if (value < low || value > high) return false;
    out = value;
    return true;
}

std::string BaseName(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// "NUMBER=VALUE" with a download number of 1 to 15 digits.
bool SplitNumbered(std::string_view text, std::string& number, std::string& value) {
    std::size_t eq = text.find('=');
    if (eq == std::string_view::npos) return false;
    number = std::string(text.substr(0, eq));
    value = std::string(text.substr(eq + 1));
    return AllDigits(number) && number.size() <= 15 && !value.empty();
}

bool ApplyOption(std::string_view option, const std::string& value, ServerConfig& config,
                 std::map<std::string, std::string>& names, std::string& error, int depth);

bool ParseConfigLines(std::string_view text, ServerConfig& config,
                      std::map<std::string, std::string>& names, std::string& error, int depth) {
    std::size_t lineNumber = 0;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string_view::npos || line[start] == '#') continue;
        line = line.substr(start);
        std::size_t gap = line.find_first_of(" \t");
        std::string_view option = line.substr(0, gap);
        std::string value;
        if (gap != std::string_view::npos) {
            std::string_view rest = line.substr(gap);
            std::size_t v = rest.find_first_not_of(" \t");
            if (v != std::string_view::npos) {
                rest = rest.substr(v);
                rest = rest.substr(0, rest.find_last_not_of(" \t") + 1);
                value = std::string(rest);
            }
        }
        if (!ApplyOption(option, value, config, names, error, depth)) {
            error = "line " + std::to_string(lineNumber) + ": " + error;
            return false;
        }
    }
    return true;
}

// The options that take a whole number, with their ranges.
struct NumberOption {
    std::string_view name;
    int low;
    int high;
    const char* wants;
    void (*store)(ServerConfig&, int);
};
constexpr NumberOption kNumberOptions[] = {
    {"rate", 0, 999'999'999, "bytes per second (0 to 999999999)",
     [](ServerConfig& c, int v) { c.rateBytesPerSecond = static_cast<std::uint64_t>(v); }},
    {"head-timeout", 1, 3600, "seconds (1 to 3600)",
     [](ServerConfig& c, int v) { c.headSeconds = v; }},
    {"idle", 1, 86400, "seconds (1 to 86400)", [](ServerConfig& c, int v) { c.idleSeconds = v; }},
    {"min-rate", 0, 999'999'999, "bytes per second (0 to 999999999)",
     [](ServerConfig& c, int v) { c.minRateBytesPerSecond = static_cast<std::uint64_t>(v); }},
    {"max-connections", 1, 1'000'000, "1 to 1000000",
     [](ServerConfig& c, int v) { c.maxConnections = v; }},
    {"max-per-address", 1, 1'000'000, "1 to 1000000",
     [](ServerConfig& c, int v) { c.maxPerAddress = v; }},
    {"retry-after", 1, 86400, "seconds (1 to 86400)",
     [](ServerConfig& c, int v) { c.retryAfterSeconds = v; }},
    {"workers", 0, 64, "0 (one per processor) to 64",
     [](ServerConfig& c, int v) { c.workers = v; }},
};

const NumberOption* FindNumberOption(std::string_view name) {
    for (const auto& o : kNumberOptions)
        if (o.name == name) return &o;
    return nullptr;
}

bool ApplyOption(std::string_view option, const std::string& value, ServerConfig& config,
                 std::map<std::string, std::string>& names, std::string& error, int depth) {
    std::string number, rest;
    if (option == "listen") {
        std::size_t colon = value.rfind(':');
        if (colon == std::string::npos || colon == 0 ||
            !ParseInt(std::string_view(value).substr(colon + 1), 0, 65535, config.listenPort)) {
            error = "--listen wants HOST:PORT";
            return false;
        }
        std::string host = value.substr(0, colon);
        if (host.size() > 2 && host.front() == '[' && host.back() == ']')
            host = host.substr(1, host.size() - 2);
        config.listenHost = host;
    } else if (option == "file") {
        if (!SplitNumbered(value, number, rest)) {
            error = "--file wants NUMBER=PATH";
            return false;
        }
        config.files[number].path = rest;
    } else if (option == "name") {
        if (!SplitNumbered(value, number, rest) || !IsPrintableText(rest)) {
            error = "--name wants NUMBER=NAME";
            return false;
        }
        names[number] = rest;
    } else if (option == "upgrade") {
        if (value.empty() || !IsPrintableText(value)) {
            error = "--upgrade wants Y or N";
            return false;
        }
        config.upgrade = value;
    } else if (option == "message") {
        if (!IsPrintableText(value)) {
            error = "--message must be one line of text";
            return false;
        }
        config.message = value;
    } else if (option == "log") {
        config.logPath = value;
    } else if (option == "port-file") {
        config.portFile = value;
    } else if (const NumberOption* n = FindNumberOption(option)) {
        int whole = 0;
        if (!ParseInt(value, n->low, n->high, whole)) {
            error = "--" + std::string(option) + " wants " + n->wants;
            return false;
        }
        n->store(config, whole);
    } else if (option == "user") {
        if (value.empty() || !IsPrintableText(value)) {
            error = "--user wants a user name";
            return false;
        }
        config.user = value;
    } else if (option == "from") {
        // A folder that veldana-list import (or anyone) filled with the four list files.
        if (value.empty()) {
            error = "--from wants a folder";
            return false;
        }
        const std::pair<const char*, const char*> kLists[] = {
            {"43", "VELDA.NOT"}, {"16", "VELDA.YES"}, {"22", "DNSRAW.YES"}, {"21", "DNSRAW.NOT"}};
        for (const auto& [number, name] : kLists) config.files[number].path = value + "/" + name;
    } else if (option == "config") {
        if (depth > 4) {
            error = "config files nest too deep";
            return false;
        }
        std::ifstream in(value, std::ios::binary);
        if (!in) {
            error = "cannot read " + value;
            return false;
        }
        std::stringstream text;
        text << in.rdbuf();
        if (!ParseConfigLines(text.str(), config, names, error, depth + 1)) {
            error = value + ": " + error;
            return false;
        }
    } else {
        error = "unknown option " + std::string(option);
        return false;
    }
    return true;
}

bool FinishConfig(ServerConfig& config, const std::map<std::string, std::string>& names,
                  std::string& error) {
    for (const auto& [number, name] : names) {
        auto it = config.files.find(number);
        if (it == config.files.end()) {
            error = "--name " + number + " has no --file";
            return false;
        }
        it->second.name = name;
    }
    for (auto& [number, file] : config.files) {
        if (file.name.empty()) file.name = BaseName(file.path);
        if (file.name.empty() || !IsPrintableText(file.name)) {
            error = "file " + number + " needs a printable name";
            return false;
        }
    }
    return true;
}

// ---- responses

std::string Reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 400:
            return "Bad Request";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 408:
            return "Request Timeout";
        case 431:
            return "Request Header Fields Too Large";
        case 503:
            return "Service Unavailable";
        default:
            return "Error";
    }
}

std::string Escaped(std::string_view text) {
    std::string out;
    for (char c : text) {
        auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b >= 0x7F || c == '"' || c == '\\') {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", b);
            out += hex;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

}  // namespace

bool ParseArguments(const std::vector<std::string>& args, ServerConfig& config,
                    std::string& error) {
    std::map<std::string, std::string> names;
    for (std::size_t i = 0; i < args.size(); i += 2) {
        std::string_view arg = args[i];
        if (arg.size() < 3 || arg.substr(0, 2) != "--") {
            error = "unexpected argument " + args[i];
            return false;
        }
        if (i + 1 >= args.size()) {
            error = args[i] + " needs a value";
            return false;
        }
        if (!ApplyOption(arg.substr(2), args[i + 1], config, names, error, 0)) return false;
    }
    return FinishConfig(config, names, error);
}

bool ParseConfigText(std::string_view text, ServerConfig& config, std::string& error) {
    std::map<std::string, std::string> names;
    return ParseConfigLines(text, config, names, error, 0) && FinishConfig(config, names, error);
}

ParseResult ParseRequestHead(std::string_view bytes, HttpRequest& request,
                             std::size_t& headLength) {
    // Split into lines up to the first empty one (after any empty lines before the request
    // line).
    std::vector<std::string_view> lines;
    std::size_t pos = 0;
    bool ended = false;
    while (pos < bytes.size() && pos <= kMaxHeadSize) {
        std::size_t nl = bytes.find('\n', pos);
        if (nl == std::string_view::npos) break;
        std::string_view line = bytes.substr(pos, nl - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        pos = nl + 1;
        if (line.empty()) {
            if (lines.empty()) continue;
            ended = true;
            break;
        }
        if (lines.size() > kMaxHeaders) return ParseResult::kBad;
        lines.push_back(line);
    }
    if (!ended)
        return bytes.size() > kMaxHeadSize ? ParseResult::kTooLarge : ParseResult::kIncomplete;
    if (pos > kMaxHeadSize) return ParseResult::kTooLarge;

    HttpRequest parsed;
    std::string_view first = lines[0];
    std::size_t s1 = first.find(' ');
    std::size_t s2 = s1 == std::string_view::npos ? s1 : first.find(' ', s1 + 1);
    if (s2 == std::string_view::npos || first.find(' ', s2 + 1) != std::string_view::npos)
        return ParseResult::kBad;
    std::string_view method = first.substr(0, s1);
    std::string_view target = first.substr(s1 + 1, s2 - s1 - 1);
    std::string_view version = first.substr(s2 + 1);
    if (method.empty() || !std::all_of(method.begin(), method.end(), IsTokenChar))
        return ParseResult::kBad;
    if (target.empty() || !std::all_of(target.begin(), target.end(), [](char c) {
            auto b = static_cast<unsigned char>(c);
            return b > 0x20 && b < 0x7F;
        }))
        return ParseResult::kBad;
    if (version.size() != 8 || version.substr(0, 5) != "HTTP/" || !std::isdigit(version[5]) ||
        version[6] != '.' || !std::isdigit(version[7]))
        return ParseResult::kBad;
    parsed.method = std::string(method);
    parsed.target = std::string(target);
    parsed.version = std::string(version);

    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::string_view line = lines[i];
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) return ParseResult::kBad;
        std::string_view name = line.substr(0, colon);
        if (!std::all_of(name.begin(), name.end(), IsTokenChar)) return ParseResult::kBad;
        std::string_view value = line.substr(colon + 1);
        for (char c : value) {
            auto b = static_cast<unsigned char>(c);
            if ((b < 0x20 && c != '\t') || b == 0x7F) return ParseResult::kBad;
        }
        std::size_t a = value.find_first_not_of(" \t");
        value = a == std::string_view::npos
                    ? std::string_view()
                    : value.substr(a, value.find_last_not_of(" \t") - a + 1);
        parsed.headers.emplace_back(std::string(name), std::string(value));
    }
    request = std::move(parsed);
    headLength = pos;
    return ParseResult::kComplete;
}

std::string DownloadNumber(std::string_view target) {
    if (StartsWithNoCase(target, "http://")) {
        target.remove_prefix(7);
        std::size_t slash = target.find('/');
        if (slash == 0 || slash == std::string_view::npos) return "";
        target.remove_prefix(slash);
    }
    constexpr std::string_view kPrefix = "/filedown/";
    if (target.substr(0, kPrefix.size()) != kPrefix) return "";
    std::string_view number = target.substr(kPrefix.size());
    if (!AllDigits(number) || number.size() > 15) return "";
    return std::string(number);
}

std::string FormatHttpDate(std::time_t t) {
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[64];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &tm);
    return text;
}

platform::Descriptor OpenServedFile(const std::string& path, std::string& why) {
    std::size_t slash = path.find_last_of('/');
    std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    platform::Descriptor dir(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid() || name.empty()) {
        why = "no folder " + folder;
        return platform::Descriptor();
    }
    // Non-blocking, so that a pipe put in a file's place cannot hold the server up.
    open_how how{};
    how.flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    int fd = static_cast<int>(::syscall(SYS_openat2, dir.get(), name.c_str(), &how, sizeof how));
    if (fd < 0 && errno == ENOSYS)  // older kernels: refuse every link instead
        fd = ::openat(dir.get(), name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) {
        why = errno == EXDEV || errno == ELOOP ? "a link out of its folder"
                                               : std::string(std::strerror(errno));
        return platform::Descriptor();
    }
    platform::Descriptor file(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        why = "not a regular file";
        return platform::Descriptor();
    }
    return file;
}

Response BuildResponse(const ServerConfig& config, const HttpRequest& request, std::time_t now) {
    if (request.method != "GET" && request.method != "HEAD")
        return Response{405, ErrorResponse(405, now), platform::Descriptor(), 0, ""};
    std::string number = DownloadNumber(request.target);
    auto it = number.empty() ? config.files.end() : config.files.find(number);
    if (it == config.files.end()) return Response{404, ErrorResponse(404, now), platform::Descriptor(), 0, ""};
    std::string why;
    platform::Descriptor file = OpenServedFile(it->second.path, why);
    struct stat st {};
    if (!file.valid() || ::fstat(file.get(), &st) != 0)
        return Response{404, ErrorResponse(404, now), platform::Descriptor(), 0, it->second.path + ": " + why};

    std::tm tm{};
    gmtime_r(&st.st_mtim.tv_sec, &tm);
    char fileDate[48];
    std::snprintf(fileDate, sizeof fileDate, "%04d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday);
    auto length = static_cast<std::uint64_t>(st.st_size);
    std::string head = "HTTP/1.0 200 OK\r\n";
    head += "Date: " + FormatHttpDate(now) + "\r\n";
    head += "Server: veldana-update-server\r\n";
    head += "Content-Type: application/octet-stream\r\n";
    head += "Content-Length: " + std::to_string(length) + "\r\n";
    head += "Last-Modified: " + FormatHttpDate(st.st_mtim.tv_sec) + "\r\n";
    head += "vd-message: " + config.message + "\r\n";
    head += "vd-upgrade: " + config.upgrade + "\r\n";
    head += "vd-filename: " + it->second.name + "\r\n";
    head += std::string("vd-filedate: ") + fileDate + "\r\n";
    head += "Connection: close\r\n\r\n";
    if (request.method != "GET") return Response{200, head, platform::Descriptor(), 0, ""};
    return Response{200, head, std::move(file), length, ""};
}

std::string ErrorResponse(int status, std::time_t now, int retryAfterSeconds) {
    std::string body = Reason(status) + "\n";
    std::string head = "HTTP/1.0 " + std::to_string(status) + " " + Reason(status) + "\r\n";
    head += "Date: " + FormatHttpDate(now) + "\r\n";
    head += "Server: veldana-update-server\r\n";
    if (status == 405) head += "Allow: GET, HEAD\r\n";
    if (status == 503 && retryAfterSeconds > 0)
        head += "Retry-After: " + std::to_string(retryAfterSeconds) + "\r\n";
    head += "Content-Type: text/plain\r\n";
    head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    head += "Connection: close\r\n\r\n";
    return head + body;
}

std::string FormatLogTime(std::time_t t) {
    std::tm tm{};
    gmtime_r(&t, &tm);
    char when[32];
    std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return when;
}

std::string LogLine(std::time_t now, std::string_view peer, const HttpRequest& request, int status,
                    std::uint64_t bytes) {
    std::string line = FormatLogTime(now) + " " + std::string(peer) + " \"" +
                       Escaped(request.method) + " " + Escaped(request.target) + " " +
                       Escaped(request.version) + "\" " + std::to_string(status) + " " +
                       std::to_string(bytes);
    for (const auto& [name, value] : request.headers)
        if (StartsWithNoCase(name, "VD-"))
            line += " " + Escaped(name) + "=\"" + Escaped(value) + "\"";
    return line;
}

}  // namespace updateserver

#include "tools/update_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <list>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

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
    } else if (option == "idle") {
        if (!ParseInt(value, 1, 86400, config.idleSeconds)) {
            error = "--idle wants seconds (1 to 86400)";
            return false;
        }
    } else if (option == "max-connections") {
        if (!ParseInt(value, 1, 10000, config.maxConnections)) {
            error = "--max-connections wants 1 to 10000";
            return false;
        }
    } else if (option == "from") {
        // A folder that veldana-list import (or anyone) filled with the four list files.
        if (value.empty()) {
            error = "--from wants a folder";
            return false;
        }
        const std::pair<const char*, const char*> kLists[] = {
            {"43", "VELDA.NOT"}, {"16", "VELDA.YES"}, {"22", "DNSRAW.YES"}, {"21", "DNSRAW.NOT"}};
        for (const auto& [number, name] : kLists) config.files[number].path = value + "/" + name;
    } else if (option == "rate") {
        int rate = 0;
        if (!ParseInt(value, 0, 999'999'999, rate)) {
            error = "--rate wants bytes per second (0 to 999999999)";
            return false;
        }
        config.rateBytesPerSecond = static_cast<std::uint64_t>(rate);
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
        case 431:
            return "Request Header Fields Too Large";
        case 503:
            return "Service Unavailable";
        default:
            return "Error";
    }
}

std::string ErrorHead(int status, std::time_t now) {
    std::string body = Reason(status) + "\n";
    std::string head = "HTTP/1.0 " + std::to_string(status) + " " + Reason(status) + "\r\n";
    head += "Date: " + FormatHttpDate(now) + "\r\n";
    head += "Server: veldana-update-server\r\n";
    if (status == 405) head += "Allow: GET, HEAD\r\n";
    head += "Content-Type: text/plain\r\n";
    head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    head += "Connection: close\r\n\r\n";
    return head + body;
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

// ---- the server

std::atomic<int> g_signalPipe{-1};

void OnSignal(int) {
    int fd = g_signalPipe.load();
    if (fd >= 0) {
        char one = 1;
        [[maybe_unused]] ssize_t n = ::write(fd, &one, 1);
    }
}

class Log {
  public:
    bool Open(const std::string& path) {
        if (path.empty()) return true;
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        return fd_ >= 0;
    }
    ~Log() {
        if (fd_ >= 0) ::close(fd_);
    }
    void Write(const std::string& line) {
        std::string text = line + "\n";
        std::lock_guard lock(mutex_);
        int fd = fd_ >= 0 ? fd_ : STDERR_FILENO;
        std::size_t done = 0;
        while (done < text.size()) {
            ssize_t n = ::write(fd, text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            done += static_cast<std::size_t>(n);
        }
    }

  private:
    int fd_ = -1;
    std::mutex mutex_;
};

bool SendAllBytes(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Sends up to `length` bytes of the file; the bytes sent. With a rate, the body goes in
// pieces of a tenth of a second's worth, each when the bytes before it have had their time.
std::uint64_t SendFileBody(int socket, const std::string& path, std::uint64_t length,
                           std::uint64_t rate) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const std::uint64_t piece = rate == 0 ? 1 << 20 : std::clamp<std::uint64_t>(rate / 10, 1, 1 << 20);
    std::uint64_t sent = 0;
    while (sent < length) {
        if (rate != 0) {
            auto due = start + std::chrono::microseconds(sent * 1'000'000 / rate);
            std::this_thread::sleep_until(due);
        }
        std::size_t want = static_cast<std::size_t>(std::min(length - sent, piece));
        ssize_t n = ::sendfile(socket, fd, nullptr, want);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        sent += static_cast<std::uint64_t>(n);
    }
    ::close(fd);
    return sent;
}

std::string PeerName(const sockaddr_storage& peer) {
    char host[INET6_ADDRSTRLEN] = "?";
    int port = 0;
    if (peer.ss_family == AF_INET) {
        const auto* a = reinterpret_cast<const sockaddr_in*>(&peer);
        inet_ntop(AF_INET, &a->sin_addr, host, sizeof host);
        port = ntohs(a->sin_port);
    } else if (peer.ss_family == AF_INET6) {
        const auto* a = reinterpret_cast<const sockaddr_in6*>(&peer);
        inet_ntop(AF_INET6, &a->sin6_addr, host, sizeof host);
        port = ntohs(a->sin6_port);
    }
    return std::string(host) + ":" + std::to_string(port);
}

void ServeConnection(int fd, const std::string& peer, const ServerConfig& config, Log& log) {
    timeval tv{config.idleSeconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);

    std::string bytes;
    HttpRequest request;
    std::size_t headLength = 0;
    ParseResult result = ParseResult::kIncomplete;
    char chunk[4096];
    while (result == ParseResult::kIncomplete) {
        ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        bytes.append(chunk, static_cast<std::size_t>(n));
        result = ParseRequestHead(bytes, request, headLength);
    }
    std::time_t now = std::time(nullptr);
    if (result == ParseResult::kIncomplete) {
        if (!bytes.empty())
            log.Write(LogLine(now, peer, HttpRequest{"-", bytes.substr(0, 80), "-", {}}, 0, 0) +
                      " (incomplete request)");
        return;
    }
    Response response;
    if (result == ParseResult::kComplete) {
        response = BuildResponse(config, request, now);
    } else {
        int status = result == ParseResult::kTooLarge ? 431 : 400;
        response = Response{status, ErrorHead(status, now), "", 0};
        std::size_t line = bytes.find('\n');
        request = HttpRequest{"-", bytes.substr(0, std::min<std::size_t>(line, 200)), "-", {}};
    }
    std::uint64_t sent = 0;
    if (SendAllBytes(fd, response.head.data(), response.head.size()) && !response.bodyPath.empty())
        sent = SendFileBody(fd, response.bodyPath, response.bodyLength, config.rateBytesPerSecond);
    log.Write(LogLine(now, peer, request, response.status, sent));
    // Let the client read everything before the connection goes.
    ::shutdown(fd, SHUT_WR);
    while (::recv(fd, chunk, sizeof chunk, 0) > 0) {
    }
}

int Listen(const ServerConfig& config, std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    std::string port = std::to_string(config.listenPort);
    int rc = getaddrinfo(config.listenHost.c_str(), port.c_str(), &hints, &found);
    if (rc != 0) {
        error = "cannot resolve " + config.listenHost + ": " + gai_strerror(rc);
        return -1;
    }
    int fd = -1;
    for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) continue;
        int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, 128) != 0) {
            error = std::string("cannot listen: ") + std::strerror(errno);
            ::close(fd);
            fd = -1;
        }
    }
    freeaddrinfo(found);
    return fd;
}

int BoundPort(int fd) {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
    if (addr.ss_family == AF_INET) return ntohs(reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
    return ntohs(reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port);
}

bool WritePortFile(const std::string& path, int port) {
    std::string temp = path + ".tmp";
    {
        std::ofstream out(temp, std::ios::trunc);
        out << port << "\n";
        if (!out.flush()) return false;
    }
    return std::rename(temp.c_str(), path.c_str()) == 0;
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

Response BuildResponse(const ServerConfig& config, const HttpRequest& request, std::time_t now) {
    if (request.method != "GET" && request.method != "HEAD")
        return Response{405, ErrorHead(405, now), "", 0};
    std::string number = DownloadNumber(request.target);
    auto it = number.empty() ? config.files.end() : config.files.find(number);
    struct stat st {};
    if (it == config.files.end() || ::stat(it->second.path.c_str(), &st) != 0 ||
        !S_ISREG(st.st_mode) || ::access(it->second.path.c_str(), R_OK) != 0)
        return Response{404, ErrorHead(404, now), "", 0};

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
    bool body = request.method == "GET";
    return Response{200, head, body ? it->second.path : "", body ? length : 0};
}

std::string LogLine(std::time_t now, std::string_view peer, const HttpRequest& request, int status,
                    std::uint64_t bytes) {
    std::tm tm{};
    gmtime_r(&now, &tm);
    char when[32];
    std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &tm);
    std::string line = std::string(when) + " " + std::string(peer) + " \"" +
                       Escaped(request.method) + " " + Escaped(request.target) + " " +
                       Escaped(request.version) + "\" " + std::to_string(status) + " " +
                       std::to_string(bytes);
    for (const auto& [name, value] : request.headers)
        if (StartsWithNoCase(name, "VD-"))
            line += " " + Escaped(name) + "=\"" + Escaped(value) + "\"";
    return line;
}

int RunServer(const ServerConfig& config, volatile std::sig_atomic_t* stop) {
    Log log;
    if (!log.Open(config.logPath)) {
        std::fprintf(stderr, "veldana-update-server: cannot open log %s: %s\n",
                     config.logPath.c_str(), std::strerror(errno));
        return 1;
    }
    std::string error;
    int listener = Listen(config, error);
    if (listener < 0) {
        std::fprintf(stderr, "veldana-update-server: %s\n", error.c_str());
        return 1;
    }
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        ::close(listener);
        return 1;
    }
    g_signalPipe = pipeFds[1];
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    struct sigaction oldTerm {
    }, oldInt{};
    sigaction(SIGTERM, &action, &oldTerm);
    sigaction(SIGINT, &action, &oldInt);
    std::signal(SIGPIPE, SIG_IGN);

    int port = BoundPort(listener);
    std::fprintf(stderr, "veldana-update-server: listening on %s port %d, %zu file(s)\n",
                 config.listenHost.c_str(), port, config.files.size());
    if (!config.portFile.empty() && !WritePortFile(config.portFile, port))
        std::fprintf(stderr, "veldana-update-server: cannot write %s\n", config.portFile.c_str());

    struct Connection {
        int fd;
        std::atomic<bool> done{false};
        std::thread thread;
    };
    std::list<std::unique_ptr<Connection>> connections;
    std::mutex connectionsMutex;  // guards the fds against the shutdown below
    auto reap = [&] {
        for (auto it = connections.begin(); it != connections.end();) {
            if ((*it)->done) {
                (*it)->thread.join();
                it = connections.erase(it);
            } else {
                ++it;
            }
        }
    };

    while (!(stop && *stop)) {
        pollfd fds[2] = {{listener, POLLIN, 0}, {pipeFds[0], POLLIN, 0}};
        int rc = ::poll(fds, 2, 250);
        reap();
        if (rc < 0 && errno != EINTR) break;
        if (rc <= 0) continue;
        if (fds[1].revents) break;
        if (!(fds[0].revents & POLLIN)) continue;
        sockaddr_storage peer{};
        socklen_t len = sizeof peer;
        int fd = ::accept4(listener, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
        if (fd < 0) continue;
        if (static_cast<int>(connections.size()) >= config.maxConnections) {
            std::string busy = ErrorHead(503, std::time(nullptr));
            SendAllBytes(fd, busy.data(), busy.size());
            ::close(fd);
            continue;
        }
        auto c = std::make_unique<Connection>();
        c->fd = fd;
        Connection* raw = c.get();
        std::string name = PeerName(peer);
        raw->thread = std::thread([raw, name, &config, &log, &connectionsMutex] {
            ServeConnection(raw->fd, name, config, log);
            std::lock_guard lock(connectionsMutex);
            ::close(raw->fd);
            raw->fd = -1;
            raw->done = true;
        });
        connections.push_back(std::move(c));
    }

    ::close(listener);
    {
        std::lock_guard lock(connectionsMutex);
        for (auto& c : connections)
            if (c->fd >= 0) ::shutdown(c->fd, SHUT_RDWR);
    }
    for (auto& c : connections) c->thread.join();
    connections.clear();
    sigaction(SIGTERM, &oldTerm, nullptr);
    sigaction(SIGINT, &oldInt, nullptr);
    g_signalPipe = -1;
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    std::fprintf(stderr, "veldana-update-server: stopped\n");
    return 0;
}

}  // namespace updateserver

#include "update/http_transfer.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "platform/files.h"
#include "platform/process_state.h"
#include "resolve/resolvers.h"
#include "resolve/socket_library.h"
#include "ui/messages.h"
#include "ui/window.h"
#include "progress/transfer_status.h"

namespace update {
namespace {

HttpTransferState g_http;

// Longest values kept of the six required headers.
constexpr std::size_t kMessageMax = 500;
constexpr std::size_t kLengthMax = 128;
constexpr std::size_t kUpgradeMax = 128;
constexpr std::size_t kFileNameMax = 200;
constexpr std::size_t kLastModifiedMax = 200;
constexpr std::size_t kFileDateMax = 200;

// Widths of the request's text fields (with their terminating zero byte).
constexpr std::size_t kHostWidth = 128;
constexpr std::size_t kNumberWidth = 16;
constexpr std::size_t kVersionWidth = 16;
constexpr std::size_t kSourceWidth = 32;
constexpr std::size_t kOsVersionWidth = 32;
constexpr std::size_t kEmailWidth = 128;

// Bodies beyond this are refused as an unusable Content-Length: remaining * 100 must not
// overflow, and no list comes near it.
constexpr std::uint64_t kMaxBodyLength = std::uint64_t{1} << 40;

// The console's own files that a server must never overwrite (compared without regard to
// case); the four list files are deliberately absent. The console's programs ("veldana",
// "veldana-reg", ...) are refused by their common prefix.
constexpr std::array<std::string_view, 22> kReservedNames = {
    "USER.LST",    "IPADDR.LST",   "VeldaNOT.BIN", "VeldaYES.BIN", "NoneNOT.BIN",  "NoneYES.BIN",
    "DNSHASH.DAT", "UPDATE",       "STRINGS.INI",  "WSOCK32.DLL",  "IPDNSRAW.NOT", "IPDNSRAW.YES",
    "IVD.INI",     "IVD.LOG",      "WIN.INI",      "UNWISE.DLL",   "VDP.HLP",      "VDpIpUI.dll",
    "registry.db", "VD-PROXY.DLL", "windows",      "veldana",
};
constexpr std::string_view kProgramPrefix = "veldana-";
// Extensions of files the console builds and renames into place (the databases' and
// DNSHASH.DAT's temporaries, DNSRAW.TMP, atomic saves) and of libraries it loads.
constexpr std::array<std::string_view, 4> kReservedExtensions = {".TMP", ".NEW", ".DLL", ".SO"};

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
        if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
        if (x != y) return false;
    }
    return true;
}

char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

// A text field as the fixed-width field holds it: at most width - 1 characters, and cut at
// the first control character so that a value can never end its header line early.
std::string_view Field(std::string_view text, std::size_t width) {
    std::size_t n = 0;
    while (n < text.size() && n < width - 1 && static_cast<unsigned char>(text[n]) >= 0x20 &&
           text[n] != 0x7F)
        ++n;
    return text.substr(0, n);
}

// The leading decimal number of a text as C's atol reads it (blanks, a sign, digits up to the
// first non-digit), saturating instead of overflowing.
long LeadingNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = std::min<long>(value * 10 + (text[i] - '0'), 1000000000L);
    return negative ? -value : value;
}

// Unsigned decimal digits up to the first non-digit; kMaxBodyLength + 1 when larger.
std::uint64_t UnsignedValue(std::string_view text) {
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > kMaxBodyLength) return kMaxBodyLength + 1;
    }
    return value;
}

// The received bytes as the text the head is read from: up to the first zero byte.
std::string_view CText(const char* data, std::size_t size) {
    return std::string_view(data, strnlen(data, size));
}

// ---- HTTP dates

struct DateFields {
    long day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0;
};

bool IsDateDelimiter(char c) {
    return c == '=' || c == '?' || c == '&' || c == '/' || c == ',' || c == ' ' || c == '-' ||
           c == ':';
}
bool EndsLongToken(char c) {
    return c == '=' || c == '?' || c == '&' || c == '/' || c == ' ';
}

// The next token of a date; false when there is none. `last` tells whether the token
// reached the end of the text.
bool NextDateToken(std::string_view text, std::size_t& pos, std::string& token, bool& last) {
    while (pos < text.size() && IsDateDelimiter(text[pos])) ++pos;
    if (pos >= text.size()) return false;
    token.clear();
    while (pos < text.size() && !IsDateDelimiter(text[pos]) && token.size() < 99)
        token.push_back(text[pos++]);
    if (token.size() == 99)
        while (pos < text.size() && !EndsLongToken(text[pos])) ++pos;
    last = pos >= text.size();
    return true;
}

long MonthNumber(std::string_view token) {
    auto at = [&](std::size_t i) { return i < token.size() ? Upper(token[i]) : '\0'; };
    switch (at(0)) {
        case 'D':
            return 12;
        case 'F':
            return 2;
        case 'S':
            return 9;
        case 'O':
            return 10;
        case 'N':
            return 11;
        case 'A':
            return at(1) == 'P' ? 4 : 8;
        case 'M':
            return at(2) == 'Y' ? 5 : 3;
        case 'J':
            return at(1) == 'A' ? 1 : (at(2) == 'N' ? 6 : 7);
        default:
            return 0;
    }
}

bool ParseDateFields(std::string_view text, DateFields& f) {
    text = std::string_view(text.data(), strnlen(text.data(), text.size()));
    if (text.empty()) return false;
    std::size_t pos = 0;
    std::string token;
    for (int part = 0; part < 7; ++part) {
        bool last = false;
        if (!NextDateToken(text, pos, token, last) || last) return false;
        switch (part) {
            case 0:
                break;  // weekday
            case 1:
                f.day = LeadingNumber(token);
                break;
            case 2:
                f.month = MonthNumber(token);
                break;
            case 3:
                f.year = LeadingNumber(token);
                if (f.year < 1900) f.year += 1900;
                break;
            case 4:
                f.hour = LeadingNumber(token);
                break;
            case 5:
                f.minute = LeadingNumber(token);
                break;
            case 6:
                f.second = LeadingNumber(token);
                break;
        }
    }
    return true;
}

bool ValidStamp(const DateFields& f) {
    static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (f.year < 1980 || f.year > 2107 || f.month < 1 || f.month > 12) return false;
    bool leap = (f.year % 4 == 0 && f.year % 100 != 0) || f.year % 400 == 0;
    int days = kDays[f.month - 1] - (f.month == 2 && !leap ? 1 : 0);
    return f.day >= 1 && f.day <= days && f.hour >= 0 && f.hour <= 23 && f.minute >= 0 &&
           f.minute <= 59 && f.second >= 0 && f.second <= 59;
}

std::string Digits(const char* format, long a, long b, long c) {
    char text[64];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

std::string DateText(const DateFields& f) {
    return Digits("%04ld%02ld%02ld", f.year, f.month, f.day);
}
std::string TimeText(const DateFields& f) {
    return Digits("%02ld%02ld%02ld", f.hour, f.minute, f.second);
}
void WriteDateTexts(const DateFields& f, TransferRequest& request) {
    request.localDate = DateText(f);
    request.localTime = TimeText(f);
}

// ---- the transaction's pieces

bool Bound() {
    return resolve::SocketLibrary().SocketLibraryHandle != nullptr;
}

void CloseSocket(ws::SOCKET s) {
    if (s != 0 && Bound() && resolve::Sockets().closesocket) resolve::Sockets().closesocket(s);
}

bool CancelRequested() {
    return progress::TransferStatus().TransferCancelRequested;
}

void StartTimer(ui::HWND owner) {
    g_http.timerWindow = owner;
    g_http.timerId = ui::SetTimer(owner, TRANSFER_TIMER_ID, g_http.inactivityMs, OnTransferTimeout);
}

void StopTimer() {
    if (g_http.timerId != 0) ui::KillTimer(g_http.timerWindow, g_http.timerId);
    g_http.timerId = 0;
}

void SendProgress(const TransferRequest& request, std::uint64_t remaining, std::uint64_t length) {
    if (g_http.QuietUpdate != 0 || request.owner == 0) return;
    ui::SendMessage(request.owner, request.notificationMessage,
                    static_cast<ui::WPARAM>(remaining * 100 / length),
                    static_cast<ui::LPARAM>(length));
    ui::UpdateWindow(request.owner);
}

bool ReservedName(std::string_view name) {
    for (std::string_view r : kReservedNames)
        if (EqualNoCase(name, r)) return true;
    if (name.size() > kProgramPrefix.size() &&
        EqualNoCase(name.substr(0, kProgramPrefix.size()), kProgramPrefix))
        return true;
    for (std::string_view ext : kReservedExtensions)
        if (name.size() >= ext.size() && EqualNoCase(name.substr(name.size() - ext.size()), ext))
            return true;
    return false;
}

// Removes an existing body file before it is written anew. False when it must be left alone:
// not a regular file, read-only, or its deletion refused.
bool ClearBodyFile(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return true;  // nothing there
    if (!S_ISREG(st.st_mode) || (st.st_mode & 0222) == 0) return false;
    if (platform::OpenFileMode(path, platform::kOfDelete) == 1) return true;
    return ::lstat(path.c_str(), &st) != 0;
}

// The body file written in whole pages: received chunks (19,900 bytes each) gather in a
// buffer that goes out a page-aligned piece at a time, which the file system takes faster
// than writes that start and end inside pages; the rest goes out with Finish().
class BodyWriter {
  public:
    explicit BodyWriter(int fd) : fd_(fd), buffer_(kFlushSize + kBodyReadSize) {}

    // Where the next chunk of at most kBodyReadSize bytes is received.
    char* Room() { return buffer_.data() + used_; }
    // Counts `n` received bytes; false when a write failed.
    bool Received(std::size_t n) {
        used_ += n;
        if (used_ < kFlushSize) return true;
        const std::size_t whole = used_ & ~(kPageSize - 1);
        if (!Write(whole)) return false;
        std::memmove(buffer_.data(), buffer_.data() + whole, used_ - whole);
        used_ -= whole;
        return true;
    }
    bool Add(const char* data, std::size_t n) {
        while (n > 0) {
            const std::size_t take = std::min(n, kBodyReadSize);
            std::memcpy(Room(), data, take);
            if (!Received(take)) return false;
            data += take;
            n -= take;
        }
        return true;
    }
    bool Finish() { return Write(used_) && (used_ = 0, true); }

  private:
    static constexpr std::size_t kPageSize = 4096;
    static constexpr std::size_t kFlushSize = 256 * 1024;
    bool Write(std::size_t n) {
        return n == 0 ||
               platform::WriteAll(
                   fd_, std::span(reinterpret_cast<const std::uint8_t*>(buffer_.data()), n));
    }
    int fd_;
    std::vector<char> buffer_;
    std::size_t used_ = 0;
};

// Receives the body into `path`: the bytes that came with the head, then the rest.
TransferOutcome ReceiveBody(ws::SOCKET socket, std::span<char> buffer, std::size_t bodyStart,
                            std::size_t total, std::uint64_t length, const std::string& path,
                            const DateFields& date, bool upgrade, const TransferRequest& request) {
    if (!ClearBodyFile(path)) return kTransferFailed;
    platform::FileHandle file(
        platform::OpenFileMode(path, platform::kOfCreate | platform::kOfReadWrite));
    if (!file.valid()) return kTransferFailed;

    auto writeFailed = [&] {
        file.reset();
        platform::OpenFileMode(path, platform::kOfDelete);
        return kTransferFailed;
    };
    BodyWriter body(file.get());
    std::uint64_t first = std::min<std::uint64_t>(total - bodyStart, length);
    if (!body.Add(buffer.data() + bodyStart, first)) return writeFailed();
    std::uint64_t remaining = length - first;
    SendProgress(request, remaining, length);

    const auto& sockets = resolve::Sockets();
    while (remaining > 0) {
        int n = sockets.recv(socket, body.Room(), static_cast<int>(kBodyReadSize), 0);
        ui::PumpOneMessage();
        // What came before this chunk is kept; the file closes with its handle.
        if (CancelRequested()) return body.Finish() ? kTransferCancelled : writeFailed();
        if (n <= 0) break;
        StopTimer();
        std::uint64_t k = std::min<std::uint64_t>(static_cast<std::uint64_t>(n), remaining);
        if (!body.Received(k)) return writeFailed();
        remaining -= k;
        SendProgress(request, remaining, length);
        StartTimer(request.owner);
    }
    if (!body.Finish()) return writeFailed();
    file.reset();

    if (ValidStamp(date)) {
        auto dosDate =
            static_cast<std::uint16_t>(((date.year - 1980) << 9) | (date.month << 5) | date.day);
        auto dosTime =
            static_cast<std::uint16_t>((date.hour << 11) | (date.minute << 5) | (date.second / 2));
        platform::SetFileWriteTime(path, platform::TimeFromDosDateTime(dosDate, dosTime));
    }
    SendProgress(request, remaining, length);
    if (remaining != 0) return kTransferFailed;
    return upgrade ? kTransferUpgrade : kTransferReceived;
}

// The head phase: reads until the head is complete. Returns -1 when it is, else the outcome.
int ReceiveHead(ws::SOCKET socket, std::span<char> buffer, ui::HWND owner, std::size_t& total,
                std::size_t& bodyStart) {
    const auto& sockets = resolve::Sockets();
    while (true) {
        std::size_t room = std::min(kHeadAreaSize - total, kSendChunk);
        int n = sockets.recv(socket, buffer.data() + total, static_cast<int>(room - 100), 0);
        ui::PumpOneMessage();
        if (CancelRequested()) return kTransferCancelled;
        bool bytes = n > 0;
        if (bytes) {
            StopTimer();
            auto got = static_cast<std::size_t>(n);
            std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(total + got),
                      buffer.begin() + static_cast<std::ptrdiff_t>(total + room), '\0');
            total += got;
            buffer[total] = '\0';
            StartTimer(owner);
        }
        bool complete = false;
        if (total > 0) {
            std::string_view text = CText(buffer.data(), total);
            std::size_t end = FindHeadEnd(text);
            if (end != std::string_view::npos) {
                complete = true;
                bodyStart = end;
            }
            if (LeadingNumber(text) == 101) return kTransferFailed;
        }
        if (bytes && total < kHeadLimit) {
            if (complete) return -1;
            continue;
        }
        return complete ? -1 : kTransferFailed;
    }
}

}  // namespace

HttpTransferState& HttpTransfer() {
    return g_http;
}

void ResetHttpTransfer() {
    StopTimer();
    g_http = HttpTransferState{};
}
namespace {
const platform::StateReset kResetHttpTransfer{platform::StateLayer::kUpdate, &ResetHttpTransfer};
}  // namespace

void OnTransferTimeout(ui::HWND, ui::UINT, ui::UINT, std::uint32_t) {
    if (Bound() && resolve::Sockets().WSACancelBlockingCall)
        resolve::Sockets().WSACancelBlockingCall();
}

int IsAcceptableDownloadName(std::string_view name) {
    if (name.empty() || name.size() > kMaxDownloadNameLength) return 0;
    if (name == "." || name == "..") return 0;
    for (char c : name) {
        auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b >= 0x7F || c == '/' || c == '\\') return 0;
    }
    return ReservedName(name) ? 0 : 1;
}

std::size_t FindHeadEnd(std::string_view text) {
    std::size_t at = text.find("\r\n\r\n");
    if (at != std::string_view::npos) return at + 4;
    at = text.find("\n\n");
    if (at != std::string_view::npos) return at + 2;
    return std::string_view::npos;
}

namespace {

// FindHeaderValue; `stop` receives the byte that ended the value (0 at the end of the text).
int FindHeader(std::string_view text, std::string_view name, std::string& out, std::size_t max,
               char* stop) {
    out.clear();
    if (name.empty()) return 0;
    std::size_t at = text.find(name);
    if (at == std::string_view::npos) {
        std::string first(name);
        first[0] = Upper(first[0]);
        at = text.find(first);
    }
    if (at == std::string_view::npos) {
        std::string upper(name);
        for (char& c : upper) c = Upper(c);
        at = text.find(upper);
    }
    if (at == std::string_view::npos) {
        auto masked = [](char c) { return static_cast<unsigned char>(c) & 0x5F; };
        auto it = std::search(text.begin(), text.end(), name.begin(), name.end(),
                              [&](char a, char b) { return masked(a) == masked(b); });
        if (it != text.end()) at = static_cast<std::size_t>(it - text.begin());
    }
    if (at == std::string_view::npos) return 0;

    std::size_t i = at + name.size();
    while (i < text.size() && text[i] == ' ') ++i;
    while (i < text.size() && out.size() < max) {
        auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x20 || b >= 0x80) break;
        out.push_back(text[i++]);
    }
    if (stop) *stop = i < text.size() ? text[i] : '\0';
    std::size_t begin = out.find_first_not_of(' ');
    if (begin == std::string::npos) {
        out.clear();
    } else {
        out.erase(out.find_last_not_of(' ') + 1);
        out.erase(0, begin);
    }
    return 1;
}

}  // namespace

int FindHeaderValue(std::string_view text, std::string_view name, std::string& out,
                    std::size_t max) {
    return FindHeader(text, name, out, max, nullptr);
}

int ParseHttpDate(std::string_view text, std::string* dateText, std::string* timeText,
                  std::uint32_t* dosDate, std::uint32_t* dosTime) {
    DateFields f;
    if (!ParseDateFields(text, f)) return 0;
    if (dosDate)
        *dosDate = static_cast<std::uint32_t>(f.day + f.month * 32 + (f.year - 1980) * 512);
    if (dosTime)
        *dosTime = static_cast<std::uint32_t>(f.hour * 2048 + f.minute * 32 + f.second / 2);
    if (dateText) *dateText = DateText(f);
    if (timeText) *timeText = TimeText(f);
    return 1;
}

void GetLocalFileStamp(std::string_view directory, std::string_view name, std::string& dateText,
                       std::string& timeText) {
    dateText.clear();
    timeText.clear();
    std::string path = std::string(directory) + std::string(name);
    struct stat st {};
    if (name.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    std::uint16_t date = platform::DosDateFromTime(st.st_mtim.tv_sec);
    std::uint16_t time = platform::DosTimeFromTime(st.st_mtim.tv_sec);
    dateText = Digits("%04ld%02ld%02ld", (date >> 9) + 1980, (date >> 5) & 15, date & 31);
    timeText = Digits("%02ld%02ld%02ld", time >> 11, (time >> 5) & 63, (time & 31) * 2);
}

ws::SOCKET ConnectToServer(std::string_view host, int port) {
    if (!Bound()) return 0;
    const auto& sockets = resolve::Sockets();
    std::uint32_t address = 0;
    if (!resolve::SystemResolve(host, address) || address == 0) return 0;
    if (!sockets.socket || !sockets.connect || !sockets.htons) return 0;
    ws::SOCKET s = sockets.socket(ws::AF_INET, ws::SOCK_STREAM, ws::IPPROTO_TCP);
    if (s == ws::INVALID_SOCKET || s == 0) return 0;
    ws::sockaddr_in to{};
    to.sin_family = ws::AF_INET;
    to.sin_port = sockets.htons(static_cast<ws::u_short>(port));
    to.sin_addr.s_addr = address;
    if (sockets.connect(s, reinterpret_cast<const ws::sockaddr*>(&to), sizeof to) ==
        ws::SOCKET_ERROR) {
        CloseSocket(s);
        return 0;
    }
    return s;
}

std::string BuildRequestText(bool viaProxy, std::string_view target, std::string_view headerBlock) {
    std::string text;
    text.reserve(256);
    text += viaProxy ? "GET " : "GET /";
    text += target;
    text += " HTTP/1.0\r\n";
    text += headerBlock;
    text += "User-Agent: Veldana\r\nAccept: */*\r\n\r\n";
    if (text.size() > kRequestTextSize - 1) text.resize(kRequestTextSize - 1);
    return text;
}

int SendRequest(ws::SOCKET socket, bool viaProxy, std::string_view target,
                std::string_view headerBlock) {
    std::string text = BuildRequestText(viaProxy, target, headerBlock);
    return SendAll(socket, text.data(), text.size());
}

int SendAll(ws::SOCKET socket, const char* bytes, std::size_t length) {
    if (!Bound()) return 0;
    const auto& sockets = resolve::Sockets();
    auto probe = [&] {
        ws::u_long count = 0;
        return sockets.ioctlsocket(socket, ws::FIONREAD, &count) != ws::SOCKET_ERROR;
    };
    bool alive = probe();
    while (length > 0 && alive) {
        int chunk = static_cast<int>(std::min(length, kSendChunk));
        int sent = sockets.send(socket, bytes, chunk, 0);
        if (sent == ws::SOCKET_ERROR || sent < 0) return 0;
        bytes += sent;
        length -= static_cast<std::size_t>(sent);
        ui::PumpMessages();
        alive = probe();
    }
    return alive ? 1 : 0;
}

TransferOutcome ReceiveResponse(ws::SOCKET socket, std::span<char> buffer,
                                TransferRequest& request) {
    progress::TransferStatus().TransferCancelRequested = false;
    TransferOutcome outcome = kTransferFailed;
    if (buffer.size() >= kReceiveBufferSize && Bound()) {
        buffer[0] = '\0';
        StartTimer(request.owner);
        std::size_t total = 0, bodyStart = 0;
        int head = ReceiveHead(socket, buffer, request.owner, total, bodyStart);
        if (head >= 0) {
            outcome = static_cast<TransferOutcome>(head);
        } else {
            outcome = [&]() -> TransferOutcome {
                std::string_view text = CText(buffer.data(), total);
                std::string message, lengthText, upgradeText, name, lastModified, fileDate;
                char nameEnd = 0;
                if (!FindHeaderValue(text, "vd-message:", message, kMessageMax) ||
                    !FindHeaderValue(text, "content-length:", lengthText, kLengthMax) ||
                    !FindHeaderValue(text, "vd-upgrade:", upgradeText, kUpgradeMax) ||
                    !FindHeader(text, "vd-filename:", name, kFileNameMax, &nameEnd) ||
                    !FindHeaderValue(text, "last-modified:", lastModified, kLastModifiedMax) ||
                    !FindHeaderValue(text, "vd-filedate:", fileDate, kFileDateMax))
                    return kTransferFailed;
                std::uint64_t length = UnsignedValue(lengthText);
                if (length == 0 || length > kMaxBodyLength) return kTransferFailed;
                // The name must end with its line: a control byte or a byte above 0x7F
                // inside it would otherwise be cut off silently.
                bool nameEndsLine = nameEnd == '\r' || nameEnd == '\n' || nameEnd == '\0';
                if (!nameEndsLine || !IsAcceptableDownloadName(name)) return kTransferFailed;
                request.localPath += name;
                bool upgrade = !upgradeText.empty() && Upper(upgradeText[0]) == 'Y';

                // A date that does not parse leaves the installed file's stamp in place, so
                // the file counts as current.
                std::string before = request.localDate;
                DateFields date;
                if (ParseDateFields(lastModified, date)) WriteDateTexts(date, request);
                if (EqualNoCase(before, request.localDate))
                    return upgrade ? kTransferUpgrade : kTransferCurrent;
                return ReceiveBody(socket, buffer, bodyStart, total, length, request.localPath,
                                   date, upgrade, request);
            }();
        }
    }
    StopTimer();
    CloseSocket(socket);
    return outcome;
}

TransferOutcome RunTransfer(TransferRequest& request, int port) {
    if (port <= 0) port = 80;
    auto& status = progress::TransferStatus();
    status.TransferActive = true;
    struct ActiveGuard {
        progress::TransferStatusState& s;
        ~ActiveGuard() { s.TransferActive = false; }
    } guard{status};

    std::string_view host = Field(request.serverHost, kHostWidth);
    std::string_view number = Field(request.downloadNumber, kNumberWidth);
    std::string url = "http://" + std::string(host) + "/filedown/" + std::string(number);
    std::string path = "filedown/" + std::string(number);
    std::string headers =
        "VD-VERSION: " + std::string(Field(request.version, kVersionWidth)) +
        "\r\nVD-SOURCE: " + std::string(Field(request.source, kSourceWidth)) +
        "\r\nVD-OSVERSION: " + std::string(Field(request.osVersion, kOsVersionWidth)) +
        "\r\nVD-EMAILADDR: " + std::string(Field(request.emailAddr, kEmailWidth)) + "\r\n";

    bool viaProxy = request.proxyPort != 0;
    // A server written "host:port" (a mirror on another port) is reached on that port; the
    // proxy is given the whole "host:port" in the URL.
    std::string_view directHost = host;
    if (std::size_t colon = host.rfind(':');
        colon != std::string_view::npos && colon + 1 < host.size() &&
        host.find_first_not_of("0123456789", colon + 1) == std::string_view::npos) {
        directHost = host.substr(0, colon);
        port =
            static_cast<int>(std::strtol(std::string(host.substr(colon + 1)).c_str(), nullptr, 10));
    }
    ws::SOCKET socket =
        viaProxy ? ConnectToServer(Field(request.proxyHost, kHostWidth), request.proxyPort)
                 : ConnectToServer(directHost, port);
    if (socket == 0) return kTransferFailed;

    ui::PumpOneMessage();
    if (CancelRequested()) {
        CloseSocket(socket);
        return kTransferCancelled;
    }
    if (!SendRequest(socket, viaProxy, viaProxy ? url : path, headers)) {
        CloseSocket(socket);
        return kTransferFailed;
    }
    ui::PumpOneMessage();
    if (CancelRequested()) {
        CloseSocket(socket);
        return kTransferCancelled;
    }

    std::vector<char> buffer(kReceiveBufferSize, '\0');
    GetLocalFileStamp(request.localPath, g_http.downloadFileName, request.localDate,
                      request.localTime);
    return ReceiveResponse(socket, buffer, request);
}

}  // namespace update

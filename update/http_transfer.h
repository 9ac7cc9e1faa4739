// The HTTP/1.0 transfer engine: one transaction fetches one list file, named by a download
// number, from one update server, directly or through an HTTP proxy.
//
// Contract with the update servers. The engine sends exactly
//     GET /filedown/<number> HTTP/1.0            (direct), or
//     GET http://<server>/filedown/<number> HTTP/1.0   (through a proxy)
//     VD-VERSION, VD-SOURCE, VD-OSVERSION, VD-EMAILADDR, User-Agent: Veldana, Accept: */*
// with no Host header and no body, and needs in the response head (ended by CR LF CR LF, or
// else LF LF, within the first 19,000 bytes) the headers vd-message, Content-Length (not 0),
// vd-upgrade, vd-filename, Last-Modified (an RFC 1123 or RFC 850 date with its zone) and
// vd-filedate; the status line is not examined, and a response beginning with the number 101
// is refused. When the Last-Modified date (the day only, never the time) equals the last-write
// date of the installed file, the body is not read ("current"). Otherwise the body of exactly
// Content-Length bytes goes to the file vd-filename in the program directory, which is then
// stamped with the Last-Modified time. The body is received 19,900 bytes at a time (a
// progress message after each) and written in page-aligned pieces of at least 256 KiB; what
// is left goes out when the transaction ends, also when it is cancelled or cut off.
//
// Safety rules of our own:
// - vd-filename must be a plain file name (IsAcceptableDownloadName): 1 to 64 printable ASCII
//   characters, no '/' or '\', not "." or "..", and none of the console's own files other
//   than the four list files; anything else ends the transaction with outcome 0 and nothing
//   written, the local path left at the program directory.
// - An existing body file that is not a regular file, is read-only, or cannot be deleted ends
//   the transaction with outcome 0 and the file untouched.
// - A body file that cannot be created, or a write that fails, gives outcome 0; after a
//   failed write the engine deletes the partial file itself. Outcome 1 always means the whole
//   body is on disk.
// - The stamp carries the header's own hour (the DOS time of ParseHttpDate holds hour, not
//   hour - 1), so that GetLocalFileStamp reads back the header's time, midnight (hour 00) is
//   a valid time, and the file time is the server's Last-Modified instant (to the even second
//   below, the DOS resolution) in universal time. A date outside 1980..2107 or a field out of
//   range leaves the file's last-write time as writing left it.
//
// Everything runs on the GUI thread with blocking calls of the socket entry table
// (resolve::Sockets(), loaded and started by the caller). After every recv one window message
// is dispatched and after every send chunk all of them, so the progress window stays live;
// Cancel (TransferCancelRequested) takes effect when the current socket call returns. An
// inactivity timer (id 6 on the owner window, 30 s by default) calls WSACancelBlockingCall
// when no data arrived for that long. No function throws.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "resolve/winsock.h"
#include "ui/types.h"

namespace update {

// Sent to the owner window for every progress step (WM_USER + 104): wParam the percentage of
// the body still to come (remaining * 100 / length), lParam the body length in bytes.
constexpr ui::UINT WM_TRANSFER_PROGRESS = 1128;
constexpr ui::UINT TRANSFER_TIMER_ID = 6;
constexpr ui::UINT kDefaultInactivityMs = 30000;

constexpr std::size_t kRequestTextSize = 32767;
constexpr std::size_t kReceiveBufferSize = 30000;
constexpr std::size_t kHeadAreaSize = 19500;  // the head phase reads into this much
constexpr std::size_t kHeadLimit = 19000;     // the head must end within this many bytes
constexpr std::size_t kBodyReadSize = 19900;  // one body recv
constexpr std::size_t kSendChunk = 4096;
constexpr std::size_t kMaxDownloadNameLength = 64;

enum TransferOutcome : int {
    kTransferFailed = 0,     // no connection, not sent, unusable response, body incomplete
    kTransferReceived = 1,   // the whole body is in the file named by vd-filename
    kTransferUpgrade = 2,    // as 1 or 3, and the server announces a newer console program
    kTransferCurrent = 3,    // Last-Modified is on the installed file's date; nothing written
    kTransferCancelled = 4,  // Cancel was used
};

// One update of one file; the caller owns it across all server attempts and resets
// localPath to the program directory before each. Each text field keeps its documented width:
// a value is cut to width - 1 characters, and at its first control character, when sent.
struct TransferRequest {
    ui::HWND owner = 0;  // receives the progress messages and owns the timer; 0 = none
    ui::UINT notificationMessage = WM_TRANSFER_PROGRESS;
    std::string serverHost;      // 128: host name or dotted address (may carry ":port")
    std::string downloadNumber;  // 16: decimal text, e.g. "43"
    std::string proxyHost;       // 128
    int proxyPort = 0;           // 0 = connect directly
    std::string version;         // 16: VD-VERSION
    std::string source;          // 32: VD-SOURCE
    std::string osVersion;       // 32: VD-OSVERSION
    std::string emailAddr;       // 128: VD-EMAILADDR
    // On entry the program directory with its trailing '/'; when a file name was accepted,
    // the full path of the body file afterwards.
    std::string localPath;
    std::string localDate;  // YYYYMMDD of the installed file; then the Last-Modified date
    std::string localTime;  // HHMMSS of the installed file; then the Last-Modified time
};

// Shared state of the engine (GUI thread only).
struct HttpTransferState {
    // Name of the installed file this transfer replaces (e.g. "VELDA.NOT"); its date is the
    // one the currency test compares. Also shown in the progress text.
    std::string downloadFileName;
    int QuietUpdate = 0;                           // 1: no progress messages
    ui::UINT inactivityMs = kDefaultInactivityMs;  // period of the inactivity timer
    // The running inactivity timer (SetTimer's result on timerWindow), 0 when none.
    ui::HWND timerWindow = 0;
    ui::UINT timerId = 0;
};
HttpTransferState& HttpTransfer();
void ResetHttpTransfer();

// One transaction; port <= 0 means 80. Sets TransferActive while it runs.
TransferOutcome RunTransfer(TransferRequest& request, int port);
// A connected stream socket to host:port (host dotted or resolved by the system resolver),
// or 0.
ws::SOCKET ConnectToServer(std::string_view host, int port);
// Sends the whole request for `target` (the absolute URL through a proxy, else the path
// without its leading '/'). 1 when all of it was sent, else 0.
int SendRequest(ws::SOCKET socket, bool viaProxy, std::string_view target,
                std::string_view headerBlock);
// The request text SendRequest sends.
std::string BuildRequestText(bool viaProxy, std::string_view target, std::string_view headerBlock);
// Sends in chunks of at most 4,096 bytes, dispatching window messages between them.
int SendAll(ws::SOCKET socket, const char* bytes, std::size_t length);
// Reads and acts on the response; closes the socket. `buffer` is the transaction's
// receive buffer of kReceiveBufferSize bytes.
TransferOutcome ReceiveResponse(ws::SOCKET socket, std::span<char> buffer,
                                TransferRequest& request);

// Offset of the body behind the first CR LF CR LF of `text`, else behind its first LF LF;
// std::string_view::npos when the head is not complete.
std::size_t FindHeadEnd(std::string_view text);
// Finds `name` (e.g. "content-length:") anywhere in `text`: as given, with its first letter
// upper-cased, all upper-cased, then comparing bytes masked with 0x5F. The value is what
// follows up to the first byte below 0x20 or above 0x7F, at most `max` bytes, trimmed of
// blanks. 1 when found, else 0 (out left empty).
int FindHeaderValue(std::string_view text, std::string_view name, std::string& out,
                    std::size_t max);
// Reads weekday, day, month, year, hour, minute and second from an HTTP date; the seconds must
// be followed by more text (the zone). Writes dateText "YYYYMMDD", timeText "HHMMSS", and the
// DOS date and time in the low 16 bits of dosDate and dosTime (any of them may be null).
// 1 on success, 0 (nothing written) when a part is missing.
int ParseHttpDate(std::string_view text, std::string* dateText, std::string* timeText,
                  std::uint32_t* dosDate, std::uint32_t* dosTime);
// Last-write date and time of directory + name as "YYYYMMDD" and "HHMMSS" (universal time);
// both empty when there is no such regular file.
void GetLocalFileStamp(std::string_view directory, std::string_view name, std::string& dateText,
                       std::string& timeText);
// 1 when a server may name the body file so (see the rules above), else 0.
int IsAcceptableDownloadName(std::string_view name);
// The inactivity timer's callback: cancels the blocked socket call, if any.
void OnTransferTimeout(ui::HWND hwnd, ui::UINT message, ui::UINT id, std::uint32_t tickCount);

}  // namespace update

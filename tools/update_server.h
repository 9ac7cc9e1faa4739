// The core of veldana-update-server: a small HTTP server that serves list files under the
// update contract, so that an administrator can run a mirror and tests have a real peer.
//
// GET /filedown/<number> (or the absolute form GET http://host[:port]/filedown/<number>, as
// a proxy forwards it) answers with the file configured for that number and the headers
// vd-message, Content-Length, vd-upgrade, vd-filename, Last-Modified (the file's modification
// time, RFC 1123) and vd-filedate (its date as YYYYMMDD), then the file's bytes. HEAD gives
// the same head without the body. Unknown numbers and other paths get 404 without the vendor
// headers; other methods 405; a malformed request 400; a head over 16 KiB 431. HTTP/1.0
// requests need no Host header; every connection carries one request and is closed after it.
// Each request is logged as one line with its request line and the VD-* headers it carried.
//
// Facing the Internet: a few event-loop workers serve every connection (no thread each); a
// request head must arrive whole within a deadline and a body must keep moving at a minimum
// rate; connections are capped per client address and in total, and a client over a cap gets
// 503 with Retry-After. A file is opened beneath its folder at each request, never through a
// link that leads out of it, and the transfer keeps the file it opened, so a list replaced by
// rename mid-transfer leaves that transfer whole.
//
// The request parser takes any bytes; nothing here throws.
#pragma once

#include <csignal>
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/descriptor.h"

namespace updateserver {

constexpr std::size_t kMaxHeadSize = 16 * 1024;
constexpr std::size_t kMaxHeaders = 100;

struct ServedFile {
    std::string path;  // where the file is read from, at every request
    std::string name;  // the vd-filename value: the file's base name unless configured
};

struct ServerConfig {
    std::string listenHost = "127.0.0.1";
    int listenPort = 8080;                    // 0: any free port (see portFile)
    std::map<std::string, ServedFile> files;  // by download number
    std::string upgrade = "N";                // vd-upgrade
    std::string message = "OK";               // vd-message
    std::string logPath;                      // empty: standard error
    std::string portFile;                     // written with the bound port once listening
    std::uint64_t rateBytesPerSecond = 0;  // each body sent at most this fast; 0: no limit

    // Limits against slow or greedy clients (see docs/update-server.md for sizing them).
    int headSeconds = 10;                   // a request head must be whole this soon
    int idleSeconds = 20;                   // the window over which a body must move ...
    std::uint64_t minRateBytesPerSecond = 1024;  // ... at least this fast on average; 0: off
    int maxConnections = 4096;              // served at once, in total
    int maxPerAddress = 64;                 // served at once from one client address
    int retryAfterSeconds = 30;             // told to a client refused with 503
    int workers = 0;                        // event loops; 0: one per processor
    std::string user;                       // switched to after binding (when root)
};

// Reads options (without the program name): --listen HOST:PORT, --file NUMBER=PATH,
// --name NUMBER=NAME, --upgrade Y|N, --message TEXT, --log FILE, --port-file FILE,
// --rate BYTES, --from DIR (the four list files of DIR under the console's numbers),
// --head-timeout SECONDS, --idle SECONDS, --min-rate BYTES, --max-connections N,
// --max-per-address N, --retry-after SECONDS, --workers N, --user NAME, --config FILE. A config file holds the same options
// one per line without the leading dashes ("file 43=/srv/VELDA.NOT"); '#' starts a comment.
// False with `error` set when an option is unknown or a value is unusable.
bool ParseArguments(const std::vector<std::string>& args, ServerConfig& config, std::string& error);
bool ParseConfigText(std::string_view text, ServerConfig& config, std::string& error);

struct HttpRequest {
    std::string method;
    std::string target;
    std::string version;
    std::vector<std::pair<std::string, std::string>> headers;  // in the order received
};

enum class ParseResult { kIncomplete, kComplete, kBad, kTooLarge };
// Parses a request head from the bytes received so far. kComplete sets `request` and
// `headLength` (the bytes up to and including the empty line; CR LF or LF line ends).
ParseResult ParseRequestHead(std::string_view bytes, HttpRequest& request, std::size_t& headLength);

// The download number named by a request target ("/filedown/43" or
// "http://host[:port]/filedown/43"): decimal digits only; empty when the target names none.
std::string DownloadNumber(std::string_view target);

// "Sun, 06 Nov 1994 08:49:37 GMT".
std::string FormatHttpDate(std::time_t t);
// "1994-11-06T08:49:37Z": the time of a log line.
std::string FormatLogTime(std::time_t t);

// Opens a served file for reading: the folder of `path` as it stands, then the name beneath
// it without following a link out of that folder (a relative link that stays inside is
// followed). Only a regular file is served. An invalid handle with `why` set otherwise.
platform::Descriptor OpenServedFile(const std::string& path, std::string& why);

struct Response {
    int status = 0;
    std::string head;  // status line and headers, ended by the empty line
    platform::Descriptor body;   // the file to send after the head (invalid: none)
    std::uint64_t bodyLength = 0;
    std::string note;  // why a configured file was not served, for the log
};
// The answer to a request; `now` gives the Date header. The file is opened here, and the
// head describes that open file.
Response BuildResponse(const ServerConfig& config, const HttpRequest& request, std::time_t now);

// A complete error answer (head and a one-line text body). 503 carries Retry-After.
std::string ErrorResponse(int status, std::time_t now, int retryAfterSeconds = 0);

// One log line (without its newline): time, peer, the request line with unprintable bytes
// escaped, status, body bytes, and every VD-* header as NAME="value".
std::string LogLine(std::time_t now, std::string_view peer, const HttpRequest& request, int status,
                    std::uint64_t bytes);

// Reads the configuration again, as it was first read (command line and config files).
using ReloadConfig = std::function<bool(ServerConfig& config, std::string& error)>;

// Serves until SIGTERM or SIGINT (or `stop` becomes nonzero); 0 after a clean shutdown, 1 when
// it cannot listen, log or drop privileges. SIGHUP calls `reload` and serves the new file
// list, names, texts, rate and limits from the next connection on (the listen address, the
// user, the log and the workers stay until a restart). Messages go to standard error.
int RunServer(const ServerConfig& config, volatile std::sig_atomic_t* stop = nullptr,
              const ReloadConfig& reload = nullptr);

}  // namespace updateserver

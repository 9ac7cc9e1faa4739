// Real HTTP peers on loopback for tests and benchmarks: veldana-update-server, nginx serving
// the update contract (or standing where a proxy would be), and tinyproxy as an HTTP proxy.
// Each peer runs as a child process in its own temporary folder, on a free port, and is
// stopped (SIGTERM, then SIGKILL) when its object goes. Nothing is left running or on disk.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace testsupport {

// A child process; its standard output and error go to `outputPath`.
class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess() { Stop(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Start(const std::vector<std::string>& argv, const std::string& outputPath);
    // SIGTERM, then SIGKILL if it has not ended after a grace period; reaps it. Returns the
    // exit status (-1 when killed by a signal or not running).
    int Stop();
    bool Running();
    pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
};

// A port on 127.0.0.1 that was free a moment ago.
int FreeLoopbackPort();
// Waits (up to timeoutMs) until 127.0.0.1:port accepts a connection.
bool WaitForPort(int port, int timeoutMs = 10000);
std::string ReadWholeFile(const std::string& path);

// A raw client of a server on 127.0.0.1, for tests that play a console or an attacker.
// A socket connected to 127.0.0.1:port from the loopback address 127.0.0.`from`, with a small
// receive buffer when `receiveBuffer` is set (so that a slow reader holds the server back);
// -1 when it cannot connect.
int ConnectFrom(int from, int port, int receiveBuffer = 0);
struct Answer {
    std::string bytes;
    bool reset = false;  // the connection ended with a reset, not a close
    double seconds = 0;
};
// Reads until the server closes (or `timeoutMs` passes).
Answer ReadToEnd(int fd, int timeoutMs = 10000);
// Sends `request` as it stands from 127.0.0.`from` and reads the whole answer, timed from
// connect to the server's close.
Answer Exchange(int port, const std::string& request, int from = 1);

// A temporary folder that everyone may read (nginx's workers run unprivileged).
class PeerDir {
  public:
    PeerDir();
    ~PeerDir();
    PeerDir(const PeerDir&) = delete;
    PeerDir& operator=(const PeerDir&) = delete;
    const std::string& path() const { return path_; }
    // Writes a world-readable file under the folder and returns its path.
    std::string WriteFile(const std::string& name, const std::string& content) const;

  private:
    std::string path_;
};

// The update contract's headers for one download number.
struct ContractFile {
    std::string number;    // "43"
    std::string path;      // the file served (its mtime gives Last-Modified)
    std::string filename;  // vd-filename
    std::string upgrade = "N";
    std::string message = "OK";
    std::string filedate = "19941106";
};

class UpdateServerPeer {
  public:
    // Starts the built veldana-update-server on a free port with --file and --name for each
    // file, then the extra arguments.
    bool Start(const std::vector<ContractFile>& files, const std::vector<std::string>& extra = {});
    ~UpdateServerPeer() { process_.Stop(); }
    int Stop() { return process_.Stop(); }
    int port() const { return port_; }
    std::string Log() const { return ReadWholeFile(dir_.path() + "/requests.log"); }
    std::string Output() const { return ReadWholeFile(dir_.path() + "/output.txt"); }
    ChildProcess& process() { return process_; }

  private:
    PeerDir dir_;
    ChildProcess process_;
    int port_ = 0;
};

// How nginx is set up: small for tests, as a production mirror would be for benchmarks.
struct NginxTuning {
    int workers = 1;
    int connections = 64;  // worker_connections
    int headerTimeoutSeconds = 60;  // client_header_timeout
};

class NginxPeer {
  public:
    static std::string Program();  // /usr/sbin/nginx, or empty when it is not installed
    // Serves each file at /filedown/<number> with the contract's headers added by add_header.
    // The access log records $request and the VD-* headers the client sent.
    bool Start(const std::vector<ContractFile>& files, const NginxTuning& tuning = {});
    ~NginxPeer() { process_.Stop(); }
    int port() const { return port_; }
    std::string AccessLog() const { return ReadWholeFile(dir_.path() + "/access.log"); }
    std::string ErrorLog() const { return ReadWholeFile(dir_.path() + "/error.log"); }

  private:
    PeerDir dir_;
    ChildProcess process_;
    int port_ = 0;
};

class TinyproxyPeer {
  public:
    static std::string Program();  // /usr/bin/tinyproxy, or empty
    bool Start();
    ~TinyproxyPeer() { process_.Stop(); }
    int port() const { return port_; }
    std::string Log() const { return ReadWholeFile(dir_.path() + "/tinyproxy.log"); }

  private:
    PeerDir dir_;
    ChildProcess process_;
    int port_ = 0;
};

}  // namespace testsupport

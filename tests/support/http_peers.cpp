#include "tests/support/http_peers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

#include "tests/support/temp_install.h"

extern char** environ;

namespace testsupport {
namespace {

void Pause(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool Executable(const std::string& path) {
    return access(path.c_str(), X_OK) == 0;
}

// A value for an nginx configuration string: quoted, with quotes and backslashes escaped.
std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out.push_back('\\');
        out.push_back(c);
    }
    return out + "\"";
}

}  // namespace

bool ChildProcess::Start(const std::vector<std::string>& argv, const std::string& outputPath) {
    Stop();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputPath.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return false;
    pid_ = pid;
    return true;
}

bool ChildProcess::Running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
    }
    return true;
}

int ChildProcess::Stop() {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 200; ++i) {
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        Pause(25);
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return -1;
}

int FreeLoopbackPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return 0;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(fd);
    return port;
}

bool WaitForPort(int port, int timeoutMs) {
    for (int waited = 0; waited <= timeoutMs; waited += 20) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        ::close(fd);
        if (ok) return true;
        Pause(20);
    }
    return false;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int ConnectFrom(int from, int port, int receiveBuffer) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receiveBuffer > 0) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in source{};
    source.sin_family = AF_INET;
    source.sin_addr.s_addr = htonl(0x7F000000u | static_cast<std::uint32_t>(from));
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(static_cast<uint16_t>(port));
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

Answer ReadToEnd(int fd, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    using std::chrono::milliseconds;
    Answer a;
    auto start = Clock::now();
    char buffer[65536];
    for (;;) {
        auto left = milliseconds(timeoutMs) - (Clock::now() - start);
        pollfd p{fd, POLLIN, 0};
        if (left <= milliseconds(0) ||
            ::poll(&p, 1, static_cast<int>(std::chrono::duration_cast<milliseconds>(left).count())) <= 0)
            break;
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            a.bytes.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        a.reset = n < 0 && errno == ECONNRESET;
        break;
    }
    a.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return a;
}

Answer Exchange(int port, const std::string& request, int from) {
    auto start = std::chrono::steady_clock::now();
    int fd = ConnectFrom(from, port);
    if (fd < 0) return Answer{"", false, -1};
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    Answer a = ReadToEnd(fd);
    ::close(fd);
    a.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return a;
}

PeerDir::PeerDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "veldana-peer-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
    chmod(path_.c_str(), 0755);
}

PeerDir::~PeerDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string PeerDir::WriteFile(const std::string& name, const std::string& content) const {
    std::string p = path_ + "/" + name;
    std::ofstream(p, std::ios::binary | std::ios::trunc) << content;
    chmod(p.c_str(), 0644);
    return p;
}

bool UpdateServerPeer::Start(const std::vector<ContractFile>& files,
                             const std::vector<std::string>& extra) {
    std::string portFile = dir_.path() + "/port";
    std::vector<std::string> argv = {BuiltProgram("veldana-update-server"),
                                     "--listen",
                                     "127.0.0.1:0",
                                     "--port-file",
                                     portFile,
                                     "--log",
                                     dir_.path() + "/requests.log"};
    for (const auto& f : files) {
        argv.insert(argv.end(), {"--file", f.number + "=" + f.path});
        if (!f.filename.empty()) argv.insert(argv.end(), {"--name", f.number + "=" + f.filename});
    }
    argv.insert(argv.end(), extra.begin(), extra.end());
    if (!process_.Start(argv, dir_.path() + "/output.txt")) return false;
    for (int i = 0; i < 400 && process_.Running(); ++i) {
        port_ = std::atoi(ReadWholeFile(portFile).c_str());
        if (port_ > 0) return true;
        Pause(25);
    }
    return false;
}

std::string NginxPeer::Program() {
    return Executable("/usr/sbin/nginx") ? "/usr/sbin/nginx" : "";
}

bool NginxPeer::Start(const std::vector<ContractFile>& files, const NginxTuning& tuning) {
    if (Program().empty()) return false;
    const std::string& d = dir_.path();
    std::filesystem::create_directories(d + "/temp");
    port_ = FreeLoopbackPort();
    std::string conf;
    conf += "worker_processes " + std::to_string(tuning.workers) + ";\n";
    conf += "worker_rlimit_nofile " + std::to_string(tuning.connections * 2 + 64) + ";\n";
    conf += "daemon off;\npid " + d + "/nginx.pid;\n";
    conf += "error_log " + d + "/error.log info;\n";
    conf += "events { worker_connections " + std::to_string(tuning.connections) + "; }\n";
    conf += "http {\n    sendfile on;\n    tcp_nopush on;\n";
    conf += "    client_header_timeout " + std::to_string(tuning.headerTimeoutSeconds) + "s;\n";
    for (const char* t : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
        conf += std::string("    ") + t + "_temp_path " + d + "/temp/" + t + ";\n";
    conf +=
        "    log_format contract '$request|$http_vd_version|$http_vd_source|"
        "$http_vd_osversion|$http_vd_emailaddr|$http_host|$http_user_agent';\n";
    conf += "    access_log " + d + "/access.log contract;\n";
    conf += "    server {\n        listen 127.0.0.1:" + std::to_string(port_) + ";\n";
    for (const auto& f : files) {
        conf += "        location = /filedown/" + f.number + " {\n";
        conf += "            alias " + f.path + ";\n";
        conf += "            default_type application/octet-stream;\n";
        conf += "            add_header vd-message " + Quoted(f.message) + ";\n";
        conf += "            add_header vd-upgrade " + Quoted(f.upgrade) + ";\n";
        conf += "            add_header vd-filename " + Quoted(f.filename) + ";\n";
        conf += "            add_header vd-filedate " + Quoted(f.filedate) + ";\n";
        conf += "        }\n";
    }
    conf += "    }\n}\n";
    dir_.WriteFile("nginx.conf", conf);
    if (!process_.Start({Program(), "-p", d, "-e", d + "/error.log", "-c", d + "/nginx.conf"},
                        d + "/output.txt"))
        return false;
    return WaitForPort(port_) && process_.Running();
}

std::string TinyproxyPeer::Program() {
    return Executable("/usr/bin/tinyproxy") ? "/usr/bin/tinyproxy" : "";
}

bool TinyproxyPeer::Start() {
    if (Program().empty()) return false;
    const std::string& d = dir_.path();
    port_ = FreeLoopbackPort();
    std::string conf;
    conf += "Port " + std::to_string(port_) + "\n";
    conf += "Listen 127.0.0.1\nTimeout 30\nMaxClients 20\nAllow 127.0.0.1\n";
    conf += "DisableViaHeader Yes\nLogLevel Info\n";
    conf += "LogFile \"" + d + "/tinyproxy.log\"\n";
    dir_.WriteFile("tinyproxy.conf", conf);
    if (!process_.Start({Program(), "-d", "-c", d + "/tinyproxy.conf"}, d + "/output.txt"))
        return false;
    return WaitForPort(port_) && process_.Running();
}

}  // namespace testsupport

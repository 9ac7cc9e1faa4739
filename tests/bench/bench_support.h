// Clocks and the sequential-write yardstick that the benchmarks print their figures against.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace benchsupport {

inline double CpuMs() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// CPU time (user and system) of the calling thread, in seconds.
inline double ThreadCpuSeconds() {
    rusage ru{};
    ::getrusage(RUSAGE_THREAD, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

inline double WallMs() {
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct Times {
    double wall = -1, cpu = -1;
};

// The best of five sequential writes of `bytes` bytes to a new file at `path` (1 MB writes,
// then an fsync only with `flush`); the file is removed before each run and afterwards.
// {-1, -1} on failure.
inline Times SequentialWrite(const std::string& path, std::uint64_t bytes, bool flush = false) {
    const std::vector<std::uint8_t> chunk(1 << 20, 0x5A);
    Times best{1e300, 1e300};
    for (int run = 0; run < 5; ++run) {
        std::remove(path.c_str());
        const double w = WallMs(), c = CpuMs();
        const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
        if (fd < 0) return {};
        for (std::uint64_t left = bytes; left > 0;) {
            const std::size_t k =
                static_cast<std::size_t>(std::min<std::uint64_t>(left, chunk.size()));
            if (::write(fd, chunk.data(), k) != static_cast<ssize_t>(k)) {
                ::close(fd);
                std::remove(path.c_str());
                return {};
            }
            left -= k;
        }
        if (flush && ::fsync(fd) != 0) {
            ::close(fd);
            std::remove(path.c_str());
            return {};
        }
        ::close(fd);
        best.wall = std::min(best.wall, WallMs() - w);
        best.cpu = std::min(best.cpu, CpuMs() - c);
    }
    std::remove(path.c_str());
    return best;
}

}  // namespace benchsupport

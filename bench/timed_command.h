// A command line run through sh, timed: its wall time, its CPU time (user
// and system: on a shared machine the steadier of the two) and its peak
// resident memory.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

namespace bench_timing {

struct Usage {
    double seconds = 0, cpu = 0;  // from start to end; user and system
    long peakKb = 0;
};

// Runs the command line through sh; its time and peak resident memory.
inline int Timed(const std::string& command, Usage* u) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    u->seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    u->cpu = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
             (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    u->peakKb = usage.ru_maxrss;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace bench_timing

#pragma once
// What several benchmarks measure with: clocks, the process's memory figures, and the
// controller simulator as a child process.

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace bench {

// Seconds on `clock` (CLOCK_MONOTONIC for wall time, CLOCK_THREAD_CPUTIME_ID for the thread's
// processor time, which the other work of a shared machine does not inflate).
inline double Now(clockid_t clock) {
    timespec t{};
    ::clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// A figure of /proc/self/status in KiB ("VmHWM:", "VmRSS:"), or -1.
inline long StatusKiB(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string word;
    while (status >> word)
        if (word == key) {
            long kib = 0;
            status >> kib;
            return kib;
        }
    return -1;
}

// Starts the peak resident size (VmHWM) afresh from the present size.
inline bool ResetPeak() { return static_cast<bool>(std::ofstream("/proc/self/clear_refs") << "5"); }

#ifdef GRBLSIM_PATH
// The controller simulator, unannounced, for the life of this object; Path() is its terminal,
// empty when it did not start within 5 s.
class Simulator {
public:
    explicit Simulator(const std::string& timeScale) {
        int out[2];
        if (pipe(out) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], 1);
            execl(GRBLSIM_PATH, GRBLSIM_PATH, "--no-announce", "--time-scale", timeScale.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        std::string line;
        pollfd p{out[0], POLLIN, 0};
        char c;
        while (line.find('\n') == std::string::npos && poll(&p, 1, 5000) > 0 &&
               read(out[0], &c, 1) == 1)
            line += c;
        close(out[0]);
        const std::size_t at = line.find(": ");
        if (at != std::string::npos) path_ = line.substr(at + 2, line.size() - at - 3);
    }
    ~Simulator() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;
    const std::string& Path() const { return path_; }

private:
    pid_t pid_ = -1;
    std::string path_;
};
#endif

}  // namespace bench

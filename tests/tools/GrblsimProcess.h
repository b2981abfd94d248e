#pragma once
// The simulator program as a test's child process: started with a private runtime directory
// (so the user's port list stays untouched), its terminal and announcement read from its first
// lines, killed and cleaned up with the object. GRBLSIM_PATH names the program.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace grblsimtest {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Reads what arrives on `fd` until `until` is seen or the time is up.
inline std::string ReadFor(int fd, const std::string& until, std::chrono::milliseconds limit = 5s) {
    std::string got;
    const auto end = Clock::now() + limit;
    while (until.empty() || got.find(until) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        char buf[512];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) {
            got += "<hang-up>";
            break;
        }
        got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
}

class Simulator {
public:
    explicit Simulator(std::vector<std::string> args) {
        char dirTemplate[] = "/tmp/grblsim-test-XXXXXX";
        root_ = mkdtemp(dirTemplate);
        dir_ = root_ + "/run";
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        // Built before the fork: a test process has threads, so the child only execs.
        std::vector<std::string> all = {GRBLSIM_PATH, "--runtime-dir", dir_};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const pid_t parent = getpid();
        pid_ = fork();
        if (pid_ == 0) {
            // A test killed at its time-out must not leave its simulator running.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent) _exit(127);
            dup2(out[1], 1);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        out_ = out[0];
        std::string lines = ReadFor(out_, "listed as ");
        if (lines.find('\n', lines.find("listed as ")) == std::string::npos)
            lines += ReadFor(out_, "\n");
        std::istringstream in(lines);
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind("grblsim ", 0) == 0) pty_ = line.substr(line.find(": ") + 2);
            if (line.rfind("grblsim: listed as ", 0) == 0) entry_ = line.substr(19);
        }
    }
    ~Simulator() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(out_);
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    // SIGTERM; the exit status.
    int Stop() {
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return status;
    }
    long CpuTicks() const {
        std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), {});
        std::istringstream fields(text.substr(text.rfind(')') + 2));
        std::string skip;
        for (int i = 0; i < 11; ++i)
            fields >> skip;  // fields 3..13
        long user = 0, system = 0;
        fields >> user >> system;
        return user + system;
    }
    std::string Output(const std::string& until) { return ReadFor(out_, until); }

    std::string root_, dir_, pty_, entry_;
    pid_t pid_ = -1;
    int out_ = -1;
};

}  // namespace grblsimtest

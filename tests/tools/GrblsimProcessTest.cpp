// The simulator program on its pseudo-terminal: announced while it runs, a fresh controller
// for every client, idle without spinning, gone cleanly on SIGTERM, and its faults.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "SerialPorts.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Reads what arrives on `fd` until `until` is seen or the time is up.
std::string ReadFor(int fd, const std::string& until, std::chrono::milliseconds limit = 5s) {
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
        if (pipe(out) != 0) throw std::runtime_error("pipe");
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], 1);
            std::vector<std::string> all = {GRBLSIM_PATH, "--runtime-dir", dir_};
            all.insert(all.end(), args.begin(), args.end());
            std::vector<char*> argv;
            for (auto& a : all) argv.push_back(a.data());
            argv.push_back(nullptr);
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
        for (int i = 0; i < 11; ++i) fields >> skip;  // fields 3..13
        long user = 0, system = 0;
        fields >> user >> system;
        return user + system;
    }
    std::string Output(const std::string& until) { return ReadFor(out_, until); }

    std::string root_, dir_, pty_, entry_;
    pid_t pid_ = -1;
    int out_ = -1;
};

int OpenPort(const std::string& path) { return open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC); }

const std::string kBanner = "\r\nGrbl 0.9j ['$' for help]\r\n";

TEST(Grblsim, IsListedWhileItRunsAndResetsForEveryClient) {
    Simulator sim({});
    ASSERT_FALSE(sim.entry_.empty());
    EXPECT_EQ(fs::read_symlink(sim.entry_).string(), sim.pty_);
    EXPECT_EQ(ListSimulatorPorts(sim.dir_, "/sys/class/tty"), std::vector<std::string>{sim.entry_});

    for (int client = 0; client < 2; ++client) {
        const int fd = OpenPort(sim.entry_);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(ReadFor(fd, kBanner), kBanner);
        ASSERT_EQ(write(fd, "G91 G1 X10 F100\r", 16), 16);
        EXPECT_EQ(ReadFor(fd, "ok\r\n"), "ok\r\n");
        ASSERT_EQ(write(fd, "?", 1), 1);
        EXPECT_EQ(ReadFor(fd, ">\r\n").substr(0, 4), "<Run");
        close(fd);
    }

    // Without a client, and with one that sends nothing, it sleeps: no stray bytes, and next
    // to no processor time (a spinning loop would use all of the half second).
    const long before = sim.CpuTicks();
    const int fd = OpenPort(sim.entry_);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ReadFor(fd, kBanner), kBanner);
    EXPECT_EQ(ReadFor(fd, "", 500ms), "");
    close(fd);
    EXPECT_EQ(ReadFor(sim.out_, "", 500ms), "");
    EXPECT_LT(sim.CpuTicks() - before, 20);

    const int status = sim.Stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(sim.entry_)));
    EXPECT_TRUE(ListSimulatorPorts(sim.dir_, "/sys/class/tty").empty());
}

TEST(Grblsim, HangsUpAndComesBackUnderTheSameName) {
    Simulator sim({"--fault", "hangup:1"});
    int fd = OpenPort(sim.entry_);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ReadFor(fd, kBanner), kBanner);
    ASSERT_EQ(write(fd, "F100\r", 5), 5);
    EXPECT_EQ(ReadFor(fd, "<hang-up>"), "<hang-up>");
    close(fd);
    // A new terminal (its number may well be the old one's, freed a moment ago).
    const std::string note = sim.Output("\n");
    const std::size_t at = note.find("hung up; now on ");
    ASSERT_NE(at, std::string::npos) << note;
    EXPECT_EQ(fs::read_symlink(sim.entry_).string() + "\n", note.substr(at + 16));
    fd = OpenPort(sim.entry_);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ReadFor(fd, kBanner), kBanner);
    ASSERT_EQ(write(fd, "F100\r", 5), 5);
    EXPECT_EQ(ReadFor(fd, "ok\r\n"), "ok\r\n");
    close(fd);
}

TEST(Grblsim, GarblesOneReplyOrFallsSilent) {
    {
        Simulator sim({"--fault", "garble:1"});
        const int fd = OpenPort(sim.entry_);
        EXPECT_EQ(ReadFor(fd, kBanner), kBanner);
        ASSERT_EQ(write(fd, "F100\r", 5), 5);
        const std::string garbled = ReadFor(fd, "\r\n");
        EXPECT_EQ(garbled.size(), 4u);
        EXPECT_NE(garbled, "ok\r\n");
        ASSERT_EQ(write(fd, "F100\r", 5), 5);
        EXPECT_EQ(ReadFor(fd, "ok\r\n"), "ok\r\n");
        close(fd);
    }
    {
        Simulator sim({"--dialect", "1.1h", "--fault", "silent:1"});
        const int fd = OpenPort(sim.entry_);
        EXPECT_EQ(ReadFor(fd, "help]\r\n"), "\r\nGrbl 1.1h ['$' for help]\r\n");
        ASSERT_EQ(write(fd, "F100\r?", 6), 6);
        EXPECT_EQ(ReadFor(fd, "", 500ms), "");
        close(fd);
    }
}

}  // namespace

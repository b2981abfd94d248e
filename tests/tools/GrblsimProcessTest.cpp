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

#include "GrblsimProcess.h"
#include "SerialPorts.h"

namespace {

using namespace grblsimtest;

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

// Numbers on the command line are read the same in every locale (the test also runs under a
// decimal-comma one); the settings memory outlives a client; a probe finds the surface.
TEST(Grblsim, ProbesItsSurfaceAndKeepsSettingsBetweenClients) {
    Simulator sim({"--dialect", "1.1h", "--probe-z", "-2.5", "--time-scale", "20.5"});
    const std::string banner = "\r\nGrbl 1.1h ['$' for help]\r\n";
    int fd = OpenPort(sim.entry_);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ReadFor(fd, banner), banner);
    ASSERT_EQ(write(fd, "$N0=G91\r", 9), 9);
    EXPECT_EQ(ReadFor(fd, "ok\r\n"), "ok\r\n");
    close(fd);
    fd = OpenPort(sim.entry_);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ReadFor(fd, ">G91:ok\r\n"), banner + ">G91:ok\r\n");
    ASSERT_EQ(write(fd, "G38.2 Z-5 F600\r", 15), 15);
    EXPECT_EQ(ReadFor(fd, "ok\r\n"), "[PRB:0.000,0.000,-2.500:1]\r\nok\r\n");
    close(fd);
}

}  // namespace

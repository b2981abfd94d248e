// The port on real pseudo-terminals: the test plays the controller on the master side.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <cerrno>
#include <string>

#include "IniFile.h"
#include "PortTestSupport.h"
#include "TermiosBits.h"

namespace {

using namespace porttest;

class PortPty : public ::testing::Test {
protected:
    void SetUp() override {
        char name[256] = {};
        ASSERT_EQ(openpty(&master_, &slave_, name, nullptr, nullptr), 0);
        path_ = name;
        port_.SetName("ComPort1");
        port_.SetPort(path_);
        port_.SetBaudRate(br115200);
        port_.SetTriggersOnRxChar(false);
        port_.OnRxBuf = [this](TObject*, const std::uint8_t* b, std::int32_t n) {
            received_.append(reinterpret_cast<const char*>(b), std::size_t(n));
        };
    }
    void TearDown() override {
        port_.SetConnected(false);
        if (master_ >= 0) close(master_);
        if (slave_ >= 0) close(slave_);
    }

    void FarEndWrite(const std::string& s) {
        ASSERT_EQ(write(master_, s.data(), s.size()), ssize_t(s.size()));
    }
    // Reads what the port sent, until `n` bytes arrived (or 10 s passed without any).
    std::string FarEndRead(std::size_t n) {
        std::string out;
        while (out.size() < n) {
            pollfd pfd{master_, POLLIN, 0};
            if (poll(&pfd, 1, 10000) <= 0) break;
            char buf[256];
            const ssize_t got = read(master_, buf, sizeof buf);
            if (got <= 0) break;
            out.append(buf, std::size_t(got));
        }
        return out;
    }

    int master_ = -1, slave_ = -1;
    std::string path_;
    TComPort port_;
    std::string received_;
};

TEST_F(PortPty, WritesAndReceivesThroughTheEventThread) {
    port_.SetConnected(true);
    EXPECT_EQ(port_.WriteText("$X\r"), 3);
    EXPECT_EQ(FarEndRead(3), "$X\r");
    const std::string reply = "ok\r\n<Idle|WPos:0.000,0.000,0.000>\r\n";
    FarEndWrite(reply);
    ASSERT_TRUE(ServeUntil([&] { return received_.size() >= reply.size(); }));
    EXPECT_EQ(received_, reply);
}

TEST_F(PortPty, EveryByteValueSurvivesTheRoundTrip) {
    port_.SetConnected(true);
    std::string all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
    FarEndWrite(all);
    ASSERT_TRUE(ServeUntil([&] { return received_.size() >= all.size(); }));
    EXPECT_EQ(received_, all);
}

TEST_F(PortPty, CustomRatesReachTheDeviceExactly) {
    port_.SetBaudRate(brCustom);
    port_.SetCustomBaudRate(12345);
    port_.SetConnected(true);
    device::tty::Termios2 t;
    ASSERT_EQ(device::tty::GetTermios2(slave_, t), 0);
    EXPECT_EQ(t.ospeed, 12345u);
    port_.SetCustomBaudRate(250000);  // applied to the open port at once
    ASSERT_EQ(device::tty::GetTermios2(slave_, t), 0);
    EXPECT_EQ(t.ospeed, 250000u);
    EXPECT_EQ(t.cflag & device::tty::kCBAUD, device::tty::kBOTHER);
}

TEST_F(PortPty, ASecondOpenOfTheSameDeviceIsBusy) {
    port_.SetConnected(true);
    TComPort second;
    second.SetPort(path_);
    ExpectComError([&] { second.SetConnected(true); }, 1,
                   "Unable to open com port (Error: " + std::to_string(EBUSY) + ")", EBUSY);
    EXPECT_FALSE(second.Connected());
}

TEST_F(PortPty, WhatIsNotATtyIsRefused) {
    TComPort port;
    port.SetPort("/dev/null");
    ExpectComError([&] { port.SetConnected(true); }, 1,
                   "Unable to open com port (Error: " + std::to_string(ENOTTY) + ")", ENOTTY);
    port.SetPort("/nonexistent/ttyUSB0");
    ExpectComError([&] { port.SetConnected(true); }, 1,
                   "Unable to open com port (Error: " + std::to_string(ENOENT) + ")", ENOENT);
}

TEST_F(PortPty, HangUpIsReportedOnceAndTheThreadSleeps) {
    TComErrors errors;
    int reports = 0;
    port_.OnError = [&](TObject*, TComErrors e) {
        errors = e;
        ++reports;
    };
    port_.SetConnected(true);
    close(slave_);  // only the port holds the slave now
    slave_ = -1;
    close(master_);  // the far end goes away, as an unplugged adapter does
    master_ = -1;
    ASSERT_TRUE(ServeUntil([&] { return reports > 0; }));
    EXPECT_TRUE(errors.Contains(ceIO));

    // Give a spinning loop every chance to show itself, then count: no further wake-ups.
    const std::uint64_t wakeUps = port_.EventThread()->WakeUps();
    for (int i = 0; i < 5; ++i) framework::CheckSynchronize(50ms);
    EXPECT_EQ(port_.EventThread()->WakeUps(), wakeUps);
    EXPECT_EQ(reports, 1);

    try {
        port_.WriteText("?");
        ADD_FAILURE() << "a write to a device that is gone succeeded";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.FailureCode, 2);
        EXPECT_EQ(e.SystemCode, EIO);
    }
    port_.SetConnected(false);
    EXPECT_FALSE(port_.Connected());
}

TEST_F(PortPty, ClosingWhileADeliveryIsInFlightCompletes) {
    std::mutex m;
    std::condition_variable cv;
    bool handedOver = false;
    framework::SetWakeMainThread([&] {
        std::lock_guard lock(m);
        handedOver = true;
        cv.notify_all();
    });
    port_.SetConnected(true);
    FarEndWrite("ok\r\n");
    {
        // The event thread now blocks in its hand-over, which this thread has not served.
        std::unique_lock lock(m);
        EXPECT_TRUE(cv.wait_for(lock, 10s, [&] { return handedOver; }));
    }
    port_.SetConnected(false);
    EXPECT_EQ(received_, "ok\r\n") << "the close served the delivery in flight";
    framework::SetWakeMainThread(nullptr);
    EXPECT_EQ(port_.EventThread(), nullptr);
    EXPECT_FALSE(port_.Connected());
}

TEST_F(PortPty, WriteTextReturnsAShortCountWhenTheFarEndStopsReading) {
    port_.Timeouts().SetWriteTotalMultiplier(0);
    port_.Timeouts().SetWriteTotalConstant(200);
    port_.SetConnected(true);
    const std::string block(1 << 20, 'G');  // far more than the pty buffers
    const std::int32_t written = port_.WriteText(block);
    EXPECT_GT(written, 0);
    EXPECT_LT(written, std::int32_t(block.size()));
}

TEST_F(PortPty, ReadingSettingsWithAnotherPortReopensOnTheNewDevice) {
    int master2 = -1, slave2 = -1;
    char name2[256] = {};
    ASSERT_EQ(openpty(&master2, &slave2, name2, nullptr, nullptr), 0);
    const std::string ini = "/tmp/tarnwick-reopen-" + std::to_string(getpid()) + ".ini";
    {
        TIniFile file(ini);
        file.WriteString("ComPort1", "Port", name2);
    }
    port_.SetConnected(true);
    TIniFile file(ini);
    port_.ReadSettingsFromIni(file);
    EXPECT_TRUE(port_.Connected());
    EXPECT_EQ(port_.Port(), name2);
    port_.WriteText("$$\r");
    std::string got;
    pollfd pfd{master2, POLLIN, 0};
    if (poll(&pfd, 1, 10000) > 0) {
        char buf[16];
        const ssize_t n = read(master2, buf, sizeof buf);
        if (n > 0) got.assign(buf, std::size_t(n));
    }
    EXPECT_EQ(got, "$$\r");
    port_.SetConnected(false);
    close(master2);
    close(slave2);
    std::remove(ini.c_str());
}

}  // namespace

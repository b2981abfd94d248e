// The selector and the LED on ports backed by pseudo-terminals: the test plays the far end.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "CPortCtl.h"
#include "FakeTtyClass.h"
#include "QtTestSupport.h"

namespace {

using namespace controlstest;
using Log = std::vector<std::string>;

struct Pty {
    Pty() {
        char name[256] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0) return;
        path = name;
    }
    ~Pty() {
        if (master >= 0) close(master);
        if (slave >= 0) close(slave);
    }
    // What the port sent, until `n` bytes arrived or 10 s passed without any.
    std::string Read(std::size_t n) const {
        std::string out;
        while (out.size() < n) {
            pollfd pfd{master, POLLIN, 0};
            if (poll(&pfd, 1, 10000) <= 0) break;
            char buf[256];
            const ssize_t got = read(master, buf, sizeof buf);
            if (got <= 0) break;
            out.append(buf, std::size_t(got));
        }
        return out;
    }
    // The name the port list gives the device, "pts/N", and its sysfs spelling "pts!N".
    std::string PortName() const { return path.substr(std::string("/dev/").size()); }
    std::string SysfsName() const {
        std::string name = PortName();
        for (char& c : name)
            if (c == '/') c = '!';
        return name;
    }
    int master = -1, slave = -1;
    std::string path;
};

class ControlsPty : public QtTest {
protected:
    void SetUp() override {
        ASSERT_FALSE(a_.path.empty());
        ASSERT_FALSE(b_.path.empty());
        tree_.AddPort(a_.SysfsName());
        tree_.AddPort(b_.SysfsName());
        SetTtyClassDir(tree_.Dir());
        port_.SetBaudRate(br115200);
        led_.SetKind(lkGreenLight);
        led_.OnChange = [this](TObject*, TLedState s) { changes_.push_back(s == lsOn ? "on" : "off"); };
    }
    void TearDown() override {
        port_.SetConnected(false);
        SetTtyClassDir("");
        QtTest::TearDown();
    }

    Pty a_, b_;
    FakeTtyClass tree_;
    TComPort port_;
    TComLed led_;
    Log changes_;
};

TEST_F(ControlsPty, TheLampFollowsOpenAndCloseOfThePort) {
    port_.SetPort(a_.path);
    led_.SetComPort(&port_);
    EXPECT_EQ(led_.State(), lsOff);
    port_.SetConnected(true);
    EXPECT_EQ(led_.State(), lsOn);
    port_.SetConnected(false);
    EXPECT_EQ(led_.State(), lsOff);
    EXPECT_EQ(changes_, (Log{"on", "off"}));

    // A lamp for a line stays dark: a pseudo-terminal has no modem lines.
    TComLed cts;
    cts.SetLedSignal(lsCTS);
    port_.SetConnected(true);
    cts.SetComPort(&port_);
    EXPECT_EQ(cts.State(), lsOff);
}

TEST_F(ControlsPty, PickingAnotherPortReopensTheOpenPortOnIt) {
    port_.SetPort(a_.PortName());
    TComComboBox box;
    box.SetComProperty(cpPort);
    box.SetAutoApply(true);
    box.SetComPort(&port_);
    led_.SetComPort(&port_);
    port_.SetConnected(true);
    ASSERT_EQ(box.Text(), a_.PortName());

    const int other = box.Items().IndexOfText(b_.PortName());
    ASSERT_GE(other, 0);
    box.setCurrentIndex(other);  // the operator's pick
    emit box.activated(other);
    EXPECT_TRUE(TakeReportedErrors().empty());

    EXPECT_EQ(port_.Port(), b_.PortName());
    EXPECT_TRUE(port_.Connected());
    EXPECT_EQ(changes_, (Log{"on", "off", "on"}));
    // The bytes now go to the newly chosen device ...
    EXPECT_EQ(port_.WriteText("$X\r"), 3);
    EXPECT_EQ(b_.Read(3), "$X\r");
    // ... and the old one was let go: another port can have it.
    TComPort second;
    second.SetPort(a_.path);
    EXPECT_NO_THROW(second.SetConnected(true));
    EXPECT_TRUE(second.Connected());
}

}  // namespace

// Self-tests of the fake device, where it has logic of its own.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "FakeDevice.h"

namespace {

using namespace device;
using namespace std::chrono_literals;
using Call = FakeDevice::Call;

TEST(FakeDeviceTest, RecordsCallsAndScriptedFailures) {
    FakeDevice dev;
    dev.FailOnce(Call::Open, ENOENT);
    EXPECT_EQ(dev.Open("/dev/ttyS0"), ENOENT);
    EXPECT_FALSE(dev.IsOpen());
    EXPECT_EQ(dev.Open("/dev/ttyS0"), 0);
    dev.Fail(Call::SetCommState, EINVAL);
    DeviceControlBlock dcb;
    dcb.BaudRate = 9600;
    EXPECT_EQ(dev.SetCommState(dcb), EINVAL);
    EXPECT_EQ(dev.SetCommState(dcb), EINVAL);
    dev.Fail(Call::SetCommState, 0);
    EXPECT_EQ(dev.SetCommState(dcb), 0);
    EXPECT_EQ(dev.Dcb(), dcb);
    EXPECT_EQ(dev.OpenPath(), "/dev/ttyS0");
    EXPECT_EQ(dev.Calls(), (std::vector<std::string>{"Open", "Open", "SetCommState",
                                                     "SetCommState", "SetCommState"}));
}

TEST(FakeDeviceTest, ReceivedBytesLatchMaskedEventsAndPassUnknownBits) {
    FakeDevice dev;
    ASSERT_EQ(dev.Open("x"), 0);
    ASSERT_EQ(dev.SetupComm(10, 10), 0);
    DeviceControlBlock dcb;
    dcb.EvtChar = '\n';
    ASSERT_EQ(dev.SetCommState(dcb), 0);
    ASSERT_EQ(dev.SetCommMask(EV_RXCHAR | EV_RXFLAG | EV_RX80FULL), 0);
    StopEvent stop;
    std::uint32_t ev = 0;

    dev.InjectReceived("1234567");
    ASSERT_EQ(dev.WaitCommEvent(ev, stop), WaitResult::Events);
    EXPECT_EQ(ev, std::uint32_t(EV_RXCHAR));
    dev.InjectReceived("8\n");
    ASSERT_EQ(dev.WaitCommEvent(ev, stop), WaitResult::Events);
    EXPECT_EQ(ev, std::uint32_t(EV_RXCHAR | EV_RXFLAG | EV_RX80FULL));

    dev.Break();  // EV_BREAK is not in the mask: stays latched, not reported
    dev.InjectEvents(0x0200);
    ASSERT_EQ(dev.WaitCommEvent(ev, stop), WaitResult::Events);
    EXPECT_EQ(ev, 0x0200u);
    std::uint32_t errors = 0, queued = 0;
    EXPECT_EQ(dev.ClearCommError(errors, queued), 0);
    EXPECT_EQ(errors, std::uint32_t(CE_BREAK));
    EXPECT_EQ(queued, 9u);
}

TEST(FakeDeviceTest, WaitBlocksUntilStopAndHangUpIsReportedOnce) {
    FakeDevice dev;
    ASSERT_EQ(dev.Open("x"), 0);
    ASSERT_EQ(dev.SetCommMask(EV_ERR | EV_RXCHAR), 0);
    StopEvent stop;
    std::uint32_t ev = 0;
    dev.HangUp();
    dev.HangUp();
    ASSERT_EQ(dev.WaitCommEvent(ev, stop), WaitResult::Events);
    EXPECT_EQ(ev, std::uint32_t(EV_ERR));

    std::thread stopper([&] {
        EXPECT_TRUE(dev.AwaitWaiting(10s));
        stop.Set();
    });
    EXPECT_EQ(dev.WaitCommEvent(ev, stop), WaitResult::Stopped);
    stopper.join();
    EXPECT_EQ(dev.WakeUps(), 2u);

    std::uint8_t b = 0;
    AsyncOp op;
    EXPECT_EQ(dev.BeginWrite(&b, 1, op), EIO);
    EXPECT_EQ(dev.BeginRead(&b, 1, op), EIO);
    dev.ScriptWait(WaitResult::WaitFailed);
    EXPECT_EQ(dev.WaitCommEvent(ev, stop), WaitResult::WaitFailed);
}

TEST(FakeDeviceTest, HeldWriteEndsOnPurgeOrRelease) {
    FakeDevice dev;
    ASSERT_EQ(dev.Open("x"), 0);
    dev.SetWriteMode(FakeDevice::WriteMode::Hold);
    const std::uint8_t data[] = {'a', 'b', 'c'};

    for (bool release : {false, true}) {
        AsyncOp op;
        ASSERT_EQ(dev.BeginWrite(data, 3, op), 0);
        EXPECT_TRUE(op.pending);
        std::thread helper([&] {
            EXPECT_TRUE(dev.AwaitHeldWrite(10s));
            if (release)
                dev.ReleaseWrites();
            else
                EXPECT_EQ(dev.Purge(PURGE_TXABORT), 0);
        });
        std::uint32_t n = 99;
        EXPECT_EQ(dev.CompleteOp(op, n), release ? 0 : ECANCELED);
        helper.join();
        EXPECT_EQ(n, release ? 3u : 0u);
    }
    EXPECT_EQ(dev.WrittenText(), "abc");
    EXPECT_EQ(dev.LatchedEvents(), std::uint32_t(EV_TXEMPTY));

    dev.SetWriteMode(FakeDevice::WriteMode::Short, 2);
    AsyncOp op;
    ASSERT_EQ(dev.BeginWrite(data, 3, op), 0);
    std::uint32_t n = 0;
    EXPECT_EQ(dev.CompleteOp(op, n), 0);
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(dev.WrittenText(), "abcab");
}

}  // namespace

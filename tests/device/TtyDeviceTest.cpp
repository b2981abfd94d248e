// The tty implementation on pseudo-terminal pairs: the device opens the slave, the test plays
// the far end on the master. No sleeps: the tests wait in the device's own waits, in poll()
// on the master, or until a thread is seen asleep in the kernel.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "TermiosBits.h"
#include "TtyDevice.h"

namespace {

using namespace device;

// True once thread `tid` is seen asleep in the kernel (state S in /proc).
bool AwaitAsleep(pid_t tid) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    const std::string path = "/proc/self/task/" + std::to_string(tid) + "/stat";
    while (std::chrono::steady_clock::now() < until) {
        std::ifstream in(path);
        std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const auto paren = stat.rfind(')');
        if (paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] == 'S')
            return true;
        std::this_thread::yield();
    }
    return false;
}

class TtyDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        char name[256];
        ASSERT_EQ(::openpty(&master_, &slave_, name, nullptr, nullptr), 0);
        path_ = name;
        termios t{};
        ::tcgetattr(master_, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(master_, TCSANOW, &t);
    }
    void TearDown() override {
        dev_.Close();
        if (master_ >= 0) ::close(master_);
        ::close(slave_);
    }

    // Opens and configures like the port does: 115200 8N1, reads return at once.
    void OpenConfigured(std::uint32_t inSize = 4096, std::uint32_t mask = EV_RXCHAR) {
        ASSERT_EQ(dev_.Open(path_), 0);
        ASSERT_EQ(dev_.SetupComm(inSize, 1024), 0);
        DeviceControlBlock dcb;
        dcb.BaudRate = 115200;
        dcb.fBinary = true;
        dcb.EvtChar = '\n';
        ASSERT_EQ(dev_.SetCommState(dcb), 0);
        ASSERT_EQ(dev_.SetCommTimeouts({kNoLimit, 0, 0, 100, 1000}), 0);
        ASSERT_EQ(dev_.SetCommMask(mask), 0);
    }

    void MasterWrite(const std::string& s) {
        ASSERT_EQ(::write(master_, s.data(), s.size()), ssize_t(s.size()));
    }

    std::string MasterRead(std::size_t n) {
        std::string out;
        while (out.size() < n) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 10000) <= 0) break;
            char buf[4096];
            const ssize_t r = ::read(master_, buf, std::min(sizeof buf, n - out.size()));
            if (r <= 0) break;
            out.append(buf, std::size_t(r));
        }
        return out;
    }

    // Waits with the device's own wait until `n` bytes are queued; ORs the events seen. The
    // bytes must not have been pulled into the queue yet (the first wait is for them).
    std::uint32_t AwaitQueued(std::uint32_t n, std::uint32_t* events = nullptr) {
        std::uint32_t errors = 0, queued = 0, ev = 0;
        do {
            std::uint32_t got = 0;
            if (dev_.WaitCommEvent(got, stop_) != WaitResult::Events) break;
            ev |= got;
            EXPECT_EQ(dev_.ClearCommError(errors, queued), 0);
        } while (queued < n);
        if (events) *events |= ev;
        return queued;
    }

    std::string Read(std::uint32_t n) {
        std::string buf(n, '\0');
        AsyncOp op;
        EXPECT_EQ(dev_.BeginRead(reinterpret_cast<std::uint8_t*>(buf.data()), n, op), 0);
        std::uint32_t got = 0;
        EXPECT_EQ(dev_.CompleteOp(op, got), 0);
        buf.resize(got);
        return buf;
    }

    int master_ = -1;
    int slave_ = -1;
    std::string path_;
    TtyDevice dev_;
    StopEvent stop_;
};

TEST_F(TtyDeviceTest, RefusesWhatIsNotATty) {
    EXPECT_EQ(dev_.Open("/dev/null"), ENOTTY);
    char file[] = "/tmp/tarnwick-notatty-XXXXXX";
    const int fd = ::mkstemp(file);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(dev_.Open(file), ENOTTY);
    ::close(fd);
    ::unlink(file);
    EXPECT_EQ(dev_.Open("/dev/tarnwick-no-such-device"), ENOENT);
    EXPECT_EQ(dev_.Open(DevicePath("../etc/passwd")), ENOENT);
    EXPECT_FALSE(dev_.IsOpen());
}

TEST_F(TtyDeviceTest, OpenIsExclusive) {
    ASSERT_EQ(dev_.Open(path_), 0);
    TtyDevice other;
    EXPECT_EQ(other.Open(path_), EBUSY);
    EXPECT_FALSE(other.IsOpen());
    ASSERT_EQ(dev_.Close(), 0);
    EXPECT_EQ(other.Open(path_), 0);
    EXPECT_EQ(other.Close(), 0);
}

TEST_F(TtyDeviceTest, RoundTripWithTxEmpty) {
    OpenConfigured(4096, EV_RXCHAR | EV_TXEMPTY | EV_RLSD);  // EV_RLSD starts the line helper
    const std::string out("hello\xff\0world", 12);
    AsyncOp op;
    ASSERT_EQ(dev_.BeginWrite(reinterpret_cast<const std::uint8_t*>(out.data()), 12, op), 0);
    std::uint32_t n = 0;
    EXPECT_EQ(dev_.CompleteOp(op, n), 0);
    EXPECT_EQ(n, 12u);
    EXPECT_EQ(MasterRead(12), out);
    std::uint32_t ev = 0;
    while (!(ev & EV_TXEMPTY)) {
        std::uint32_t got = 0;
        ASSERT_EQ(dev_.WaitCommEvent(got, stop_), WaitResult::Events);
        ev |= got;
    }

    const std::string in("abc\xff\0\xff\xff" "def", 10);
    MasterWrite(in);
    EXPECT_EQ(AwaitQueued(10, &ev), 10u);
    EXPECT_EQ(Read(10), in);
    std::uint32_t status = 1;
    EXPECT_EQ(dev_.GetModemStatus(status), 0);  // a pty has no modem lines
    EXPECT_EQ(status, 0u);
}

// A pseudo-terminal has no transmitter: the write itself empties the output queue, so
// EV_TXEMPTY is there for the next wait without a drain helper thread.
TEST_F(TtyDeviceTest, PtyTxEmptyIsLatchedByTheWriteItself) {
    OpenConfigured(4096, EV_RXCHAR | EV_TXEMPTY);
    EXPECT_FALSE(dev_.HasTransmitter());
    const std::string out = "G0 X1\n";
    AsyncOp op;
    ASSERT_EQ(dev_.BeginWrite(reinterpret_cast<const std::uint8_t*>(out.data()),
                              std::uint32_t(out.size()), op),
              0);
    std::uint32_t n = 0;
    EXPECT_EQ(dev_.CompleteOp(op, n), 0);
    EXPECT_EQ(n, out.size());
    std::uint32_t ev = 0;
    ASSERT_EQ(dev_.WaitCommEvent(ev, stop_), WaitResult::Events);
    EXPECT_EQ(ev, std::uint32_t(EV_TXEMPTY));
    EXPECT_FALSE(dev_.DrainHelperRunning());
    EXPECT_EQ(MasterRead(out.size()), out);
}

// While part of a write is still held back, the output queue is not empty: EV_TXEMPTY comes
// only once the last byte has been handed over.
TEST_F(TtyDeviceTest, PtyTxEmptyWaitsForAPendingWrite) {
    OpenConfigured(4096, EV_RXCHAR | EV_TXEMPTY);
    ASSERT_EQ(dev_.SetCommTimeouts({kNoLimit, 0, 0, 0, 0}), 0);  // no write limit
    const std::vector<std::uint8_t> big(1 << 20, 'w');  // far more than a pty holds
    AsyncOp op;
    ASSERT_EQ(dev_.BeginWrite(big.data(), std::uint32_t(big.size()), op), 0);
    ASSERT_TRUE(op.pending);

    // A received byte ends the next wait at once and shows what is latched besides it.
    MasterWrite("x");
    pollfd p{slave_, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 10000), 1);
    std::uint32_t ev = 0;
    ASSERT_EQ(dev_.WaitCommEvent(ev, stop_), WaitResult::Events);
    EXPECT_EQ(ev, std::uint32_t(EV_RXCHAR));

    std::thread farEnd([&] { EXPECT_EQ(MasterRead(big.size()).size(), big.size()); });
    std::uint32_t n = 0;
    EXPECT_EQ(dev_.CompleteOp(op, n), 0);
    farEnd.join();
    EXPECT_EQ(n, big.size());
    ev = 0;
    ASSERT_EQ(dev_.WaitCommEvent(ev, stop_), WaitResult::Events);
    EXPECT_EQ(ev, std::uint32_t(EV_TXEMPTY));
}

// The drain helper, which a device with a transmitter uses, still works on a pty when forced.
TEST_F(TtyDeviceTest, DrainHelperLatchesTxEmptyWhenForced) {
    TtyDevice dev(TtyDevice::TxEmpty::DrainHelper);
    ASSERT_EQ(dev.Open(path_), 0);
    DeviceControlBlock dcb;
    dcb.BaudRate = 115200;
    dcb.fBinary = true;
    ASSERT_EQ(dev.SetCommState(dcb), 0);
    ASSERT_EQ(dev.SetCommTimeouts({kNoLimit, 0, 0, 100, 1000}), 0);
    ASSERT_EQ(dev.SetCommMask(EV_TXEMPTY), 0);
    EXPECT_TRUE(dev.HasTransmitter());
    const std::uint8_t out[] = {'o', 'k', '\n'};
    AsyncOp op;
    ASSERT_EQ(dev.BeginWrite(out, 3, op), 0);
    std::uint32_t n = 0;
    EXPECT_EQ(dev.CompleteOp(op, n), 0);
    EXPECT_EQ(n, 3u);
    std::uint32_t ev = 0;
    ASSERT_EQ(dev.WaitCommEvent(ev, stop_), WaitResult::Events);
    EXPECT_EQ(ev, std::uint32_t(EV_TXEMPTY));
    EXPECT_TRUE(dev.DrainHelperRunning());
    EXPECT_EQ(MasterRead(3), "ok\n");
    EXPECT_EQ(dev.Close(), 0);
    EXPECT_FALSE(dev.DrainHelperRunning());
}

// A read is served from the receive queue when it holds enough, and from the kernel as well
// when it does not: bytes still in the kernel are neither lost nor reordered.
TEST_F(TtyDeviceTest, ReadsTakeQueuedBytesFirstThenTheKernels) {
    OpenConfigured();
    MasterWrite("0123456789");
    EXPECT_EQ(AwaitQueued(10), 10u);
    MasterWrite("abcde");  // stays in the kernel until someone reads it
    pollfd p{slave_, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 10000), 1);
    EXPECT_EQ(Read(4), "0123");
    EXPECT_EQ(Read(8), "456789ab");
    std::uint32_t errors = 0, queued = 0;
    EXPECT_EQ(dev_.ClearCommError(errors, queued), 0);
    EXPECT_EQ(queued, 3u);
    EXPECT_EQ(Read(10), "cde");
}

TEST_F(TtyDeviceTest, DiscardsNulsWhenAsked) {
    OpenConfigured();
    DeviceControlBlock dcb;
    dcb.BaudRate = 9600;
    dcb.fNull = true;
    ASSERT_EQ(dev_.SetCommState(dcb), 0);
    MasterWrite(std::string("a\0b\0\xff" "c", 6));
    EXPECT_EQ(AwaitQueued(4), 4u);
    EXPECT_EQ(Read(10), "ab\xff" "c");
}

TEST_F(TtyDeviceTest, CustomRatesAreExact) {
    ASSERT_EQ(dev_.Open(path_), 0);
    for (std::uint32_t rate : {250000u, 12345u}) {
        DeviceControlBlock dcb;
        dcb.BaudRate = rate;
        ASSERT_EQ(dev_.SetCommState(dcb), 0);
        tty::Termios2 t;
        ASSERT_EQ(tty::GetTermios2(slave_, t), 0);
        EXPECT_EQ(t.ospeed, rate);
        EXPECT_EQ(t.ispeed, rate);
        EXPECT_EQ(t.cflag & tty::kCBAUD, tty::kBOTHER);
    }
}

TEST_F(TtyDeviceTest, LineFormatAndFlowFlagsLand) {
    ASSERT_EQ(dev_.Open(path_), 0);
    DeviceControlBlock dcb;
    dcb.BaudRate = 19200;
    dcb.Parity = 3;  // mark
    dcb.StopBits = 2;
    dcb.fParity = true;
    dcb.fOutxCtsFlow = true;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;  // TIOCMBIS answers ENOTTY on a pty: not a failure
    dcb.fOutX = dcb.fInX = true;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    ASSERT_EQ(dev_.SetCommState(dcb), 0);
    tty::Termios2 t;
    ASSERT_EQ(tty::GetTermios2(slave_, t), 0);
    // (A pty forces CS8 and clears PARENB itself; CMSPAR and PARODD stay.)
    EXPECT_TRUE(t.cflag & CMSPAR);
    EXPECT_TRUE(t.cflag & PARODD);
    EXPECT_TRUE(t.cflag & CSTOPB);
    EXPECT_TRUE(t.cflag & CRTSCTS);
    EXPECT_TRUE(t.cflag & CLOCAL);
    EXPECT_FALSE(t.cflag & HUPCL);
    EXPECT_EQ(t.iflag & (INPCK | PARMRK | IXON | IXOFF | IXANY), tcflag_t(INPCK | PARMRK | IXON | IXOFF));
    EXPECT_EQ(t.cc[VSTART], 0x11);
    EXPECT_EQ(t.cc[VSTOP], 0x13);
    EXPECT_EQ(t.lflag & (ICANON | ECHO | ISIG), 0u);

    dcb.Parity = 4;  // space
    dcb.fParity = dcb.fOutX = dcb.fInX = dcb.fOutxCtsFlow = false;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.StopBits = 0;
    ASSERT_EQ(dev_.SetCommState(dcb), 0);
    ASSERT_EQ(tty::GetTermios2(slave_, t), 0);
    EXPECT_TRUE(t.cflag & CMSPAR);
    EXPECT_FALSE(t.cflag & (PARODD | CSTOPB | CRTSCTS));
    EXPECT_EQ(t.iflag & (INPCK | IXON | IXOFF), 0u);

    DeviceControlBlock bad = dcb;
    bad.ByteSize = 9;
    EXPECT_EQ(dev_.SetCommState(bad), EINVAL);
    bad = dcb;
    bad.BaudRate = 0;
    EXPECT_EQ(dev_.SetCommState(bad), EINVAL);
    bad = dcb;
    bad.fOutX = true;
    bad.XonChar = bad.XoffChar = 0x11;
    EXPECT_EQ(dev_.SetCommState(bad), EINVAL);
}

TEST_F(TtyDeviceTest, EventCharacterRaisesRxFlag) {
    OpenConfigured(4096, EV_RXCHAR | EV_RXFLAG);
    std::uint32_t ev = 0;
    MasterWrite("ok");
    EXPECT_EQ(AwaitQueued(2, &ev), 2u);
    EXPECT_EQ(ev, std::uint32_t(EV_RXCHAR));
    MasterWrite("\n");
    ev = 0;
    EXPECT_EQ(AwaitQueued(3, &ev), 3u);
    EXPECT_EQ(ev, std::uint32_t(EV_RXCHAR | EV_RXFLAG));
}

TEST_F(TtyDeviceTest, Rx80FullAtEightyPercent) {
    OpenConfigured(100, EV_RXCHAR | EV_RX80FULL);
    std::uint32_t ev = 0;
    MasterWrite(std::string(79, 'x'));
    EXPECT_EQ(AwaitQueued(79, &ev), 79u);
    EXPECT_FALSE(ev & EV_RX80FULL);
    MasterWrite("y");
    std::uint32_t got = 0;
    ASSERT_EQ(dev_.WaitCommEvent(got, stop_), WaitResult::Events);
    EXPECT_TRUE(got & EV_RX80FULL);
}

// With the receive queue full and more bytes in the kernel, a wait must sleep (poll() would
// report POLLIN at once if it still watched the descriptor), and wake once room is made.
TEST_F(TtyDeviceTest, FullQueueWaitSleeps) {
    OpenConfigured(16, EV_RXCHAR);
    MasterWrite(std::string(40, 'q'));
    EXPECT_EQ(AwaitQueued(16), 16u);

    const pid_t self = ::gettid();
    std::thread stopper([&] {
        EXPECT_TRUE(AwaitAsleep(self));
        stop_.Set();
    });
    const std::uint64_t before = dev_.PollWakeups();
    std::uint32_t ev = 0;
    EXPECT_EQ(dev_.WaitCommEvent(ev, stop_), WaitResult::Stopped);
    stopper.join();
    EXPECT_LE(dev_.PollWakeups() - before, 2u);
    stop_.Reset();

    EXPECT_EQ(Read(16), std::string(16, 'q'));
    EXPECT_EQ(AwaitQueued(16), 16u);  // more came in once there was room
}

TEST_F(TtyDeviceTest, HangUpReportedOnceThenWaitsSleep) {
    OpenConfigured(4096, EV_RXCHAR | EV_ERR | EV_RLSD);
    ::close(master_);
    master_ = -1;
    std::uint32_t ev = 0;
    ASSERT_EQ(dev_.WaitCommEvent(ev, stop_), WaitResult::Events);
    EXPECT_EQ(ev, std::uint32_t(EV_ERR));
    std::uint32_t errors = 0, queued = 0;
    EXPECT_EQ(dev_.ClearCommError(errors, queued), 0);
    EXPECT_EQ(errors, std::uint32_t(CE_IOE));
    EXPECT_EQ(dev_.ClearCommError(errors, queued), 0);
    EXPECT_EQ(errors, 0u);

    const pid_t self = ::gettid();
    std::thread stopper([&] {
        EXPECT_TRUE(AwaitAsleep(self));
        stop_.Set();
    });
    const std::uint64_t before = dev_.PollWakeups();
    EXPECT_EQ(dev_.WaitCommEvent(ev, stop_), WaitResult::Stopped);
    stopper.join();
    EXPECT_LE(dev_.PollWakeups() - before, 2u);

    std::uint8_t buf[4] = {1, 2, 3, 4};
    AsyncOp op;
    EXPECT_EQ(dev_.BeginWrite(buf, 4, op), EIO);
    EXPECT_EQ(dev_.BeginRead(buf, 4, op), EIO);
    EXPECT_EQ(dev_.Purge(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR), 0);
    EXPECT_EQ(dev_.Close(), 0);
    EXPECT_FALSE(dev_.IsOpen());
}

TEST_F(TtyDeviceTest, WriteTimeoutGivesShortCount) {
    OpenConfigured();
    ASSERT_EQ(dev_.SetCommTimeouts({kNoLimit, 0, 0, 0, 20}), 0);
    const std::vector<std::uint8_t> big(1 << 20, 'w');  // far more than a pty holds
    AsyncOp op;
    ASSERT_EQ(dev_.BeginWrite(big.data(), std::uint32_t(big.size()), op), 0);
    EXPECT_TRUE(op.pending);
    std::uint32_t n = 0;
    EXPECT_EQ(dev_.CompleteOp(op, n), 0);
    EXPECT_GT(n, 0u);
    EXPECT_LT(n, big.size());
}

TEST_F(TtyDeviceTest, PurgeAbortsPendingWriteFromAnotherThread) {
    OpenConfigured();
    ASSERT_EQ(dev_.SetCommTimeouts({kNoLimit, 0, 0, 0, 0}), 0);  // no write limit
    const std::vector<std::uint8_t> big(1 << 20, 'w');
    AsyncOp op;
    ASSERT_EQ(dev_.BeginWrite(big.data(), std::uint32_t(big.size()), op), 0);
    const pid_t self = ::gettid();
    std::thread purger([&] {
        EXPECT_TRUE(AwaitAsleep(self));
        EXPECT_EQ(dev_.Purge(PURGE_TXABORT), 0);
    });
    std::uint32_t n = 0;
    EXPECT_EQ(dev_.CompleteOp(op, n), ECANCELED);
    purger.join();
    EXPECT_LT(n, big.size());
}

TEST_F(TtyDeviceTest, PurgeAbortsPendingReadFromAnotherThread) {
    OpenConfigured();
    ASSERT_EQ(dev_.SetCommTimeouts({0, 0, 0, 0, 0}), 0);  // wait for the full count
    MasterWrite("ab");
    std::uint8_t buf[10];
    AsyncOp op;
    ASSERT_EQ(dev_.BeginRead(buf, 10, op), 0);
    const pid_t self = ::gettid();
    std::thread purger([&] {
        EXPECT_TRUE(AwaitAsleep(self));
        EXPECT_EQ(dev_.Purge(PURGE_RXABORT), 0);
    });
    std::uint32_t n = 0;
    EXPECT_EQ(dev_.CompleteOp(op, n), ECANCELED);
    purger.join();
    EXPECT_LE(n, 2u);
}

TEST_F(TtyDeviceTest, ReadTimeouts) {
    OpenConfigured();
    std::uint8_t buf[10];
    std::uint32_t n = 99;
    AsyncOp op;

    // Total time-out, nothing arrives: 0 bytes, no error.
    ASSERT_EQ(dev_.SetCommTimeouts({0, 0, 20, 0, 0}), 0);
    ASSERT_EQ(dev_.BeginRead(buf, 10, op), 0);
    EXPECT_EQ(dev_.CompleteOp(op, n), 0);
    EXPECT_EQ(n, 0u);

    // "Return when any byte is there".
    ASSERT_EQ(dev_.SetCommTimeouts({kNoLimit, kNoLimit, 10000, 0, 0}), 0);
    MasterWrite("x");
    ASSERT_EQ(dev_.BeginRead(buf, 10, op), 0);
    EXPECT_EQ(dev_.CompleteOp(op, n), 0);
    EXPECT_EQ(n, 1u);

    // Interval time-out ends a read once the bytes stop.
    ASSERT_EQ(dev_.SetCommTimeouts({20, 0, 0, 0, 0}), 0);
    MasterWrite("abc");
    ASSERT_EQ(dev_.BeginRead(buf, 10, op), 0);
    EXPECT_EQ(dev_.CompleteOp(op, n), 0);
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 3), "abc");
}

}  // namespace

namespace {

// Writes complete in the order they were begun, whichever the caller completes first.
TEST_F(TtyDeviceTest, OverlappedWritesReachTheWireInTheOrderBegun) {
    OpenConfigured();
    ASSERT_EQ(dev_.SetCommTimeouts({kNoLimit, 0, 0, 0, 0}), 0);  // no write limit
    const std::string first(256 << 10, 'a');  // more than a pty holds: stays pending
    const std::string second = "ZZZZZZZZ";
    AsyncOp a, b;
    ASSERT_EQ(dev_.BeginWrite(reinterpret_cast<const std::uint8_t*>(first.data()),
                              std::uint32_t(first.size()), a), 0);
    ASSERT_TRUE(a.pending);
    ASSERT_EQ(dev_.BeginWrite(reinterpret_cast<const std::uint8_t*>(second.data()),
                              std::uint32_t(second.size()), b), 0);
    std::string wire;
    std::thread farEnd([&] { wire = MasterRead(first.size() + second.size()); });
    std::uint32_t nb = 0, na = 0;
    EXPECT_EQ(dev_.CompleteOp(b, nb), 0);
    EXPECT_EQ(dev_.CompleteOp(a, na), 0);
    farEnd.join();
    EXPECT_EQ(na, first.size());
    EXPECT_EQ(nb, second.size());
    EXPECT_TRUE(wire == first + second) << "the later write overtook the earlier one";
}

// Close wakes a wait, a read and a write that sleep on the device, and closes the descriptors
// only once they have left.
TEST_F(TtyDeviceTest, CloseWakesEveryOperationInFlight) {
    OpenConfigured();
    ASSERT_EQ(dev_.SetCommTimeouts({0, 0, 0, 0, 0}), 0);  // full-count reads, no write limit
    const std::vector<std::uint8_t> big(1 << 20, 'w');
    AsyncOp write;
    ASSERT_EQ(dev_.BeginWrite(big.data(), std::uint32_t(big.size()), write), 0);

    std::mutex mu;
    std::condition_variable cv;
    int left = 0;
    std::vector<std::atomic<pid_t>> tids(3);
    std::vector<std::string> results(3);
    auto run = [&](int i, auto body) {
        return std::thread([&, i, body] {
            {
                std::lock_guard lk(mu);
                tids[std::size_t(i)] = ::gettid();
                cv.notify_all();
            }
            results[std::size_t(i)] = body();
            std::lock_guard lk(mu);
            ++left;
            cv.notify_all();
        });
    };
    std::thread threads[] = {
        run(0, [&] {
            std::uint32_t ev = 0;
            return dev_.WaitCommEvent(ev, stop_) == WaitResult::WaitFailed ? "ok" : "wait";
        }),
        run(1, [&] {
            std::uint8_t buf[10];
            AsyncOp op;
            std::uint32_t n = 0;
            if (dev_.BeginRead(buf, 10, op) != 0) return "begin";
            return dev_.CompleteOp(op, n) == EBADF ? "ok" : "read";
        }),
        run(2, [&] {
            std::uint32_t n = 0;
            return dev_.CompleteOp(write, n) == EBADF ? "ok" : "write";
        }),
    };
    for (auto& tid : tids) {
        {
            std::unique_lock lk(mu);
            ASSERT_TRUE(cv.wait_for(lk, std::chrono::seconds(10), [&] { return tid.load() != 0; }));
        }
        ASSERT_TRUE(AwaitAsleep(tid.load()));
    }
    EXPECT_EQ(dev_.Close(), 0);
    std::unique_lock lk(mu);
    if (!cv.wait_for(lk, std::chrono::seconds(10), [&] { return left == 3; })) {
        ADD_FAILURE() << "an operation still sleeps on the closed device";
        std::quick_exit(1);  // the sleepers would hang the test's end
    }
    lk.unlock();
    for (auto& t : threads) t.join();
    EXPECT_EQ(results, (std::vector<std::string>{"ok", "ok", "ok"}));
}

}  // namespace

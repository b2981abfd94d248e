#pragma once
// The POSIX tty implementation of Device: termios/ioctl calls with the effect the port expects
// of each device operation. Threads: the caller's threads (typically the GUI thread for
// writes, reads and queries, and one event thread in WaitCommEvent), plus at most two helpers
// per open device: the drain helper (started by the first write; latches EV_TXEMPTY once the
// output is written and tcdrain() returned) and the line helper (started by SetCommMask with a
// line event; sleeps in TIOCMIWAIT). Both end with Close, interrupted by HelperSignal().
// A pseudo-terminal needs no drain helper: it has no transmitter, so its output queue is
// empty the moment write() has handed the bytes over, and EV_TXEMPTY is latched right there.
// All shared state is guarded by one mutex; no call holds it while it sleeps.
//
// Close may run while other threads are inside WaitCommEvent or CompleteOp: it wakes them,
// waits for them to leave (they fail with EBADF or WaitFailed) and only then closes the
// descriptors. Writes reach the wire in the order they were begun.

#include <poll.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "Device.h"
#include "RxBuffer.h"

namespace device {

class TtyDevice final : public Device {
public:
    // How EV_TXEMPTY is found. Automatic: by the drain helper, except on a pseudo-terminal,
    // where the write itself empties the output queue. Tests force the helper on a pty.
    enum class TxEmpty { Automatic, DrainHelper };

    explicit TtyDevice(TxEmpty txEmpty = TxEmpty::Automatic);
    ~TtyDevice() override;
    TtyDevice(const TtyDevice&) = delete;
    TtyDevice& operator=(const TtyDevice&) = delete;

    SysError Open(const std::string& path) override;
    SysError Close() override;
    bool IsOpen() const override;
    SysError SetupComm(std::uint32_t inSize, std::uint32_t outSize) override;
    SysError SetCommState(const DeviceControlBlock& dcb) override;
    SysError SetCommTimeouts(const CommTimeouts& timeouts) override;
    SysError BeginWrite(const std::uint8_t* data, std::uint32_t count, AsyncOp& op) override;
    SysError BeginRead(std::uint8_t* data, std::uint32_t count, AsyncOp& op) override;
    SysError CompleteOp(AsyncOp& op, std::uint32_t& transferred) override;
    SysError Purge(std::uint32_t flags) override;
    SysError ClearCommError(std::uint32_t& errors, std::uint32_t& inQueue) override;
    SysError GetModemStatus(std::uint32_t& status) override;
    SysError SetCommMask(std::uint32_t mask) override;
    WaitResult WaitCommEvent(std::uint32_t& events, const StopEvent& stop) override;

    // For tests: how many times the poll() of WaitCommEvent has returned (a wait that never
    // spins returns from poll once per event batch, wake-up or stop).
    std::uint64_t PollWakeups() const { return pollWakeups_.load(); }
    // For tests: whether the open device has a transmitter, so that EV_TXEMPTY waits for the
    // drain helper (false for a pseudo-terminal, unless the helper is forced).
    bool HasTransmitter() const;
    // For tests: whether the drain helper thread is running.
    bool DrainHelperRunning() const;

    // The real-time signal (SIGRTMIN + 6) that interrupts the helpers' blocking ioctls. Its
    // handler is installed once per process, without SA_RESTART, and does nothing.
    static int HelperSignal();

    static constexpr std::uint32_t kDefaultQueueSize = 4096;     // before SetupComm
    static constexpr std::uint32_t kMaxQueueSize = 64u << 20;    // larger requests: EINVAL

private:
    struct Helper {
        std::thread thread;
        bool started = false;
        bool stop = false;
        bool done = false;
    };
    struct Counters {  // the TIOCGICOUNT fields we use
        int cts = 0, dsr = 0, rng = 0, dcd = 0;
        int frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
    };
    using Lock = std::unique_lock<std::mutex>;

    // All of these run with mu_ held.
    void Latch(std::uint32_t events);
    void AddErrors(std::uint32_t ceFlags);
    void WakeWaiter();
    void HangUp();
    void Pull();
    void Deliver(const std::uint8_t* data, std::size_t n);
    void CheckCounters(const tty::RxMarks& marks);
    std::uint32_t CountersToEvents(const Counters& now, std::uint32_t& ceFlags);
    bool ReadCounters(Counters& out);
    bool DsrOn();
    SysError SetModemBit(int bit, bool on);
    std::uint32_t TakeFromQueue(AsyncOp& op);
    void NoteWritten();
    void OutputSettled();
    void StartHelper(Helper& h, void (TtyDevice::*body)(int));
    void StopHelper(Lock& lk, Helper& h);
    void CompleteWrite(Lock& lk, AsyncOp& op);
    void FinishHeadWrite(SysError error);
    void FailQueuedWrites(SysError error);
    void CompleteRead(Lock& lk, AsyncOp& op);
    void ResetState();
    // Polls with mu_ released, counted in `sleepers` (waiters_, readers_ or writers_) so that
    // Close wakes this thread and waits for it to leave before closing descriptors. Returns
    // poll's result; `error` gets its errno.
    int SleepInPoll(Lock& lk, pollfd* fds, nfds_t count, int timeout, int& sleepers,
                    int& error);

    // Helper thread bodies (take mu_ themselves).
    void DrainLoop(int fd);
    void LineLoop(int fd);

    mutable std::mutex mu_;
    std::condition_variable cv_;  // drain requests, helper ends, pending-write count
    const TxEmpty txEmpty_;
    int fd_ = -1;
    bool transmitter_ = true;  // false for a pseudo-terminal (see TxEmpty)
    bool closing_ = false;
    bool hungUp_ = false;
    bool modemLines_ = true;  // false once TIOCM* answered ENOTTY/EINVAL (pty)
    bool countersOk_ = true;  // false once TIOCGICOUNT answered ENOTTY/EINVAL
    Counters counters_;

    tty::RxQueue queue_{kDefaultQueueSize};
    tty::RxDecoder decoder_;
    DeviceControlBlock dcb_;
    CommTimeouts timeouts_;
    std::uint32_t outSize_ = kDefaultQueueSize;

    std::uint32_t mask_ = 0;
    std::uint32_t latched_ = 0;
    std::uint32_t errors_ = 0;

    std::uint64_t txEpoch_ = 1;  // PURGE_TXABORT generation
    std::uint64_t rxEpoch_ = 1;  // PURGE_RXABORT generation
    int waiters_ = 0;            // threads asleep in WaitCommEvent's poll
    int readers_ = 0;            // threads asleep in a pending read
    int writers_ = 0;            // threads asleep in a pending write
    int wakeFd_ = -1;            // eventfd: wakes waiters (events latched, room regained)
    int rxWakeFd_ = -1;          // eventfd: wakes pending reads (data queued, RX abort)
    int txWakeFd_ = -1;          // eventfd: wakes pending writes (TX abort, hang-up)

    std::deque<AsyncOp*> writeQueue_;  // begun writes with bytes not yet handed over, in order
    std::uint64_t writeSeq_ = 0;       // counts write() calls that moved bytes
    bool drainRequested_ = false;
    bool rtsToggleOn_ = false;
    Helper drain_;
    Helper lines_;

    std::atomic<std::uint64_t> pollWakeups_{0};
};

}  // namespace device

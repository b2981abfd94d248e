#pragma once
// A scriptable stand-in for the serial device, for tests of the port and everything above
// it. Thread-safe: the port's GUI thread and its event thread may use it while the test
// thread scripts it. Every call is recorded by name, in order; every call can be made to fail
// with any errno; received bytes, line changes, breaks, errors, raw event bits and a hang-up
// can be injected; writes land in a sink whose behaviour is chosen per test.
//
// Events are latched whatever the mask; a wait reports the latched bits that are in the mask
// (SetCommMask), plus latched bits outside the ten the port knows (EV_PERR 0x0200, 0x0800,
// ...), which are passed through so that the port can be shown to ignore them. Reported bits
// are cleared. Waits block in poll() on the stop event and an internal eventfd; they never
// spin, and return at once when the stop event is set.
//
// Reads ignore the time-outs: BeginRead takes what is queued and completes at once.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "Device.h"

namespace device {

class FakeDevice final : public Device {
public:
    enum class Call {
        Open,
        Close,
        SetupComm,
        SetCommState,
        SetCommTimeouts,
        BeginWrite,
        BeginRead,
        CompleteOp,
        Purge,
        ClearCommError,
        GetModemStatus,
        SetCommMask,
        WaitCommEvent,
    };
    static const char* Name(Call call);  // "Open", "SetupComm", ...

    enum class WriteMode {
        Complete,           // BeginWrite moves every byte at once (default)
        Pending,            // BeginWrite reports pending; CompleteOp completes it in full
        Hold,               // pending; CompleteOp blocks until ReleaseWrites(), a
                            // PURGE_TXABORT (ECANCELED, 0 bytes), a hang-up (EIO) or Close
        Short,              // pending; CompleteOp completes with min(shortCount, n), no error
        ErrorOnCompletion,  // pending; CompleteOp fails with the given errno, 0 bytes
    };

    // Event bits the port knows; others are passed through by waits whatever the mask.
    static constexpr std::uint32_t kKnownEvents = EV_RXCHAR | EV_RXFLAG | EV_TXEMPTY | EV_CTS |
                                                  EV_DSR | EV_RLSD | EV_BREAK | EV_ERR |
                                                  EV_RING | EV_RX80FULL;

    FakeDevice();
    ~FakeDevice() override;
    FakeDevice(const FakeDevice&) = delete;
    FakeDevice& operator=(const FakeDevice&) = delete;

    // Device.
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

    // --- Scripting failures. A failing call is recorded, returns the errno and has no other
    // effect (a failed Open leaves the device closed). For WaitCommEvent any errno means
    // WaitResult::WaitFailed. One-shot failures are used first, in the order given.
    void Fail(Call call, SysError error);  // every later call; error 0 clears
    void FailOnce(Call call, SysError error);
    void ClearFailures();
    // The next waits return these results, in order (before anything else is looked at).
    void ScriptWait(WaitResult result, std::uint32_t events = 0);

    // --- Scripting the line.
    // Queues bytes (kept to the queue size of SetupComm, default 4096; the rest is dropped
    // with CE_RXOVER) and latches EV_RXCHAR, EV_RXFLAG when the DCB's EvtChar is among them
    // and EV_RX80FULL when the queue reaches 80 % of its size.
    void InjectReceived(std::string_view bytes);
    void InjectReceived(const std::vector<std::uint8_t>& bytes);
    void SetModemLines(std::uint32_t msBits);  // MS_* bits; EV_CTS/EV_DSR/EV_RLSD for changes
    void Ring();                               // EV_RING
    void Break();                              // EV_BREAK and CE_BREAK
    void LineError(std::uint32_t ceFlags);     // EV_ERR and the flags
    void InjectEvents(std::uint32_t bits);     // raw bits, unknown ones included
    // The device goes away: CE_IOE and EV_ERR once; writes, and reads with nothing queued,
    // fail with EIO; held writes end with EIO. Close still works.
    void HangUp();

    // --- The write sink.
    void SetWriteMode(WriteMode mode, std::uint32_t shortCount = 0, SysError error = EIO);
    void ReleaseWrites();           // completes writes blocked in WriteMode::Hold
    void SetAutoTxEmpty(bool on);   // latch EV_TXEMPTY when a write completes (default on)
    std::vector<std::uint8_t> Written() const;
    std::string WrittenText() const;
    void ClearWritten();

    // --- Inspection.
    std::vector<std::string> Calls() const;         // every call, in order
    std::vector<std::string> CallsExceptWaits() const;
    std::size_t CallCount(Call call) const;
    void ClearCalls();
    std::string OpenPath() const;                    // path of the last successful Open
    DeviceControlBlock Dcb() const;                  // last DCB accepted
    CommTimeouts Timeouts() const;                   // last time-outs accepted
    std::uint32_t InSize() const;                    // last queue sizes accepted
    std::uint32_t OutSize() const;
    std::uint32_t Mask() const;                      // last event mask accepted
    std::vector<std::uint32_t> Purges() const;       // flags of every accepted Purge
    std::uint32_t Queued() const;                    // bytes waiting to be read
    std::uint32_t LatchedEvents() const;             // latched, not yet reported
    std::uint64_t WakeUps() const;                   // times WaitCommEvent returned
    // Block until WakeUps() >= n / a thread is asleep in WaitCommEvent / a write is held.
    // False when the time-out ran out first.
    bool AwaitWakeUps(std::uint64_t n, std::chrono::milliseconds timeout) const;
    bool AwaitWaiting(std::chrono::milliseconds timeout) const;
    bool AwaitHeldWrite(std::chrono::milliseconds timeout) const;

private:
    using Lock = std::unique_lock<std::mutex>;
    SysError Enter(Call call);  // records the call; returns the scripted failure, if any
    void Latch(std::uint32_t bits);
    void Changed();  // wakes waiters and inspectors
    void CompleteWriteBytes(AsyncOp& op, std::uint32_t count);

    mutable std::mutex mu_;
    mutable std::condition_variable cv_;
    int wakeFd_ = -1;

    std::vector<Call> calls_;
    std::map<Call, SysError> fail_;
    std::map<Call, std::deque<SysError>> failOnce_;
    std::deque<std::pair<WaitResult, std::uint32_t>> scriptedWaits_;

    bool open_ = false;
    bool hungUp_ = false;
    std::string path_;
    DeviceControlBlock dcb_;
    CommTimeouts timeouts_;
    std::uint32_t inSize_ = 4096;
    std::uint32_t outSize_ = 4096;
    std::uint32_t mask_ = 0;
    std::uint32_t latched_ = 0;
    std::uint32_t errors_ = 0;
    std::uint32_t modemLines_ = 0;
    std::vector<std::uint32_t> purges_;
    std::deque<std::uint8_t> queue_;

    WriteMode writeMode_ = WriteMode::Complete;
    std::uint32_t shortCount_ = 0;
    SysError writeError_ = EIO;
    bool autoTxEmpty_ = true;
    std::uint64_t txEpoch_ = 1;
    std::uint64_t releaseEpoch_ = 1;
    int heldWrites_ = 0;
    std::vector<std::uint8_t> written_;

    int waiting_ = 0;
    std::uint64_t wakeUps_ = 0;
};

}  // namespace device

#pragma once
// The device layer: one narrow interface whose operations mirror the serial device calls the
// port object makes, one POSIX tty implementation, and a scriptable fake for tests. This is
// the only place that knows about the operating system; errno values come back unchanged as
// the system error numbers the port puts into its messages.

#include <cstdint>
#include <memory>
#include <string>

namespace device {

// System error number of a failed call (an errno value); 0 means success.
using SysError = int;

// Device event bits. The values are fixed: the port's event sets map onto them one to one.
enum EventBit : std::uint32_t {
    EV_RXCHAR = 0x0001,    // a byte was placed in the receive queue
    EV_RXFLAG = 0x0002,    // the event character was received
    EV_TXEMPTY = 0x0004,   // the output queue ran empty
    EV_CTS = 0x0008,       // CTS changed
    EV_DSR = 0x0010,       // DSR changed
    EV_RLSD = 0x0020,      // carrier detect changed
    EV_BREAK = 0x0040,     // break on input
    EV_ERR = 0x0080,       // line-status error (frame, overrun, parity, I/O)
    EV_RING = 0x0100,      // ring indicator
    EV_PERR = 0x0200,      // printer error: never produced here
    EV_RX80FULL = 0x0400,  // the receive queue is 80 % full
};

// Error flags reported (and cleared) by ClearCommError.
enum ErrorFlag : std::uint32_t {
    CE_RXOVER = 0x0001,
    CE_OVERRUN = 0x0002,
    CE_RXPARITY = 0x0004,
    CE_FRAME = 0x0008,
    CE_BREAK = 0x0010,
    CE_TXFULL = 0x0100,
    CE_IOE = 0x0400,  // the device failed or went away (hang-up)
    CE_MODE = 0x8000,
};

// Modem input lines reported by GetModemStatus.
enum ModemBit : std::uint32_t {
    MS_CTS_ON = 0x0010,
    MS_DSR_ON = 0x0020,
    MS_RING_ON = 0x0040,
    MS_RLSD_ON = 0x0080,
};

// Purge flags.
enum PurgeFlag : std::uint32_t {
    PURGE_TXABORT = 0x0001,  // end a pending write at once
    PURGE_RXABORT = 0x0002,  // end a pending read at once
    PURGE_TXCLEAR = 0x0004,  // empty the output queue
    PURGE_RXCLEAR = 0x0008,  // empty the receive queue
};

enum DtrControl : std::uint8_t {
    DTR_CONTROL_DISABLE = 0,
    DTR_CONTROL_ENABLE = 1,
    DTR_CONTROL_HANDSHAKE = 2,
};

enum RtsControl : std::uint8_t {
    RTS_CONTROL_DISABLE = 0,
    RTS_CONTROL_ENABLE = 1,
    RTS_CONTROL_HANDSHAKE = 2,
    RTS_CONTROL_TOGGLE = 3,
};

// Line format and flow control, field by field as the port fills it.
struct DeviceControlBlock {
    std::uint32_t DCBlength = 28;
    std::uint32_t BaudRate = 0;  // bit/s, any value (custom rates included)
    bool fBinary = false;
    bool fParity = false;  // check parity on input
    bool fOutxCtsFlow = false;
    bool fOutxDsrFlow = false;
    std::uint8_t fDtrControl = DTR_CONTROL_DISABLE;
    bool fDsrSensitivity = false;
    bool fTXContinueOnXoff = false;
    bool fOutX = false;
    bool fInX = false;
    bool fErrorChar = false;  // replace bytes with parity errors by ErrorChar
    bool fNull = false;       // discard received zero bytes
    std::uint8_t fRtsControl = RTS_CONTROL_DISABLE;
    bool fAbortOnError = false;
    std::uint16_t XonLim = 0;
    std::uint16_t XoffLim = 0;
    std::uint8_t ByteSize = 8;  // 5..8
    std::uint8_t Parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
    std::uint8_t StopBits = 0;  // 0 one, 1 one and a half, 2 two
    char XonChar = 0;
    char XoffChar = 0;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;

    bool operator==(const DeviceControlBlock&) const = default;
};

inline constexpr std::uint32_t kNoLimit = 0xFFFFFFFFu;  // MAXDWORD

// Time-outs in milliseconds. ReadIntervalTimeout == kNoLimit with both read totals 0 makes a
// read return at once with what has arrived. Write totals both 0: no limit.
struct CommTimeouts {
    std::uint32_t ReadIntervalTimeout = 0;
    std::uint32_t ReadTotalTimeoutMultiplier = 0;
    std::uint32_t ReadTotalTimeoutConstant = 0;
    std::uint32_t WriteTotalTimeoutMultiplier = 0;
    std::uint32_t WriteTotalTimeoutConstant = 0;

    bool operator==(const CommTimeouts&) const = default;
};

// A manual-reset event that can end a device wait at once (an eventfd). Setting it wakes any
// wait it was handed to; it stays set until Reset.
class StopEvent {
public:
    StopEvent();
    ~StopEvent();
    StopEvent(const StopEvent&) = delete;
    StopEvent& operator=(const StopEvent&) = delete;

    void Set();
    void Reset();
    bool IsSet() const;
    int Fd() const { return fd_; }

private:
    int fd_ = -1;
};

// The record of one read or write. Owned by the caller; only the device writes its fields.
// A record that never started an operation completes at once with 0 bytes.
struct AsyncOp {
    enum class Kind { None, Write, Read };
    Kind kind = Kind::None;
    const std::uint8_t* writeData = nullptr;
    std::uint8_t* readData = nullptr;
    std::uint32_t length = 0;       // bytes asked for
    std::uint32_t transferred = 0;  // bytes moved so far
    bool pending = false;           // started and not yet complete
    SysError error = 0;             // failure met while pending, reported on completion

    // Device-private bookkeeping: set by BeginWrite/BeginRead, read by CompleteOp. Callers
    // leave it alone (a zero-initialised record is fine).
    std::uint64_t abortEpoch = 0;  // purge generation the operation started in
    std::int64_t startedNs = 0;    // steady-clock start time, for the total time-outs

    // Readies the record for a new transfer; what it moved before is forgotten.
    void Start(Kind k, const std::uint8_t* write, std::uint8_t* read, std::uint32_t count,
               std::uint64_t epoch, std::int64_t now) {
        kind = k;
        writeData = write;
        readData = read;
        length = count;
        transferred = 0;
        pending = false;
        error = 0;
        abortEpoch = epoch;
        startedNs = now;
    }
};

// Outcome of one wait for device events.
enum class WaitResult {
    Events,        // events in the mask occurred; `events` holds them (latched bits cleared)
    Stopped,       // the stop event was set
    ResultFailed,  // the wait ended but its result could not be read; nothing to deliver
    WaitFailed,    // the wait itself failed; the caller should stop waiting
};

class Device {
public:
    virtual ~Device() = default;

    // Opens the device for exclusive use (another open of it, here or elsewhere, fails).
    virtual SysError Open(const std::string& path) = 0;
    virtual SysError Close() = 0;
    virtual bool IsOpen() const = 0;

    // Requested queue sizes; the receive queue the layer keeps is sized by inSize.
    virtual SysError SetupComm(std::uint32_t inSize, std::uint32_t outSize) = 0;
    virtual SysError SetCommState(const DeviceControlBlock& dcb) = 0;
    virtual SysError SetCommTimeouts(const CommTimeouts& timeouts) = 0;

    // Start a transfer with the caller's buffer (which must stay valid until completion).
    // Returns 0 when started; op.transferred holds what moved at once and op.pending tells
    // whether more is to come. Any other result is the system error and nothing is pending.
    virtual SysError BeginWrite(const std::uint8_t* data, std::uint32_t count, AsyncOp& op) = 0;
    virtual SysError BeginRead(std::uint8_t* data, std::uint32_t count, AsyncOp& op) = 0;
    // Blocks until the operation is complete (its time-outs run out at the latest, or a purge
    // aborts it) and gives the total count moved. A write that timed out completes with its
    // short count and no error.
    virtual SysError CompleteOp(AsyncOp& op, std::uint32_t& transferred) = 0;

    virtual SysError Purge(std::uint32_t flags) = 0;
    // Error flags since the last call (then cleared) and bytes waiting in the receive queue.
    virtual SysError ClearCommError(std::uint32_t& errors, std::uint32_t& inQueue) = 0;
    // MS_* bits of the lines that are on. A device without modem lines reports 0.
    virtual SysError GetModemStatus(std::uint32_t& status) = 0;

    // Selects the events a wait reports. Events are latched between waits.
    virtual SysError SetCommMask(std::uint32_t mask) = 0;
    // Sleeps until a selected event has occurred or `stop` is set. Never spins: a device that
    // has gone away reports EV_ERR (with CE_IOE) once and then sleeps until stopped.
    virtual WaitResult WaitCommEvent(std::uint32_t& events, const StopEvent& stop) = 0;
};

// The POSIX tty implementation.
std::unique_ptr<Device> CreateTtyDevice();

// The device path for a port name: an absolute path is used as is; "COMn" (any case, n a
// decimal number >= 1 without leading zeros) is /dev/ttyS(n-1); any other name is /dev/NAME,
// subfolders allowed ("serial/by-id/..."). A name with a ".." component or a NUL byte, and the
// empty name, give the empty path, which no open accepts (ENOENT): a name never leaves /dev.
std::string DevicePath(const std::string& port);

}  // namespace device

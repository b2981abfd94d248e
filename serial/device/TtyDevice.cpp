#include "TtyDevice.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <system_error>

#include "TermiosBits.h"

// What the kernel cannot do for us, and what is done about it here:
// - Event character: EV_RXFLAG when EvtChar is among the bytes placed in the receive queue.
// - DSR sensitivity: received bytes are dropped while TIOCMGET reports DSR off (one ioctl per
//   read that brought data); a device without modem lines (pty) is not affected.
// - RTS toggle: RTS is raised when a write starts and dropped by the drain helper once the
//   output is empty and tcdrain() returned (timing is that of a thread, not of the UART).
// - DSR output flow (fOutxDsrFlow): not done. Bytes handed to the tty are sent whatever DSR
//   says; a user-space gate could only hold back whole writes and would promise more than it
//   keeps. Likewise DTR_CONTROL_HANDSHAKE raises DTR but gives no DTR input handshake,
//   fTXContinueOnXoff has no kernel equivalent (Linux keeps sending after it sent XOFF),
//   XonLim/XoffLim are the kernel's own thresholds, and EofChar/fAbortOnError are ignored.
// - CRTSCTS covers RTS input handshake and CTS output flow together; either request sets it.

namespace device {

namespace {

constexpr std::uint32_t kLineEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING;
constexpr std::int64_t kNever = INT64_MAX;

std::int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::int64_t MsToNs(std::uint64_t ms) {
    constexpr std::uint64_t kMaxMs = std::uint64_t(INT64_MAX / 4) / 1000000u;
    return std::int64_t(std::min(ms, kMaxMs)) * 1000000;
}

// poll() time-out for a deadline (rounded up so a wake-up never comes early).
int PollTimeout(std::int64_t deadline) {
    if (deadline == kNever) return -1;
    const std::int64_t left = deadline - NowNs();
    if (left <= 0) return 0;
    return int(std::min<std::int64_t>((left + 999999) / 1000000, INT_MAX));
}

void Post(int efd) {
    const std::uint64_t one = 1;
    while (::write(efd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void Drain(int efd) {
    std::uint64_t value;
    while (::read(efd, &value, sizeof value) < 0 && errno == EINTR) {
    }
}

bool NoModemLines(int e) { return e == ENOTTY || e == EINVAL; }

// Pseudo-terminals (both sides; Unix98 and legacy BSD) by their character-device majors.
bool IsPseudoTerminal(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    const unsigned m = major(st.st_rdev);
    return m == 2 || m == 3 || (m >= 128 && m <= 143);
}

// A failure meaning the device has gone (USB unplug, pty master closed).
bool DeviceGone(int e) { return e == EIO || e == ENXIO || e == ENODEV; }

int Ioctl(int fd, unsigned long request, void* arg) {
    int r;
    do {
        r = ::ioctl(fd, request, arg);
    } while (r < 0 && errno == EINTR);
    return r < 0 ? errno : 0;
}

void EmptyHandler(int) {}

void UnblockHelperSignal() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, TtyDevice::HelperSignal());
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

// Writes as much as the kernel takes now. Returns the count, or -errno when nothing moved.
long WriteSome(int fd, const std::uint8_t* data, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
        const ssize_t w = ::write(fd, data + done, n - done);
        if (w > 0) {
            done += std::size_t(w);
            continue;
        }
        if (w < 0 && errno == EINTR) continue;
        if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        if (done == 0) return w < 0 ? -long(errno) : -long(EIO);
        break;
    }
    return long(done);
}

}  // namespace

std::unique_ptr<Device> CreateTtyDevice() { return std::make_unique<TtyDevice>(); }

int TtyDevice::HelperSignal() {
    static const int sig = [] {
        const int s = SIGRTMIN + 6;
        struct sigaction sa {};
        sa.sa_handler = EmptyHandler;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = 0;  // no SA_RESTART: the blocking ioctl must end with EINTR
        sigaction(s, &sa, nullptr);
        return s;
    }();
    return sig;
}

TtyDevice::TtyDevice(TxEmpty txEmpty) : txEmpty_(txEmpty) { HelperSignal(); }

TtyDevice::~TtyDevice() { Close(); }

bool TtyDevice::IsOpen() const {
    std::lock_guard lk(mu_);
    return fd_ >= 0;
}

bool TtyDevice::HasTransmitter() const {
    std::lock_guard lk(mu_);
    return transmitter_;
}

bool TtyDevice::DrainHelperRunning() const {
    std::lock_guard lk(mu_);
    return drain_.started;
}

void TtyDevice::ResetState() {
    hungUp_ = false;
    closing_ = false;
    modemLines_ = true;
    countersOk_ = true;
    counters_ = {};
    queue_ = tty::RxQueue(kDefaultQueueSize);
    decoder_ = tty::RxDecoder();
    dcb_ = DeviceControlBlock();
    timeouts_ = CommTimeouts();
    outSize_ = kDefaultQueueSize;
    mask_ = latched_ = errors_ = 0;
    ++txEpoch_;
    ++rxEpoch_;
    pendingWrites_ = 0;
    writeSeq_ = 0;
    drainRequested_ = false;
    rtsToggleOn_ = false;
}

SysError TtyDevice::Open(const std::string& path) {
    Lock lk(mu_);
    if (fd_ >= 0) return EBUSY;
    if (path.empty()) return ENOENT;

    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return errno;

    auto fail = [&](SysError e, bool exclusive) {
        if (exclusive) ::ioctl(fd, TIOCNXCL);
        ::close(fd);
        return e;
    };
    if (!::isatty(fd)) return fail(ENOTTY, false);
    int r;
    do {
        r = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (r < 0 && errno == EINTR);
    if (r < 0) return fail(errno == EWOULDBLOCK ? EBUSY : errno, false);
    // TIOCEXCL makes other opens fail with EBUSY in the kernel (except for root, whom the
    // flock above stops); the lock and the exclusive flag both end with the descriptor.
    if (const SysError e = Ioctl(fd, TIOCEXCL, nullptr)) return fail(e, false);
    if (const SysError e = tty::MakeRaw(fd)) return fail(e, true);

    int efd[3];
    for (int i = 0; i < 3; ++i) {
        efd[i] = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (efd[i] < 0) {
            const SysError e = errno;
            for (int j = 0; j < i; ++j) ::close(efd[j]);
            return fail(e, true);
        }
    }
    ResetState();
    transmitter_ = txEmpty_ == TxEmpty::DrainHelper || !IsPseudoTerminal(fd);
    wakeFd_ = efd[0];
    rxWakeFd_ = efd[1];
    txWakeFd_ = efd[2];
    fd_ = fd;

    int lines = 0;
    if (NoModemLines(Ioctl(fd_, TIOCMGET, &lines))) modemLines_ = false;
    Counters c;
    if (ReadCounters(c)) counters_ = c;
    return 0;
}

SysError TtyDevice::Close() {
    Lock lk(mu_);
    if (fd_ < 0 || closing_) return EBADF;  // not open, or another thread is closing it
    closing_ = true;
    StopHelper(lk, lines_);
    StopHelper(lk, drain_);
    const int fd = fd_;
    fd_ = -1;
    ::ioctl(fd, TIOCNXCL);  // fails with EIO after a hang-up; the close ends it anyway
    ::flock(fd, LOCK_UN);
    // Linux releases the descriptor even when close reports an error, so there is nothing a
    // caller could retry: the device counts as closed.
    ::close(fd);
    for (int* efd : {&wakeFd_, &rxWakeFd_, &txWakeFd_}) {
        ::close(*efd);
        *efd = -1;
    }
    closing_ = false;
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Helpers

void TtyDevice::StartHelper(Helper& h, void (TtyDevice::*body)(int)) {
    if (h.started || closing_) return;
    try {
        h.thread = std::thread(body, this, fd_);
        h.started = true;
        h.stop = h.done = false;
    } catch (const std::system_error&) {
        // No thread, no events of this kind; everything else keeps working.
    }
}

void TtyDevice::StopHelper(Lock& lk, Helper& h) {
    if (!h.started) return;
    h.stop = true;
    cv_.notify_all();
    // The signal ends a blocking TIOCMIWAIT/tcdrain with EINTR. A helper that is between its
    // stop check and the ioctl misses it, so it is sent again (backing off) until the helper
    // reports its end; normally the first one does it.
    const pthread_t handle = h.thread.native_handle();
    for (auto wait = std::chrono::milliseconds(1); !h.done;
         wait = std::min(wait * 2, std::chrono::milliseconds(100))) {
        pthread_kill(handle, HelperSignal());
        cv_.wait_for(lk, wait, [&] { return h.done; });
    }
    std::thread t = std::move(h.thread);
    h = Helper();
    lk.unlock();
    t.join();
    lk.lock();
}

void TtyDevice::DrainLoop(int fd) {
    UnblockHelperSignal();
    Lock lk(mu_);
    while (!drain_.stop) {
        if (!drainRequested_ || pendingWrites_ > 0 || hungUp_) {
            cv_.wait(lk);
            continue;
        }
        drainRequested_ = false;
        const std::uint64_t seq = writeSeq_;
        lk.unlock();
        const int r = ::tcdrain(fd);
        const int e = errno;
        lk.lock();
        if (r < 0) {
            if (e == EINTR && !drain_.stop) drainRequested_ = true;
            continue;
        }
        if (seq == writeSeq_ && pendingWrites_ == 0 && !drainRequested_) {
            if (rtsToggleOn_) {
                SetModemBit(TIOCM_RTS, false);
                rtsToggleOn_ = false;
            }
            Latch(EV_TXEMPTY);
        }
    }
    drain_.done = true;
    cv_.notify_all();
}

void TtyDevice::LineLoop(int fd) {
    UnblockHelperSignal();
    int last = 0;
    bool ok = Ioctl(fd, TIOCMGET, &last) == 0;
    while (ok) {
        {
            Lock lk(mu_);
            if (lines_.stop) break;
        }
        // ENOTTY/EINVAL (pty, many USB adapters): no line events. EIO: hung up.
        if (::ioctl(fd, TIOCMIWAIT, TIOCM_RNG | TIOCM_DSR | TIOCM_CD | TIOCM_CTS) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        int now = 0;
        if (Ioctl(fd, TIOCMGET, &now) != 0) break;
        const int changed = now ^ last;
        std::uint32_t events = 0;
        if (changed & TIOCM_CTS) events |= EV_CTS;
        if (changed & TIOCM_DSR) events |= EV_DSR;
        if (changed & TIOCM_CD) events |= EV_RLSD;
        if ((last & TIOCM_RNG) && !(now & TIOCM_RNG)) events |= EV_RING;  // trailing edge
        last = now;

        Lock lk(mu_);
        std::uint32_t ce = 0;
        Counters c;
        if (ReadCounters(c)) events |= CountersToEvents(c, ce);
        Latch(events);
        AddErrors(ce);
    }
    Lock lk(mu_);
    lines_.done = true;
    cv_.notify_all();
}

// ---------------------------------------------------------------------------------------------
// Events, errors, receiving (mu_ held)

void TtyDevice::WakeWaiter() {
    if (waiters_ > 0) Post(wakeFd_);
}

void TtyDevice::Latch(std::uint32_t events) {
    events &= mask_;
    if ((latched_ | events) == latched_) return;
    latched_ |= events;
    WakeWaiter();
}

void TtyDevice::AddErrors(std::uint32_t ce) {
    errors_ |= ce;
    std::uint32_t events = 0;
    if (ce & CE_BREAK) events |= EV_BREAK;
    if (ce & (CE_FRAME | CE_OVERRUN | CE_RXPARITY | CE_IOE)) events |= EV_ERR;
    Latch(events);
}

void TtyDevice::HangUp() {
    if (hungUp_) return;
    hungUp_ = true;
    AddErrors(CE_IOE);
    if (readers_ > 0) Post(rxWakeFd_);
    if (writers_ > 0) Post(txWakeFd_);
    cv_.notify_all();
}

bool TtyDevice::ReadCounters(Counters& out) {
    if (!countersOk_ || fd_ < 0) return false;
    serial_icounter_struct ic{};
    const int e = Ioctl(fd_, TIOCGICOUNT, &ic);
    if (e != 0) {
        if (NoModemLines(e)) countersOk_ = false;
        return false;
    }
    out.cts = ic.cts;
    out.dsr = ic.dsr;
    out.rng = ic.rng;
    out.dcd = ic.dcd;
    out.frame = ic.frame;
    out.overrun = ic.overrun;
    out.parity = ic.parity;
    out.brk = ic.brk;
    out.bufOverrun = ic.buf_overrun;
    return true;
}

std::uint32_t TtyDevice::CountersToEvents(const Counters& now, std::uint32_t& ce) {
    const Counters& was = counters_;
    std::uint32_t events = 0;
    if (now.cts != was.cts) events |= EV_CTS;
    if (now.dsr != was.dsr) events |= EV_DSR;
    if (now.dcd != was.dcd) events |= EV_RLSD;
    if (now.rng != was.rng) events |= EV_RING;
    if (now.frame != was.frame) ce |= CE_FRAME;
    if (now.overrun != was.overrun) ce |= CE_OVERRUN;
    if (now.parity != was.parity && dcb_.fParity) ce |= CE_RXPARITY;
    if (now.brk != was.brk) ce |= CE_BREAK;
    if (now.bufOverrun != was.bufOverrun) ce |= CE_RXOVER;
    counters_ = now;
    return events;
}

void TtyDevice::CheckCounters(const tty::RxMarks& marks) {
    std::uint32_t ce = 0;
    std::uint32_t events = 0;
    Counters c;
    if (ReadCounters(c)) events = CountersToEvents(c, ce);
    // Marks the counters did not explain (pty, drivers without TIOCGICOUNT): \377\0\0 is
    // what the kernel writes for a break; \377\0X is a parity error, or a framing error when
    // no parity is in use.
    if (!(ce & (CE_FRAME | CE_RXPARITY | CE_BREAK))) {
        if (marks.zeroMarks) ce |= CE_BREAK;
        if (marks.charMarks) ce |= dcb_.Parity != 0 ? CE_RXPARITY : CE_FRAME;
    }
    Latch(events);
    AddErrors(ce);
}

bool TtyDevice::DsrOn() {
    int lines = 0;
    const int e = Ioctl(fd_, TIOCMGET, &lines);
    if (e != 0) {
        if (NoModemLines(e)) modemLines_ = false;
        return true;  // cannot tell: do not drop data
    }
    return (lines & TIOCM_DSR) != 0;
}

void TtyDevice::Deliver(const std::uint8_t* data, std::size_t n) {
    if (n == 0) return;
    const std::size_t cap = queue_.Capacity();
    const std::size_t threshold = (cap * 4 + 4) / 5;  // 80 %, rounded up
    const std::size_t before = queue_.Size();
    const std::size_t pushed = queue_.Push(data, n);
    if (pushed < n) errors_ |= CE_RXOVER;
    if (pushed == 0) return;
    std::uint32_t events = EV_RXCHAR;
    if (std::memchr(data, static_cast<unsigned char>(dcb_.EvtChar), pushed)) events |= EV_RXFLAG;
    if (before < threshold && queue_.Size() >= threshold) events |= EV_RX80FULL;
    Latch(events);
    if (readers_ > 0) Post(rxWakeFd_);
}

// Reads what the kernel has, as far as the receive queue has room, without blocking.
void TtyDevice::Pull() {
    if (fd_ < 0 || hungUp_) return;
    std::uint8_t raw[4096];
    std::uint8_t decoded[sizeof raw + 1];
    tty::RxMarks marks;
    bool any = false;
    while (queue_.Room() > 0) {
        const std::size_t want = std::min(sizeof raw, queue_.Room());
        const ssize_t n = ::read(fd_, raw, want);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        if (n <= 0) {  // 0 bytes with VMIN 1, or an error: the device is gone
            HangUp();
            break;
        }
        any = true;
        std::size_t k = decoder_.Decode(raw, std::size_t(n), decoded, marks);
        if (k > 0 && dcb_.fDsrSensitivity && modemLines_ && !DsrOn()) k = 0;
        Deliver(decoded, k);
        if (std::size_t(n) < want) break;  // the kernel had no more
    }
    if (any) CheckCounters(marks);
}

std::uint32_t TtyDevice::TakeFromQueue(AsyncOp& op) {
    const bool wasFull = queue_.Room() == 0;
    const std::size_t got =
        queue_.Pop(op.readData + op.transferred, op.length - op.transferred);
    op.transferred += std::uint32_t(got);
    if (got > 0 && wasFull) WakeWaiter();  // the waiter may watch the descriptor again
    return std::uint32_t(got);
}

SysError TtyDevice::SetModemBit(int bit, bool on) {
    if (!modemLines_) return 0;
    const int e = Ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bit);
    if (NoModemLines(e)) {
        modemLines_ = false;
        return 0;
    }
    return e;
}

// ---------------------------------------------------------------------------------------------
// Settings

SysError TtyDevice::SetupComm(std::uint32_t inSize, std::uint32_t outSize) {
    Lock lk(mu_);
    if (fd_ < 0) return EBADF;
    if (inSize == 0 || inSize > kMaxQueueSize || outSize > kMaxQueueSize) return EINVAL;
    // A tty has no queue sizes to set; the receive queue is ours.
    if (queue_.Resize(inSize) > 0) errors_ |= CE_RXOVER;
    outSize_ = outSize;
    WakeWaiter();  // room and the 80 % mark changed
    return 0;
}

SysError TtyDevice::SetCommState(const DeviceControlBlock& dcb) {
    Lock lk(mu_);
    if (fd_ < 0) return EBADF;
    if (hungUp_) return EIO;
    if (const SysError e = tty::ApplyLine(fd_, dcb)) return e;
    dcb_ = dcb;
    decoder_.discardNull = dcb.fNull;
    decoder_.replace = dcb.fErrorChar;
    decoder_.replaceChar = static_cast<std::uint8_t>(dcb.ErrorChar);
    const bool dtr = dcb.fDtrControl != DTR_CONTROL_DISABLE;
    const bool rts = dcb.fRtsControl == RTS_CONTROL_ENABLE ||
                     dcb.fRtsControl == RTS_CONTROL_HANDSHAKE;  // toggle: off until a write
    rtsToggleOn_ = false;
    if (const SysError e = SetModemBit(TIOCM_DTR, dtr)) return e;
    return SetModemBit(TIOCM_RTS, rts);
}

SysError TtyDevice::SetCommTimeouts(const CommTimeouts& timeouts) {
    Lock lk(mu_);
    if (fd_ < 0) return EBADF;
    timeouts_ = timeouts;  // read by each operation when it starts to wait
    return 0;
}

SysError TtyDevice::SetCommMask(std::uint32_t mask) {
    Lock lk(mu_);
    if (fd_ < 0) return EBADF;
    mask_ = mask;
    latched_ &= mask;
    // Bytes already in the receive queue count as received for the new mask.
    if ((mask & EV_RXCHAR) && queue_.Size() > 0) latched_ |= EV_RXCHAR;
    if (mask & kLineEvents) StartHelper(lines_, &TtyDevice::LineLoop);
    WakeWaiter();
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Queries and purge

SysError TtyDevice::ClearCommError(std::uint32_t& errors, std::uint32_t& inQueue) {
    Lock lk(mu_);
    if (fd_ < 0) return EBADF;
    Pull();
    if (!hungUp_) CheckCounters({});
    errors = errors_;
    errors_ = 0;
    inQueue = std::uint32_t(queue_.Size());
    return 0;
}

SysError TtyDevice::GetModemStatus(std::uint32_t& status) {
    Lock lk(mu_);
    status = 0;
    if (fd_ < 0) return EBADF;
    if (hungUp_ || !modemLines_) return 0;
    int lines = 0;
    const int e = Ioctl(fd_, TIOCMGET, &lines);
    if (NoModemLines(e)) {
        modemLines_ = false;
        return 0;
    }
    if (DeviceGone(e)) {
        HangUp();
        return 0;
    }
    if (e != 0) return e;
    if (lines & TIOCM_CTS) status |= MS_CTS_ON;
    if (lines & TIOCM_DSR) status |= MS_DSR_ON;
    if (lines & TIOCM_RNG) status |= MS_RING_ON;
    if (lines & TIOCM_CD) status |= MS_RLSD_ON;
    return 0;
}

SysError TtyDevice::Purge(std::uint32_t flags) {
    Lock lk(mu_);
    if (fd_ < 0) return EBADF;
    if (flags & ~std::uint32_t(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR))
        return EINVAL;
    if (flags & PURGE_TXABORT) {
        ++txEpoch_;
        if (writers_ > 0) Post(txWakeFd_);
    }
    if (flags & PURGE_RXABORT) {
        ++rxEpoch_;
        if (readers_ > 0) Post(rxWakeFd_);
    }
    SysError result = 0;
    if (flags & PURGE_RXCLEAR) {
        const bool wasFull = queue_.Room() == 0;
        queue_.Clear();
        decoder_.Reset();
        if (wasFull) WakeWaiter();
    }
    // A device that has gone has no queues left to clear.
    if (!hungUp_ && (flags & (PURGE_TXCLEAR | PURGE_RXCLEAR))) {
        const int which = (flags & PURGE_TXCLEAR) && (flags & PURGE_RXCLEAR) ? TCIOFLUSH
                          : (flags & PURGE_TXCLEAR)                         ? TCOFLUSH
                                                                            : TCIFLUSH;
        int r;
        do {
            r = ::tcflush(fd_, which);
        } while (r < 0 && errno == EINTR);
        if (r < 0) result = errno;
        if (r == 0 && (flags & PURGE_TXCLEAR)) cv_.notify_all();
    }
    return result;
}

// ---------------------------------------------------------------------------------------------
// Writing

void TtyDevice::NoteWritten() {
    ++writeSeq_;
    drainRequested_ = true;
    if (!transmitter_) return;  // OutputSettled latches it once no write is pending
    StartHelper(drain_, &TtyDevice::DrainLoop);
    cv_.notify_all();
}

// Without a transmitter, what write() took is already out: the output queue is empty as soon
// as no write of ours still holds bytes back, which is what tcdrain() would have said at once.
// As with the helper, a device that has gone reports no more transmit-empty.
void TtyDevice::OutputSettled() {
    if (transmitter_ || !drainRequested_ || pendingWrites_ > 0 || hungUp_) return;
    drainRequested_ = false;
    if (rtsToggleOn_) {
        SetModemBit(TIOCM_RTS, false);
        rtsToggleOn_ = false;
    }
    Latch(EV_TXEMPTY);
}

SysError TtyDevice::BeginWrite(const std::uint8_t* data, std::uint32_t count, AsyncOp& op) {
    Lock lk(mu_);
    op.Start(AsyncOp::Kind::Write, data, nullptr, count, txEpoch_, NowNs());
    if (fd_ < 0) return EBADF;
    if (hungUp_) return EIO;
    if (count == 0) return 0;
    if (data == nullptr) return EINVAL;
    if (dcb_.fRtsControl == RTS_CONTROL_TOGGLE && !rtsToggleOn_) {
        SetModemBit(TIOCM_RTS, true);
        rtsToggleOn_ = true;
    }
    const long n = WriteSome(fd_, data, count);
    if (n < 0) {
        if (DeviceGone(int(-n))) HangUp();
        return SysError(-n);
    }
    op.transferred = std::uint32_t(n);
    if (n > 0) NoteWritten();
    if (op.transferred < count) {
        op.pending = true;
        ++pendingWrites_;
    }
    OutputSettled();
    return 0;
}

void TtyDevice::CompleteWrite(Lock& lk, AsyncOp& op) {
    const std::uint64_t limitMs = std::uint64_t(timeouts_.WriteTotalTimeoutMultiplier) * op.length +
                                  timeouts_.WriteTotalTimeoutConstant;
    const std::int64_t deadline = limitMs == 0 ? kNever : op.startedNs + MsToNs(limitMs);
    for (;;) {
        if (fd_ < 0) {
            op.error = EBADF;
            break;
        }
        if (hungUp_) {
            op.error = EIO;
            break;
        }
        if (op.abortEpoch != txEpoch_) {
            op.error = ECANCELED;
            break;
        }
        const long n = WriteSome(fd_, op.writeData + op.transferred, op.length - op.transferred);
        if (n < 0) {
            op.error = SysError(-n);
            if (DeviceGone(op.error)) HangUp();
            break;
        }
        if (n > 0) {
            op.transferred += std::uint32_t(n);
            NoteWritten();
        }
        if (op.transferred == op.length) break;
        const int timeout = PollTimeout(deadline);
        if (timeout == 0) break;  // timed out: the short count, no error

        pollfd p[2] = {{fd_, POLLOUT, 0}, {txWakeFd_, POLLIN, 0}};
        const int txWake = txWakeFd_;
        ++writers_;
        lk.unlock();
        const int r = ::poll(p, 2, timeout);
        const int e = errno;
        lk.lock();
        --writers_;
        if (r < 0 && e != EINTR) {
            op.error = e;
            break;
        }
        if (r <= 0) continue;
        if (p[1].revents) Drain(txWake);
        if (p[0].revents & POLLNVAL) {
            op.error = EBADF;
            break;
        }
        if (p[0].revents & (POLLHUP | POLLERR)) HangUp();
    }
    op.pending = false;
    if (pendingWrites_ > 0) --pendingWrites_;
    cv_.notify_all();
    OutputSettled();
}

// ---------------------------------------------------------------------------------------------
// Reading. Time-outs as COMMTIMEOUTS: ReadInterval kNoLimit with both totals 0 returns at once;
// kNoLimit with multiplier kNoLimit and 0 < constant < kNoLimit returns as soon as any byte is
// there, else after `constant` ms; otherwise total = multiplier * n + constant (0: none) and,
// once a byte has come, the interval between bytes (0 or kNoLimit: none). A time-out ends the
// read with the bytes it has and no error.

namespace {

bool ImmediateRead(const CommTimeouts& t) {
    return t.ReadIntervalTimeout == kNoLimit && t.ReadTotalTimeoutMultiplier == 0 &&
           t.ReadTotalTimeoutConstant == 0;
}

bool AnyByteRead(const CommTimeouts& t) {
    return t.ReadIntervalTimeout == kNoLimit && t.ReadTotalTimeoutMultiplier == kNoLimit &&
           t.ReadTotalTimeoutConstant > 0 && t.ReadTotalTimeoutConstant < kNoLimit;
}

}  // namespace

SysError TtyDevice::BeginRead(std::uint8_t* data, std::uint32_t count, AsyncOp& op) {
    Lock lk(mu_);
    op.Start(AsyncOp::Kind::Read, nullptr, data, count, rxEpoch_, NowNs());
    if (fd_ < 0) return EBADF;
    if (count == 0) return 0;
    if (data == nullptr) return EINVAL;
    // The kernel is asked only when the queue cannot satisfy the read by itself (the port
    // reads exactly the count it has just been told is waiting).
    if (queue_.Size() < count) Pull();
    TakeFromQueue(op);
    if (op.transferred == count) return 0;
    // Bytes received before a hang-up are still delivered; after them, reads fail.
    if (hungUp_) return op.transferred > 0 ? 0 : EIO;
    if (ImmediateRead(timeouts_)) return 0;
    if (AnyByteRead(timeouts_) && op.transferred > 0) return 0;
    op.pending = true;
    return 0;
}

void TtyDevice::CompleteRead(Lock& lk, AsyncOp& op) {
    const CommTimeouts t = timeouts_;
    std::int64_t deadline = kNever;
    bool anyByte = false;
    if (AnyByteRead(t)) {
        anyByte = true;
        deadline = op.startedNs + MsToNs(t.ReadTotalTimeoutConstant);
    } else if (!ImmediateRead(t)) {
        const std::uint64_t total =
            std::uint64_t(t.ReadTotalTimeoutMultiplier) * op.length + t.ReadTotalTimeoutConstant;
        if (total > 0) deadline = op.startedNs + MsToNs(total);
    }
    const bool interval = t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != kNoLimit;
    std::int64_t lastByte = op.startedNs;

    for (;;) {
        if (fd_ < 0) {
            op.error = EBADF;
            break;
        }
        if (op.abortEpoch != rxEpoch_) {
            op.error = ECANCELED;
            break;
        }
        Pull();
        if (TakeFromQueue(op) > 0) lastByte = NowNs();
        if (op.transferred == op.length) break;
        if (hungUp_) {
            if (op.transferred == 0) op.error = EIO;
            break;
        }
        if (ImmediateRead(t) || (anyByte && op.transferred > 0)) break;
        std::int64_t until = deadline;
        if (interval && op.transferred > 0)
            until = std::min(until, lastByte + MsToNs(t.ReadIntervalTimeout));
        const int timeout = PollTimeout(until);
        if (timeout == 0) break;  // timed out: what has come, no error

        pollfd p[2] = {{rxWakeFd_, POLLIN, 0}, {fd_, POLLIN, 0}};
        const int rxWake = rxWakeFd_;
        ++readers_;
        lk.unlock();
        const int r = ::poll(p, 2, timeout);
        const int e = errno;
        lk.lock();
        --readers_;
        if (r < 0 && e != EINTR) {
            op.error = e;
            break;
        }
        if (r <= 0) continue;
        if (p[0].revents) Drain(rxWake);
        if (p[1].revents & POLLNVAL) {
            op.error = EBADF;
            break;
        }
        if (p[1].revents & (POLLHUP | POLLERR)) {
            Pull();
            HangUp();
        }
    }
    op.pending = false;
}

SysError TtyDevice::CompleteOp(AsyncOp& op, std::uint32_t& transferred) {
    Lock lk(mu_);
    if (op.pending) {
        if (op.kind == AsyncOp::Kind::Write)
            CompleteWrite(lk, op);
        else if (op.kind == AsyncOp::Kind::Read)
            CompleteRead(lk, op);
        op.pending = false;
    }
    transferred = op.transferred;
    return op.error;
}

// ---------------------------------------------------------------------------------------------
// Waiting

WaitResult TtyDevice::WaitCommEvent(std::uint32_t& events, const StopEvent& stop) {
    events = 0;
    Lock lk(mu_);
    if (fd_ < 0) return WaitResult::WaitFailed;
    for (;;) {
        // One poll per round: the stop event first (it wins over events, as the first handle
        // of a multiple-object wait does), our wake-up eventfd, and the device only while it
        // is there and the receive queue has room (poll() reports POLLIN for as long as
        // unread bytes wait, so watching it with a full queue would spin).
        const bool ready = (latched_ & mask_) != 0;
        const bool watch = !hungUp_ && queue_.Room() > 0;
        pollfd p[3] = {{stop.Fd(), POLLIN, 0}, {wakeFd_, POLLIN, 0}, {fd_, POLLIN, 0}};
        const int wakeFd = wakeFd_;
        ++waiters_;
        lk.unlock();
        const int r = ::poll(p, watch ? 3 : 2, ready ? 0 : -1);
        const int e = errno;
        lk.lock();
        --waiters_;
        pollWakeups_.fetch_add(1);
        if (r < 0) {
            if (e == EINTR) continue;
            return WaitResult::WaitFailed;
        }
        if (p[0].revents & POLLNVAL) return WaitResult::WaitFailed;
        if (p[0].revents) return WaitResult::Stopped;
        if (p[1].revents) Drain(wakeFd);
        if (fd_ < 0) return WaitResult::WaitFailed;
        if (watch && p[2].revents) {
            if (p[2].revents & POLLNVAL) return WaitResult::WaitFailed;
            Pull();
            if (p[2].revents & (POLLHUP | POLLERR)) HangUp();
        }
        const std::uint32_t ev = latched_ & mask_;
        if (ev != 0) {
            latched_ &= ~ev;
            events = ev;
            return WaitResult::Events;
        }
    }
}

}  // namespace device

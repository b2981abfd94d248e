// The tty device: opening and closing, line settings, queries and purge. Helper threads,
// receiving, transfers and the wait live in TtyHelpers.cpp, TtyReceive.cpp, TtyTransfer.cpp
// and TtyWait.cpp.
//

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

#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "TermiosBits.h"
#include "TtyCommon.h"
#include "TtyDevice.h"

namespace device {

using namespace ttyio;

std::unique_ptr<Device> CreateTtyDevice() { return std::make_unique<TtyDevice>(); }

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

int TtyDevice::SleepInPoll(Lock& lk, pollfd* fds, nfds_t count, int timeout, int& sleepers,
                           int& error) {
    ++sleepers;
    lk.unlock();
    const int r = ::poll(fds, count, timeout);
    error = errno;
    lk.lock();
    --sleepers;
    if (closing_) cv_.notify_all();  // Close waits for the last sleeper to leave
    return r;
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
    writeQueue_.clear();
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
    // Wake every operation asleep on the descriptors and let it leave before they are closed:
    // closing a descriptor under a sleeping poll() wakes nobody, and its number may be handed
    // to someone else at once.
    while (waiters_ + readers_ + writers_ > 0) {
        if (waiters_ > 0) Post(wakeFd_);
        if (readers_ > 0) Post(rxWakeFd_);
        if (writers_ > 0) Post(txWakeFd_);
        cv_.wait(lk);
    }
    FailQueuedWrites(EBADF);  // writes begun whose callers have not come to complete them
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
        FailQueuedWrites(ECANCELED);
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


}  // namespace device

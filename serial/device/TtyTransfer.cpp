// The tty device's transfers: writes and reads with their total and interval time-outs.

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "TtyCommon.h"
#include "TtyDevice.h"

namespace device {

using namespace ttyio;

namespace {

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


}  // namespace device

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
    if (transmitter_ || !drainRequested_ || !writeQueue_.empty() || hungUp_) return;
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
    if (fd_ < 0 || closing_) return EBADF;
    if (hungUp_) return EIO;
    if (count == 0) return 0;
    if (data == nullptr) return EINVAL;
    if (dcb_.fRtsControl == RTS_CONTROL_TOGGLE && !rtsToggleOn_) {
        SetModemBit(TIOCM_RTS, true);
        rtsToggleOn_ = true;
    }
    // Writes reach the wire in the order they were begun: while an earlier one still holds
    // bytes back, this one waits behind it instead of slipping its bytes in between.
    if (writeQueue_.empty()) {
        const long n = WriteSome(fd_, data, count);
        if (n < 0) {
            if (DeviceGone(int(-n))) HangUp();
            return SysError(-n);
        }
        op.transferred = std::uint32_t(n);
        if (n > 0) NoteWritten();
    }
    if (op.transferred < count) {
        op.pending = true;
        writeQueue_.push_back(&op);
    }
    OutputSettled();
    return 0;
}

void TtyDevice::FinishHeadWrite(SysError error) {
    AsyncOp& head = *writeQueue_.front();
    head.error = error;
    head.pending = false;
    writeQueue_.pop_front();
    // The next write's time-outs count from the moment its own bytes start to go out.
    if (!writeQueue_.empty()) writeQueue_.front()->startedNs = NowNs();
    cv_.notify_all();
}

void TtyDevice::FailQueuedWrites(SysError error) {
    while (!writeQueue_.empty()) FinishHeadWrite(error);
    if (writers_ > 0) Post(txWakeFd_);
}

// Whoever waits for a write drives the queue from its head until that write is done, so a
// caller that completes a later write first does not wait for ever on an earlier one.
void TtyDevice::CompleteWrite(Lock& lk, AsyncOp& op) {
    while (op.pending && !writeQueue_.empty()) {
        AsyncOp& head = *writeQueue_.front();
        if (fd_ < 0 || closing_) {
            FinishHeadWrite(EBADF);
            continue;
        }
        if (hungUp_) {
            FinishHeadWrite(EIO);
            continue;
        }
        if (head.abortEpoch != txEpoch_) {
            FinishHeadWrite(ECANCELED);
            continue;
        }
        const long n =
            WriteSome(fd_, head.writeData + head.transferred, head.length - head.transferred);
        if (n < 0) {
            if (DeviceGone(int(-n))) HangUp();
            FinishHeadWrite(SysError(-n));
            continue;
        }
        if (n > 0) {
            head.transferred += std::uint32_t(n);
            NoteWritten();
        }
        if (head.transferred == head.length) {
            FinishHeadWrite(0);
            continue;
        }
        const std::uint64_t limitMs =
            std::uint64_t(timeouts_.WriteTotalTimeoutMultiplier) * head.length +
            timeouts_.WriteTotalTimeoutConstant;
        const std::int64_t deadline = limitMs == 0 ? kNever : head.startedNs + MsToNs(limitMs);
        const int timeout = PollTimeout(deadline);
        if (timeout == 0) {  // timed out: the short count, no error
            FinishHeadWrite(0);
            continue;
        }

        pollfd p[2] = {{fd_, POLLOUT, 0}, {txWakeFd_, POLLIN, 0}};
        const int txWake = txWakeFd_;
        int e = 0;
        const int r = SleepInPoll(lk, p, 2, timeout, writers_, e);
        if (r < 0 && e != EINTR) {
            if (!writeQueue_.empty() && writeQueue_.front() == &head) FinishHeadWrite(e);
            continue;
        }
        if (r <= 0) continue;
        if (p[1].revents) Drain(txWake);
        if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) HangUp();
    }
    op.pending = false;
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
    if (fd_ < 0 || closing_) return EBADF;
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
        if (fd_ < 0 || closing_) {
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
        int e = 0;
        const int r = SleepInPoll(lk, p, 2, timeout, readers_, e);
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

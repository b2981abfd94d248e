// The tty device's receiving side: events and errors latched for the wait, the line counters,
// and pulling the kernel's bytes into our receive queue.

#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>

#include "TtyCommon.h"
#include "TtyDevice.h"

namespace device {

using namespace ttyio;

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


}  // namespace device

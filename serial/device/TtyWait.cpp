// The tty device's event wait: one poll() on the device, our wake-up eventfd and the stop
// event; no timers, no polling loops.

#include <poll.h>

#include "TtyCommon.h"
#include "TtyDevice.h"

namespace device {

using namespace ttyio;

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
// Waiting

WaitResult TtyDevice::WaitCommEvent(std::uint32_t& events, const StopEvent& stop) {
    events = 0;
    Lock lk(mu_);
    if (fd_ < 0 || closing_) return WaitResult::WaitFailed;
    for (;;) {
        // One poll per round: the stop event first (it wins over events, as the first handle
        // of a multiple-object wait does), our wake-up eventfd, and the device only while it
        // is there and the receive queue has room (poll() reports POLLIN for as long as
        // unread bytes wait, so watching it with a full queue would spin).
        const bool ready = (latched_ & mask_) != 0;
        const bool watch = !hungUp_ && queue_.Room() > 0;
        pollfd p[3] = {{stop.Fd(), POLLIN, 0}, {wakeFd_, POLLIN, 0}, {fd_, POLLIN, 0}};
        const int wakeFd = wakeFd_;
        int e = 0;
        const int r = SleepInPoll(lk, p, watch ? 3 : 2, ready ? 0 : -1, waiters_, e);
        pollWakeups_.fetch_add(1);
        if (r < 0) {
            if (e == EINTR) continue;
            return WaitResult::WaitFailed;
        }
        if (p[0].revents & POLLNVAL) return WaitResult::WaitFailed;
        if (p[0].revents) return WaitResult::Stopped;
        if (p[1].revents) Drain(wakeFd);
        if (fd_ < 0 || closing_) return WaitResult::WaitFailed;
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

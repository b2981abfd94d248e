// The tty device's helper threads (drain and line changes) and the signal that stops them.

#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <chrono>
#include <system_error>

#include "TtyCommon.h"
#include "TtyDevice.h"

namespace device {

using namespace ttyio;

namespace {

void EmptyHandler(int) {}

void UnblockHelperSignal() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, TtyDevice::HelperSignal());
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

}  // namespace

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
        if (!drainRequested_ || !writeQueue_.empty() || hungUp_) {
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
        if (seq == writeSeq_ && writeQueue_.empty() && !drainRequested_) {
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


}  // namespace device

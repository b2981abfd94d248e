#include "ComThread.h"

#include <exception>
#include <iterator>
#include <thread>
#include <utility>

#include "CPort.h"
#include "Errors.h"

namespace {

// Device event bit of each event, in member order.
constexpr std::uint32_t kEventBits[] = {
    device::EV_RXCHAR, device::EV_TXEMPTY, device::EV_RXFLAG, device::EV_RING,
    device::EV_BREAK,  device::EV_CTS,     device::EV_DSR,    device::EV_ERR,
    device::EV_RLSD,   device::EV_RX80FULL};

// The batch this thread is running on behalf of an event thread, if any.
thread_local const TComThread* tlDelivering = nullptr;

}  // namespace

std::uint32_t ComEventsToWinMask(TComEvents events) {
    std::uint32_t mask = 0;
    for (unsigned i = 0; i < std::size(kEventBits); ++i)
        if (events.Contains(static_cast<TComEvent>(i))) mask |= kEventBits[i];
    return mask;
}

TComEvents WinMaskToComEvents(std::uint32_t mask) {
    TComEvents events;
    for (unsigned i = 0; i < std::size(kEventBits); ++i)
        if (mask & kEventBits[i]) events.Include(static_cast<TComEvent>(i));
    return events;
}

TComThread::TComThread(TCustomComPort* port) : port_(port) {
    // The thread is not running yet, so the mask is in force before the first wait.
    port_->Device().SetCommMask(ComEventsToWinMask(port_->Events()));
    Start();
}

TComThread::~TComThread() {
    stopEvent_.Set();
    std::this_thread::yield();
    Terminate();
    WaitFor();  // nothing to wait for once the thread owns itself
}

bool TComThread::DeliveringHere() const { return tlDelivering == this; }

void TComThread::Abandon() {
    abandoned_ = true;
    stopEvent_.Set();
    Terminate();
}

void TComThread::Execute() {
    device::Device& dev = port_->Device();
    for (;;) {
        std::uint32_t mask = 0;
        const device::WaitResult r = dev.WaitCommEvent(mask, stopEvent_);
        ++wakeUps_;
        if (r == device::WaitResult::ResultFailed) continue;
        if (r != device::WaitResult::Events) break;
        events_ = WinMaskToComEvents(mask);
        Deliver(events_);
        // Closed, perhaps freed, from inside that batch: the port and its device may be gone.
        if (abandoned_) return;
    }
    dev.SetCommMask(0);
    dev.Purge(device::PURGE_TXCLEAR | device::PURGE_RXCLEAR);
}

void TComThread::Deliver(TComEvents events) {
    switch (port_->SyncMethod()) {
    case smThreadSync:
        Synchronize([this, events] { RunSteps(events); });
        break;
    case smWindowSync:
        for (TComEvent e : kEventStepOrder)
            if (events.Contains(e))
                port_->NotifyWindow()->Send(CM_COMPORT, ComEventsToWinMask(TComEvents{e}), 0);
        break;
    case smNone:
        RunSteps(events);
        break;
    }
}

void TComThread::RunSteps(TComEvents events) {
    if (abandoned_) return;
    const TComThread* outer = std::exchange(tlDelivering, this);
    try {
        port_->RunEventSteps(events);
    } catch (...) {
        // Shown, and the thread goes on listening: ending it would leave a port that reads
        // "connected" and never hears another byte. The report belongs to the GUI thread.
        const std::exception_ptr error = std::current_exception();
        if (framework::IsMainThread()) {
            framework::ShowException(error);
        } else {
            try {
                framework::Synchronize([error] { framework::ShowException(error); });
            } catch (...) {
                framework::ShowException(error);
            }
        }
    }
    tlDelivering = outer;
}

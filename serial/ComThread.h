#pragma once
// The port's event thread: waits on the device and hands each batch of events to the port by
// the port's delivery method.

#include <atomic>
#include <cstdint>

#include "ComTypes.h"
#include "Device.h"
#include "Sync.h"

class TCustomComPort;

// Device event bits <-> event sets.
std::uint32_t ComEventsToWinMask(TComEvents events);
TComEvents WinMaskToComEvents(std::uint32_t mask);

// The fixed order in which one batch's steps run: a line error is reported before the bytes
// of the same batch are read.
inline constexpr TComEvent kEventStepOrder[] = {evError, evRxChar, evTxEmpty, evBreak, evRing,
                                                evCTS,   evDSR,    evRxFlag,  evRLSD,  evRx80Full};

// Message the event thread sends to the port's notify target, one per event.
inline constexpr unsigned CM_COMPORT = 1025;

class TComThread : public framework::TThread {
public:
    // Sets the device's event mask from the port's Events and starts waiting.
    explicit TComThread(TCustomComPort* port);
    // Stops the wait and waits for the thread's end, serving handed-over calls meanwhile.
    ~TComThread() override;

    // How often the wait has returned; an idle port should not wake it at all.
    std::uint64_t WakeUps() const { return wakeUps_.load(); }

    // True on a thread that is running a batch this thread handed over and is blocked on: the
    // thread cannot end before that batch returns, so waiting for it here would never end.
    bool DeliveringHere() const;

    // For a port that closes from inside one of our batches: stop, never touch the port or its
    // device again once the batch has returned, and free ourselves at the end.
    void Abandon();

protected:
    void Execute() override;

private:
    void Deliver(TComEvents events);
    void RunSteps(TComEvents events);

    TCustomComPort* port_;
    device::StopEvent stopEvent_;
    TComEvents events_;
    std::atomic<bool> abandoned_{false};
    std::atomic<std::uint64_t> wakeUps_{0};
};

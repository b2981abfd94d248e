#include "CPort.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <thread>

namespace {

std::string SystemErrorMessage(std::int64_t code) {
    return "System Error.  Code: " + std::to_string(code) + ".\n" +
           std::strerror(static_cast<int>(code));
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Construction

TCustomComPort::TCustomComPort(TComponent* owner) : TComponent(owner) {
    parity_ = std::make_unique<TComParity>(this);
    flowControl_ = std::make_unique<TComFlowControl>(this);
    timeouts_ = std::make_unique<TComTimeouts>(this);
    buffer_ = std::make_unique<TComBuffer>(this);
}

TCustomComPort::~TCustomComPort() {
    try {
        // Destroyed from inside one of its own close hooks: finish that close here, since the
        // outer one cannot go on once we are gone.
        if (state_ == psClosing) {
            if (connected_) FinishClose();
        } else {
            ClosePort();
        }
    } catch (...) {
        framework::ShowCurrentException();
    }
    buffer_.reset();
    flowControl_.reset();
    timeouts_.reset();
    parity_.reset();
    // Listeners hear of our removal while the link list still exists, so they can detach.
    DestroyComponent();
}

void TCustomComPort::SetDevice(std::unique_ptr<device::Device> dev) {
    if (state_ != psClosed) {
        ReportComError(CE_ConnChangeProp, 0);
        return;
    }
    device_ = std::move(dev);
}

device::Device& TCustomComPort::Device() {
    if (!device_) device_ = device::CreateTtyDevice();
    return *device_;
}

// ---------------------------------------------------------------------------------------------
// Settings

bool TCustomComPort::CanApply() const { return connected_ && !IsLoading() && !IsDesigning(); }

void TCustomComPort::SetBaudRate(TBaudRate value) {
    if (baudRate_ == value) return;
    baudRate_ = value;
    ApplyLineSettings();
}

void TCustomComPort::SetCustomBaudRate(std::int32_t value) {
    if (customBaudRate_ == value) return;
    customBaudRate_ = value;
    ApplyLineSettings();
}

void TCustomComPort::SetStopBits(TStopBits value) {
    if (stopBits_ == value) return;
    stopBits_ = value;
    ApplyLineSettings();
}

void TCustomComPort::SetDataBits(TDataBits value) {
    if (dataBits_ == value) return;
    dataBits_ = value;
    ApplyLineSettings();
}

void TCustomComPort::SetDiscardNull(bool value) {
    if (discardNull_ == value) return;
    discardNull_ = value;
    ApplyLineSettings();
}

void TCustomComPort::SetEventChar(std::uint8_t value) {
    if (eventChar_ == value) return;
    eventChar_ = value;
    ApplyLineSettings();
}

void TCustomComPort::SetParity(const TComParity& value) {
    parity_->CopyFrom(value);
    ApplyLineSettings();
}

void TCustomComPort::SetFlowControl(const TComFlowControl& value) {
    flowControl_->CopyFrom(value);
    ApplyLineSettings();
}

void TCustomComPort::SetTimeouts(const TComTimeouts& value) {
    timeouts_->CopyFrom(value);
    ApplyTimeoutSettings();
}

void TCustomComPort::SetBuffer(const TComBuffer& value) {
    buffer_->CopyFrom(value);
    ApplyBufferSizes();
}

void TCustomComPort::SetPort(const std::string& value) {
    if (port_ == value) return;
    port_ = value;
    if (Live() && !IsLoading() && !IsDesigning()) {
        ClosePort();
        OpenPort();
    }
}

void TCustomComPort::SetSyncMethod(TSyncMethod value) {
    if (syncMethod_ == value) return;
    if (state_ != psClosed && !IsLoading() && !IsDesigning()) {
        ReportComError(CE_ConnChangeProp, 0);
        return;
    }
    syncMethod_ = value;
}

void TCustomComPort::SetConnected(bool value) {
    if (IsLoading() || IsDesigning()) {
        connected_ = value;
        return;
    }
    // Both ignore a request that matches the state, or that comes during a transition.
    if (value)
        OpenPort();
    else
        ClosePort();
}

void TCustomComPort::SetTriggersOnRxChar(bool value) {
    if (hasBufferLink_) ReportComError(CE_HasLink, 0);
    triggersOnRxChar_ = value;
}

void TCustomComPort::Loaded() {
    TComponent::Loaded();
    if (connected_ && !IsDesigning()) {
        connected_ = false;
        try {
            OpenPort();
        } catch (...) {
            framework::ShowCurrentException();
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Opening and closing

bool TCustomComPort::Live() const {
    const TPortState state = state_;
    return state == psOpen || (state == psOpening && connected_);
}

void TCustomComPort::BeginTransition(TPortState state) {
    state_ = state;
    ++epoch_;
}

void TCustomComPort::OpenPort() {
    if (state_ != psClosed || IsDesigning()) return;
    BeginTransition(psOpening);
    closeRequested_ = false;
    const Watch w = Watching();
    // Whatever ends the open early, the port is left open or closed, never in between.
    struct Settle {
        TCustomComPort* port;
        const Watch& w;
        ~Settle() {
            if (Holds(w) && port->state_ == psOpening)
                port->state_ = port->connected_ ? psOpen : psClosed;
        }
    } settle{this, w};

    DoBeforeOpen();
    if (!Holds(w) || closeRequested_) return;
    OpenDevice();
    // An OnException handler may have taken an open failure: without a device there is
    // nothing to configure and no thread to start, so the port stays closed.
    if (!Holds(w) || !Device().IsOpen()) return;
    connected_ = true;
    try {
        ConfigurePort();
    } catch (...) {
        CloseDevice();
        connected_ = false;
        throw;
    }
    if (!events_.Empty()) {
        try {
            StartEventThread();
        } catch (const std::system_error& e) {
            // No thread (no descriptors or threads left): a port without it would read
            // "connected" and hear nothing, so the open fails as a whole.
            notifyWindow_.reset();
            CloseDevice();
            connected_ = false;
            ReportComError(CE_OpenFailed, e.code().value());
            return;
        }
    }
    AfterOpenStep(w);
}

void TCustomComPort::StartEventThread() {
    if (syncMethod_ == smWindowSync)
        notifyWindow_ = std::make_unique<framework::MessageTarget>(
            [this](unsigned m, std::uintptr_t w, std::intptr_t l) { return WindowMethod(m, w, l); });
    eventThread_ = std::make_unique<TComThread>(this);
    threadCreated_ = true;
}

void TCustomComPort::StopEventThread() {
    if (!threadCreated_) return;
    threadCreated_ = false;
    std::unique_ptr<TComThread> thread = std::move(eventThread_);
    if (thread->DeliveringHere()) {
        // We run inside a batch the thread is blocked on, so it cannot end before we return.
        // It leaves the port and device alone from here on and frees itself at its end.
        thread->Abandon();
        thread.release()->FreeOnTerminate();
    } else {
        thread.reset();  // stops it and waits for its end, serving handed-over calls
    }
}

void TCustomComPort::ClosePort() {
    if (IsDesigning()) return;
    switch (state_.load()) {
    case psClosed:
    case psClosing:
        return;  // nothing open, or the close under way completes it
    case psOpening:
        if (!connected_) {  // asked before the device is up: the open stops there
            closeRequested_ = true;
            return;
        }
        break;
    case psOpen:
        break;
    }
    // No new epoch yet: FinishClose starts it once the event thread has ended. A batch the
    // event thread runs itself (smNone) when a close begins here, on another thread, still
    // runs to its end while the device is open, as the close waits for it.
    state_ = psClosing;
    const Watch w = Watching();
    try {
        BeforeCloseStep(w);
    } catch (...) {
        if (Holds(w)) state_ = psOpen;  // the close did not happen
        throw;
    }
    // Freed by a close hook: the destructor has finished the close.
    if (!Holds(w)) return;
    FinishClose();
}

void TCustomComPort::FinishClose() {
    try {
        AbortPendingIO();
    } catch (...) {
        state_ = psOpen;  // a failed purge leaves the port open, its thread running
        throw;
    }
    StopEventThread();
    ++epoch_;  // runs of callbacks that began before the close end here
    // Also covers a thread whose start failed after the target was made.
    notifyWindow_.reset();
    CloseDevice();
    connected_ = false;
    const Watch w = Watching();
    struct Settle {
        TCustomComPort* port;
        const Watch& w;
        ~Settle() {
            if (!w.alive.expired()) port->state_ = psClosed;
        }
    } settle{this, w};
    AfterCloseStep();
}

void TCustomComPort::OpenDevice() {
    const device::SysError error = Device().Open(device::DevicePath(port_));
    if (error != 0) ReportComError(CE_OpenFailed, error);
}

void TCustomComPort::CloseDevice() {
    if (!device_ || !device_->IsOpen()) return;
    device_->Close();
}

void TCustomComPort::ConfigurePort() {
    ApplyBufferSizes();
    ApplyLineSettings();
    ApplyTimeoutSettings();
}

void TCustomComPort::ApplyBufferSizes() {
    if (!CanApply()) return;
    const device::SysError error =
        Device().SetupComm(static_cast<std::uint32_t>(buffer_->InputSize()),
                           static_cast<std::uint32_t>(buffer_->OutputSize()));
    if (error != 0) ReportComError(CE_SetupComFailed, error);
}

void TCustomComPort::ApplyTimeoutSettings() {
    if (!CanApply()) return;
    auto limit = [](std::int32_t v) {
        return v == -1 ? device::kNoLimit : static_cast<std::uint32_t>(v);
    };
    device::CommTimeouts t;
    t.ReadIntervalTimeout = limit(timeouts_->ReadInterval());
    t.ReadTotalTimeoutMultiplier = limit(timeouts_->ReadTotalMultiplier());
    t.ReadTotalTimeoutConstant = limit(timeouts_->ReadTotalConstant());
    t.WriteTotalTimeoutMultiplier = limit(timeouts_->WriteTotalMultiplier());
    t.WriteTotalTimeoutConstant = limit(timeouts_->WriteTotalConstant());
    const device::SysError error = Device().SetCommTimeouts(t);
    if (error != 0) ReportComError(CE_TimeoutsFailed, error);
}

void TCustomComPort::ApplyLineSettings() {
    if (!CanApply()) return;
    static constexpr std::uint8_t kDtr[] = {device::DTR_CONTROL_DISABLE, device::DTR_CONTROL_ENABLE,
                                           device::DTR_CONTROL_HANDSHAKE};
    static constexpr std::uint8_t kRts[] = {device::RTS_CONTROL_DISABLE, device::RTS_CONTROL_ENABLE,
                                           device::RTS_CONTROL_HANDSHAKE, device::RTS_CONTROL_TOGGLE};
    static constexpr std::uint8_t kByteSize[] = {5, 6, 7, 8};
    const TComFlowControl& fc = *flowControl_;
    const TComParity& pr = *parity_;

    device::DeviceControlBlock dcb;
    dcb.DCBlength = 28;
    dcb.BaudRate = baudRate_ == brCustom ? static_cast<std::uint32_t>(customBaudRate_)
                                         : BaudRateToInt(baudRate_);
    dcb.fBinary = true;
    dcb.fParity = pr.Check();
    dcb.fOutxCtsFlow = fc.OutCTSFlow();
    dcb.fOutxDsrFlow = fc.OutDSRFlow();
    dcb.fDtrControl = kDtr[fc.ControlDTR()];
    dcb.fDsrSensitivity = fc.DSRSensitivity();
    dcb.fTXContinueOnXoff = fc.TxContinueOnXoff();
    dcb.fOutX = fc.XonXoffOut();
    dcb.fInX = fc.XonXoffIn();
    dcb.fErrorChar = pr.Check() && pr.Replace();
    dcb.fNull = discardNull_;
    dcb.fRtsControl = kRts[fc.ControlRTS()];
    dcb.fAbortOnError = false;
    dcb.XonLim = static_cast<std::uint16_t>(buffer_->InputSize() / 4);
    dcb.XoffLim = dcb.XonLim;
    dcb.ByteSize = kByteSize[dataBits_];
    dcb.Parity = static_cast<std::uint8_t>(pr.Bits());
    dcb.StopBits = static_cast<std::uint8_t>(stopBits_);
    dcb.XonChar = static_cast<char>(fc.XonChar());
    dcb.XoffChar = static_cast<char>(fc.XoffChar());
    dcb.ErrorChar = dcb.fErrorChar ? static_cast<char>(pr.ReplaceChar()) : '\0';
    dcb.EofChar = 0;
    dcb.EvtChar = static_cast<char>(eventChar_);
    const device::SysError error = Device().SetCommState(dcb);
    if (error != 0) ReportComError(CE_SetStateFailed, error);
}

// ---------------------------------------------------------------------------------------------
// I/O

void TCustomComPort::NewAsyncOperation(TComAsyncOp*& op) { op = new TComAsyncOp(); }

void TCustomComPort::FreeAsyncOperation(TComAsyncOp*& op) {
    // The device may still hold a record whose operation never completed: end it first.
    if (op && op->Overlapped.pending && device_) {
        std::uint32_t ignored = 0;
        device_->CompleteOp(op->Overlapped, ignored);
    }
    delete op;
    op = nullptr;
}

std::int32_t TCustomComPort::BeginWrite(const void* buffer, std::int32_t count, TComAsyncOp* op) {
    if (!op) {
        ReportComError(CE_InvalidAsync, 0);
        return 0;
    }
    if (!device_ || !device_->IsOpen()) {
        ReportComError(CEPortNotOpen, -24);
        return 0;
    }
    if (count < 0 || (count > 0 && !buffer)) {
        ReportComError(CE_WriteFailed, EINVAL);
        return 0;
    }
    op->Kind = akWrite;
    // The copy is for the links that hear sent data; with none listening there is nothing to
    // keep (a large write would otherwise cost twice its size).
    op->Data.reset();
    op->Size = count;
    if (AnyLink(&TComLink::OnTxData)) {
        op->Data.reset(new std::uint8_t[static_cast<std::size_t>(count)]);
        if (count > 0) std::memcpy(op->Data.get(), buffer, static_cast<std::size_t>(count));
    }
    const device::SysError error = device_->BeginWrite(static_cast<const std::uint8_t*>(buffer),
                                                       static_cast<std::uint32_t>(count),
                                                       op->Overlapped);
    if (error != 0) ReportComError(CE_WriteFailed, error);
    BroadcastState(&TComLink::OnTxActivity, true);
    return op->Overlapped.pending ? 0 : static_cast<std::int32_t>(op->Overlapped.transferred);
}

std::int32_t TCustomComPort::BeginWriteText(const std::string& text, TComAsyncOp* op) {
    if (text.empty()) return 0;
    return BeginWrite(text.data(), static_cast<std::int32_t>(text.size()), op);
}

std::int32_t TCustomComPort::WriteText(const std::string& text) {
    TComAsyncOp* op = nullptr;
    NewAsyncOperation(op);
    try {
        BeginWriteText(text, op);
        const std::int32_t written = CompleteAsync(op);
        FreeAsyncOperation(op);
        return written;
    } catch (...) {
        FreeAsyncOperation(op);
        throw;
    }
}

std::int32_t TCustomComPort::BeginRead(void* buffer, std::int32_t count, TComAsyncOp* op) {
    if (!op) {
        ReportComError(CE_InvalidAsync, 0);
        return 0;
    }
    op->Kind = akRead;
    if (!device_ || !device_->IsOpen()) {
        ReportComError(CEPortNotOpen, -24);
        return 0;
    }
    if (count < 0 || (count > 0 && !buffer)) {
        ReportComError(CE_ReadFailed, EINVAL);
        return 0;
    }
    const device::SysError error = device_->BeginRead(
        static_cast<std::uint8_t*>(buffer), static_cast<std::uint32_t>(count), op->Overlapped);
    if (error != 0) ReportComError(CE_ReadFailed, error);
    return op->Overlapped.pending ? 0 : static_cast<std::int32_t>(op->Overlapped.transferred);
}

std::int32_t TCustomComPort::ReadBlock(void* buffer, std::int32_t count) {
    TComAsyncOp* op = nullptr;
    NewAsyncOperation(op);
    try {
        BeginRead(buffer, count, op);
        const std::int32_t read = CompleteAsync(op);
        FreeAsyncOperation(op);
        return read;
    } catch (...) {
        FreeAsyncOperation(op);
        throw;
    }
}

std::int32_t TCustomComPort::CompleteAsync(TComAsyncOp* op) {
    if (!op) {
        ReportComError(CE_InvalidAsync, 0);
        return 0;
    }
    std::uint32_t transferred = 0;
    // A record that never started an operation completes at once with nothing moved.
    if (device_ && op->Overlapped.kind != device::AsyncOp::Kind::None) {
        const device::SysError error = device_->CompleteOp(op->Overlapped, transferred);
        if (error != 0)
            ReportComError(op->Kind == akWrite ? CE_WriteFailed : CE_ReadFailed, error);
    }
    if (op->Kind == akRead) {
        if (InputPending() == 0) BroadcastState(&TComLink::OnRxActivity, false);
    } else if (op->Data) {
        BroadcastTxData(op->Data.get(), op->Size);
    }
    return static_cast<std::int32_t>(transferred);
}

void TCustomComPort::AbortPendingIO() {
    if (!device_ || !device_->IsOpen()) return;
    const device::SysError error = device_->Purge(device::PURGE_TXABORT | device::PURGE_RXABORT);
    if (error != 0) ReportComError(CE_PurgeFailed, error);
}

std::int32_t TCustomComPort::InputPending() {
    std::uint32_t errors = 0, inQueue = 0;
    const device::SysError error = Device().ClearCommError(errors, inQueue);
    if (error != 0) {
        ReportComError(CE_ClearComFailed, error);
        return 0;
    }
    return static_cast<std::int32_t>(inQueue);
}

TComSignals TCustomComPort::ModemSignals() {
    std::uint32_t status = 0;
    const device::SysError error = Device().GetModemStatus(status);
    if (error != 0) {
        ReportComError(CE_ModemStatFailed, error);
        return {};
    }
    TComSignals signals;
    if (status & device::MS_CTS_ON) signals.Include(csCTS);
    if (status & device::MS_DSR_ON) signals.Include(csDSR);
    if (status & device::MS_RING_ON) signals.Include(csRing);
    if (status & device::MS_RLSD_ON) signals.Include(csRLSD);
    return signals;
}

TComErrors TCustomComPort::LineErrors() {
    std::uint32_t flags = 0, inQueue = 0;
    const device::SysError error = Device().ClearCommError(flags, inQueue);
    if (error != 0) {
        ReportComError(CE_ClearComFailed, error);
        return {};
    }
    TComErrors errors;
    if (flags & device::CE_FRAME) errors.Include(ceFrame);
    if ((flags & device::CE_RXPARITY) && parity_->Check()) errors.Include(ceRxParity);
    if (flags & device::CE_OVERRUN) errors.Include(ceOverrun);
    if (flags & device::CE_RXOVER) errors.Include(ceRxOver);
    if (flags & device::CE_TXFULL) errors.Include(ceTxFull);
    if (flags & device::CE_BREAK) errors.Include(ceBreak);
    if (flags & device::CE_IOE) errors.Include(ceIO);
    if (flags & device::CE_MODE) errors.Include(ceMode);
    return errors;
}

void TCustomComPort::ReportComError(TComExceptions failure, std::int64_t systemError) {
    ReportComError(static_cast<int>(failure) + 1, systemError);
}

void TCustomComPort::ReportComError(int code, std::int64_t systemError) {
    const std::string text = (code >= 1 && code <= kComFailureCount)
                                 ? ComFailureTexts[static_cast<std::size_t>(code - 1)]
                                 : std::string();
    if (OnException) {
        const std::string winMessage = systemError > 0 ? SystemErrorMessage(systemError) : "";
        OnException(this, static_cast<TComExceptions>(code - 1), text, systemError, winMessage);
        return;
    }
    if (systemError > 0) {
        const auto sys = static_cast<std::int32_t>(systemError);
        throw EComPort(text + " (Error: " + std::to_string(sys) + ")", sys, code);
    }
    throw EComPort(text, -1, code);
}

// ---------------------------------------------------------------------------------------------
// Links and broadcasts

void TCustomComPort::AttachLink(TComLink* link) {
    if (!link) return;
    if (std::find(links_.begin(), links_.end(), link) != links_.end()) {
        ReportComError(CE_RegFailed, 0);
        return;
    }
    links_.push_back(link);
    hasBufferLink_ = AnyLink(&TComLink::OnRxData);
}

void TCustomComPort::DetachLink(TComLink* link) {
    const auto it = std::find(links_.begin(), links_.end(), link);
    if (!link || it == links_.end()) {
        ReportComError(CE_RegFailed, 0);
        return;
    }
    links_.erase(it);
    hasBufferLink_ = AnyLink(&TComLink::OnRxData);
}

bool TCustomComPort::AnyLink(TComLink::DataSlot TComLink::*slot) const {
    return std::any_of(links_.begin(), links_.end(),
                       [slot](const TComLink* l) { return static_cast<bool>(l->*slot); });
}

// The links attached when the walk starts, in order. A callback may detach (and free) a link,
// attach one, close the port or free it: a link no longer attached is skipped, and the walk
// ends once the port is gone or a transition has begun.
template <typename Fn>
void TCustomComPort::ForEachLink(Fn&& call) {
    if (links_.empty()) return;
    const Watch w = Watching();
    const std::vector<TComLink*> snapshot = links_;
    for (TComLink* link : snapshot) {
        if (!Holds(w)) return;
        if (std::find(links_.begin(), links_.end(), link) == links_.end()) continue;
        call(*link);
    }
}

void TCustomComPort::BroadcastState(TComLink::StateSlot TComLink::*slot, bool OnOff) {
    ForEachLink([&](TComLink& link) {
        if (const auto fn = link.*slot) fn(this, OnOff);
    });
}

void TCustomComPort::BroadcastEvent(TComLink::EventSlot TComLink::*slot) {
    ForEachLink([&](TComLink& link) {
        if (const auto fn = link.*slot) fn(this);
    });
}

void TCustomComPort::BroadcastTxData(const std::uint8_t* buffer, std::int32_t count) {
    ForEachLink([&](TComLink& link) {
        if (const auto fn = link.OnTxData) fn(this, buffer, count);
    });
}

// ---------------------------------------------------------------------------------------------
// Event steps

void TCustomComPort::RunEventSteps(TComEvents events) {
    const Watch w = Watching();
    for (TComEvent e : kEventStepOrder) {
        // A step that closed (or freed) the port ends the batch: nothing left to act on. A
        // batch already under way when a close began still runs while the device is open.
        if (!Holds(w) || !connected_) return;
        if (!events.Contains(e)) continue;
        switch (e) {
        case evError: HandleError(); break;
        case evRxChar: HandleRxChar(); break;
        case evTxEmpty: HandleTxEmpty(); break;
        case evBreak: HandleBreak(); break;
        case evRing: HandleRing(); break;
        case evCTS: HandleCTSChange(); break;
        case evDSR: HandleDSRChange(); break;
        case evRxFlag: HandleRxFlag(); break;
        case evRLSD: HandleRLSDChange(); break;
        case evRx80Full: HandleRx80Full(); break;
        }
    }
}

void TCustomComPort::HandleRxChar() {
    const Watch w = Watching();
    const std::int32_t count = InputPending();
    if (count <= 0) return;
    BroadcastState(&TComLink::OnRxActivity, true);
    if (!Holds(w)) return;
    if (TriggersOnRxChar()) {
        DoRxChar(count);  // the owner reads the bytes
        return;
    }
    const bool linkListens = AnyLink(&TComLink::OnRxData);
    if (!linkListens && triggersOnRxChar_) {
        DoRxChar(count);  // the listening link has emptied its slot since it attached
        return;
    }
    // One read into one block, shared by OnRxBuf and every link and freed when this scope
    // ends, whatever a handler throws. Exactly the bytes the read returned are handed on: a
    // handler run meanwhile may have taken some of those that were waiting.
    std::vector<std::uint8_t> block(static_cast<std::size_t>(count));
    const std::int32_t got = ReadBlock(block.data(), count);
    if (!Holds(w) || got <= 0) return;
    DoRxBuf(block.data(), got);
    if (!Holds(w) || !linkListens) return;
    ForEachLink([&](TComLink& link) {
        if (const auto fn = link.OnRxData) fn(this, block.data(), got);
    });
}

void TCustomComPort::HandleTxEmpty() {
    const Watch w = Watching();
    BroadcastState(&TComLink::OnTxActivity, false);
    if (Holds(w)) BroadcastEvent(&TComLink::OnTxQueueEmpty);
    if (Holds(w)) DoTxEmpty();
}

void TCustomComPort::HandleBreak() { DoBreak(); }

void TCustomComPort::HandleRing() {
    const Watch w = Watching();
    BroadcastEvent(&TComLink::OnRingLine);
    if (Holds(w)) DoRing();
}

void TCustomComPort::HandleCTSChange() {
    const Watch w = Watching();
    const bool on = ModemSignals().Contains(csCTS);
    BroadcastState(&TComLink::OnCTSLine, on);
    if (Holds(w)) DoCTSChange(on);
}

void TCustomComPort::HandleDSRChange() {
    const Watch w = Watching();
    const bool on = ModemSignals().Contains(csDSR);
    BroadcastState(&TComLink::OnDSRLine, on);
    if (Holds(w)) DoDSRChange(on);
}

void TCustomComPort::HandleRLSDChange() {
    const Watch w = Watching();
    const bool on = ModemSignals().Contains(csRLSD);
    BroadcastState(&TComLink::OnRLSDLine, on);
    if (Holds(w)) DoRLSDChange(on);
}

void TCustomComPort::HandleRxFlag() {
    const Watch w = Watching();
    BroadcastEvent(&TComLink::OnFlagChar);
    if (Holds(w)) DoRxFlag();
}

void TCustomComPort::HandleError() {
    const TComErrors errors = LineErrors();
    if (!errors.Empty()) DoError(errors);
}

void TCustomComPort::HandleRx80Full() { DoRx80Full(); }

// Each part stops the open once the port is no longer opening: a handler closed it.
void TCustomComPort::AfterOpenStep(const Watch& w) {
    BroadcastState(&TComLink::OnConnection, true);
    if (Holds(w)) DoAfterOpen();
    if (Holds(w)) HandleCTSChange();
    if (Holds(w)) HandleDSRChange();
    if (Holds(w)) HandleRLSDChange();
}

void TCustomComPort::BeforeCloseStep(const Watch& w) {
    BroadcastState(&TComLink::OnCTSLine, false);
    if (Holds(w)) BroadcastState(&TComLink::OnDSRLine, false);
    if (Holds(w)) BroadcastState(&TComLink::OnRLSDLine, false);
    if (Holds(w)) DoCTSChange(false);
    if (Holds(w)) DoDSRChange(false);
    if (Holds(w)) DoRLSDChange(false);
    if (Holds(w)) DoBeforeClose();
}

void TCustomComPort::AfterCloseStep() {
    const Watch w = Watching();
    BroadcastState(&TComLink::OnConnection, false);
    if (Holds(w)) DoAfterClose();
}

std::intptr_t TCustomComPort::WindowMethod(unsigned message, std::uintptr_t wParam,
                                           std::intptr_t /*lParam*/) {
    if (message != CM_COMPORT) return 0;
    // The framework has already let a sender on another thread go on. A step that arrives
    // after the port closed has nothing left to act on.
    framework::Guarded([&] {
        if (!connected_) return;
        switch (wParam) {
        case device::EV_RXCHAR: HandleRxChar(); break;
        case device::EV_RXFLAG: HandleRxFlag(); break;
        case device::EV_TXEMPTY: HandleTxEmpty(); break;
        case device::EV_CTS: HandleCTSChange(); break;
        case device::EV_DSR: HandleDSRChange(); break;
        case device::EV_RLSD: HandleRLSDChange(); break;
        case device::EV_BREAK: HandleBreak(); break;
        case device::EV_ERR: HandleError(); break;
        case device::EV_RING: HandleRing(); break;
        case device::EV_RX80FULL: HandleRx80Full(); break;
        default: break;
        }
    });
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Event hooks

void TCustomComPort::DoAfterClose() { if (OnAfterClose) OnAfterClose(this); }
void TCustomComPort::DoAfterOpen() { if (OnAfterOpen) OnAfterOpen(this); }
void TCustomComPort::DoBeforeClose() { if (OnBeforeClose) OnBeforeClose(this); }
void TCustomComPort::DoBeforeOpen() { if (OnBeforeOpen) OnBeforeOpen(this); }
void TCustomComPort::DoRxChar(std::int32_t count) { if (OnRxChar) OnRxChar(this, count); }
void TCustomComPort::DoRxBuf(const std::uint8_t* buffer, std::int32_t count) {
    if (OnRxBuf) OnRxBuf(this, buffer, count);
}
void TCustomComPort::DoTxEmpty() { if (OnTxEmpty) OnTxEmpty(this); }
void TCustomComPort::DoBreak() { if (OnBreak) OnBreak(this); }
void TCustomComPort::DoRing() { if (OnRing) OnRing(this); }
void TCustomComPort::DoRxFlag() { if (OnRxFlag) OnRxFlag(this); }
void TCustomComPort::DoCTSChange(bool on) { if (OnCTSChange) OnCTSChange(this, on); }
void TCustomComPort::DoDSRChange(bool on) { if (OnDSRChange) OnDSRChange(this, on); }
void TCustomComPort::DoError(TComErrors errors) { if (OnError) OnError(this, errors); }
void TCustomComPort::DoRLSDChange(bool on) { if (OnRLSDChange) OnRLSDChange(this, on); }
void TCustomComPort::DoRx80Full() { if (OnRx80Full) OnRx80Full(this); }

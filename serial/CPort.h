#pragma once
// The serial port component: the port object with its settings, device I/O, event thread and
// listener links.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ComSettings.h"
#include "ComThread.h"
#include "ComTypes.h"
#include "Component.h"
#include "Device.h"
#include "Errors.h"
#include "Sync.h"

class TCustomComPort;
class TIniFile;
class TKeyStore;

// The serial component's error: a failure code 1..24 and the system error number (-1: none).
class EComPort : public Exception {
public:
    EComPort(std::string message, std::int32_t systemCode, std::int32_t failureCode)
        : Exception(std::move(message)), SystemCode(systemCode), FailureCode(failureCode) {}
    // The failure without a system error: its table text, SystemCode -1.
    explicit EComPort(TComExceptions failure)
        : EComPort(ComFailureTexts[static_cast<std::size_t>(failure)], -1,
                   static_cast<std::int32_t>(failure) + 1) {}
    std::int32_t SystemCode;
    std::int32_t FailureCode;
};

using TComExceptionEvent =
    std::function<void(TObject* Sender, TComExceptions TComException,
                       const std::string& ComportMessage, std::int64_t WinError,
                       const std::string& WinMessage)>;
using TRxCharEvent = std::function<void(TObject* Sender, std::int32_t Count)>;
using TRxBufEvent =
    std::function<void(TObject* Sender, const std::uint8_t* Buffer, std::int32_t Count)>;
using TComSignalEvent = std::function<void(TObject* Sender, bool OnOff)>;
using TComErrorEvent = std::function<void(TObject* Sender, TComErrors Errors)>;

// A listener's record: eleven optional callbacks through which a component hears a port.
// Owned by the listening component, which detaches it before freeing it.
class TComLink {
public:
    using StateSlot = std::function<void(TObject* Sender, bool OnOff)>;
    using DataSlot =
        std::function<void(TObject* Sender, const std::uint8_t* Buffer, std::int32_t Count)>;
    using EventSlot = std::function<void(TObject* Sender)>;

    StateSlot OnConnection;
    DataSlot OnRxData;
    DataSlot OnTxData;
    EventSlot OnTxQueueEmpty;
    EventSlot OnFlagChar;
    StateSlot OnCTSLine;
    StateSlot OnDSRLine;
    StateSlot OnRLSDLine;
    EventSlot OnRingLine;
    StateSlot OnTxActivity;
    StateSlot OnRxActivity;
};

// The record of one read or write.
enum TComAsyncKind : std::uint8_t { akWrite, akRead };
struct TComAsyncOp {
    device::AsyncOp Overlapped;
    TComAsyncKind Kind = akWrite;
    std::unique_ptr<std::uint8_t[]> Data;  // copy of the written bytes, for the links
    std::int32_t Size = 0;
};

// Where the port is in its life. Opening and closing are transitions: a nested open or close
// requested while one runs (a handler, or a click served while a listener pumps messages) is
// ignored, except that a close during an open whose device is already up closes the port and
// stops the rest of the open. Every hook and broadcast fires once per real transition.
enum TPortState : std::uint8_t { psClosed, psOpening, psOpen, psClosing };

class TCustomComPort : public TComponent {
public:
    explicit TCustomComPort(TComponent* owner = nullptr);
    ~TCustomComPort() override;
    const char* ClassName() const override { return "TCustomComPort"; }

    // Settings persistence: the groups selected by StoredProps, into or out of an open store.
    // Every value read goes through its property setter, so an open port applies it at once.
    virtual void WriteSettingsToRegistry(TKeyStore& key);
    virtual void WriteSettingsToIni(TIniFile& ini);
    virtual void ReadSettingsFromRegistry(TKeyStore& key);
    virtual void ReadSettingsFromIni(TIniFile& ini);

    // The device the port drives; a test hands in its own before opening. Refused while open.
    void SetDevice(std::unique_ptr<device::Device> device);
    device::Device& Device();

    // --- settings ---
    TBaudRate BaudRate() const { return baudRate_; }
    void SetBaudRate(TBaudRate value);
    std::int32_t CustomBaudRate() const { return customBaudRate_; }
    void SetCustomBaudRate(std::int32_t value);
    const std::string& Port() const { return port_; }
    void SetPort(const std::string& value);
    TStopBits StopBits() const { return stopBits_; }
    void SetStopBits(TStopBits value);
    TDataBits DataBits() const { return dataBits_; }
    void SetDataBits(TDataBits value);
    bool DiscardNull() const { return discardNull_; }
    void SetDiscardNull(bool value);
    std::uint8_t EventChar() const { return eventChar_; }
    void SetEventChar(std::uint8_t value);
    TComEvents Events() const { return events_; }
    void SetEvents(TComEvents value) { events_ = value; }
    TStoredProps StoredProps() const { return storedProps_; }
    void SetStoredProps(TStoredProps value) { storedProps_ = value; }
    TSyncMethod SyncMethod() const { return syncMethod_; }
    void SetSyncMethod(TSyncMethod value);
    std::uint32_t CodePage() const { return codePage_; }
    void SetCodePage(std::uint32_t value) { codePage_ = value; }

    // The port's own settings objects. Writing copies the given object's values in (the
    // caller keeps it) and re-applies unconditionally.
    TComParity& Parity() { return *parity_; }
    TComFlowControl& FlowControl() { return *flowControl_; }
    TComTimeouts& Timeouts() { return *timeouts_; }
    TComBuffer& Buffer() { return *buffer_; }
    void SetParity(const TComParity& value);
    void SetFlowControl(const TComFlowControl& value);
    void SetTimeouts(const TComTimeouts& value);
    void SetBuffer(const TComBuffer& value);

    bool Connected() const { return connected_; }
    TPortState State() const { return state_; }
    void SetConnected(bool value);
    // On only when the stored flag is on and no link listens for received buffers.
    bool TriggersOnRxChar() const { return triggersOnRxChar_ && !hasBufferLink_; }
    void SetTriggersOnRxChar(bool value);

    // --- events ---
    TRxCharEvent OnRxChar;
    TRxBufEvent OnRxBuf;
    TNotifyEvent OnTxEmpty;
    TNotifyEvent OnBreak;
    TNotifyEvent OnRing;
    TComSignalEvent OnCTSChange;
    TComSignalEvent OnDSRChange;
    TComSignalEvent OnRLSDChange;
    TComErrorEvent OnError;
    TNotifyEvent OnRxFlag;
    TNotifyEvent OnAfterOpen;
    TNotifyEvent OnAfterClose;
    TNotifyEvent OnBeforeOpen;
    TNotifyEvent OnBeforeClose;
    TNotifyEvent OnRx80Full;
    TComExceptionEvent OnException;

    // --- lifecycle and I/O ---
    void OpenPort();
    void ClosePort();
    virtual void OpenDevice();
    virtual void CloseDevice();
    virtual void ConfigurePort();
    virtual void ApplyLineSettings();
    virtual void ApplyTimeoutSettings();
    virtual void ApplyBufferSizes();

    void NewAsyncOperation(TComAsyncOp*& op);
    void FreeAsyncOperation(TComAsyncOp*& op);
    std::int32_t BeginWrite(const void* buffer, std::int32_t count, TComAsyncOp* op);
    std::int32_t BeginWriteText(const std::string& text, TComAsyncOp* op);
    std::int32_t WriteText(const std::string& text);
    std::int32_t BeginRead(void* buffer, std::int32_t count, TComAsyncOp* op);
    std::int32_t ReadBlock(void* buffer, std::int32_t count);
    std::int32_t CompleteAsync(TComAsyncOp* op);
    void AbortPendingIO();
    std::int32_t InputPending();
    TComSignals ModemSignals();
    TComErrors LineErrors();

    // Raises EComPort for the failure, or hands it to OnException when set. The failure code
    // of the error is the member's number in the failure table (1..24).
    void ReportComError(TComExceptions failure, std::int64_t systemError);
    void ReportComError(int code, std::int64_t systemError);

    // --- links and event dispatch ---
    void AttachLink(TComLink* link);
    void DetachLink(TComLink* link);
    void BroadcastState(TComLink::StateSlot TComLink::*slot, bool OnOff);
    void BroadcastEvent(TComLink::EventSlot TComLink::*slot);
    void BroadcastTxData(const std::uint8_t* buffer, std::int32_t count);

    void RunEventSteps(TComEvents events);
    void HandleRxChar();
    void HandleTxEmpty();
    void HandleBreak();
    void HandleRing();
    void HandleCTSChange();
    void HandleDSRChange();
    void HandleRLSDChange();
    void HandleRxFlag();
    void HandleError();
    void HandleRx80Full();

    // The event thread while one runs (null otherwise), and the notify target under
    // smWindowSync.
    TComThread* EventThread() const { return eventThread_.get(); }
    framework::MessageTarget* NotifyWindow() const { return notifyWindow_.get(); }

    void Loaded() override;

protected:
    // Event hooks: each fires its handler when one is set.
    virtual void DoAfterClose();
    virtual void DoAfterOpen();
    virtual void DoBeforeClose();
    virtual void DoBeforeOpen();
    virtual void DoRxChar(std::int32_t count);
    virtual void DoRxBuf(const std::uint8_t* buffer, std::int32_t count);
    virtual void DoTxEmpty();
    virtual void DoBreak();
    virtual void DoRing();
    virtual void DoRxFlag();
    virtual void DoCTSChange(bool OnOff);
    virtual void DoDSRChange(bool OnOff);
    virtual void DoError(TComErrors errors);
    virtual void DoRLSDChange(bool OnOff);
    virtual void DoRx80Full();

private:
    // What a run of callbacks holds on to: the port still exists, and since the run started no
    // open has begun and no close has got past stopping the event thread. A handler may close,
    // reopen or free the port.
    struct Watch {
        const TCustomComPort* port;
        std::weak_ptr<const char> alive;
        std::uint64_t epoch;
    };
    Watch Watching() const { return {this, life_, epoch_.load()}; }
    static bool Holds(const Watch& w) { return !w.alive.expired() && w.port->epoch_ == w.epoch; }
    // Open, or opening with the device up: a close would have something to close.
    bool Live() const;
    void BeginTransition(TPortState state);
    template <typename Fn>
    void ForEachLink(Fn&& call);
    bool AnyLink(TComLink::DataSlot TComLink::*slot) const;

    // Open, and neither loading nor designing: settings go to the device at once.
    bool CanApply() const;
    void StartEventThread();
    void StopEventThread();
    void FinishClose();
    void AfterOpenStep(const Watch& w);
    void BeforeCloseStep(const Watch& w);
    void AfterCloseStep();
    std::intptr_t WindowMethod(unsigned message, std::uintptr_t wParam, std::intptr_t lParam);

    std::unique_ptr<TComThread> eventThread_;
    bool threadCreated_ = false;
    std::unique_ptr<device::Device> device_;
    std::unique_ptr<framework::MessageTarget> notifyWindow_;
    std::vector<TComLink*> links_;  // not owned, in attach order
    bool triggersOnRxChar_ = true;
    bool hasBufferLink_ = false;
    std::atomic<bool> connected_{false};  // the device is open and configured
    std::atomic<TPortState> state_{psClosed};
    std::atomic<std::uint64_t> epoch_{0};  // counts opens begun and closes under way
    bool closeRequested_ = false;          // a close asked for before the device was up
    std::shared_ptr<const char> life_ = std::make_shared<const char>('\0');

    TBaudRate baudRate_ = br9600;
    std::int32_t customBaudRate_ = 9600;
    std::string port_ = "COM1";
    TStopBits stopBits_ = sbOneStopBit;
    TDataBits dataBits_ = dbEight;
    bool discardNull_ = false;
    std::uint8_t eventChar_ = 0;
    TComEvents events_ = kAllComEvents;
    std::unique_ptr<TComBuffer> buffer_;
    std::unique_ptr<TComParity> parity_;
    std::unique_ptr<TComTimeouts> timeouts_;
    std::unique_ptr<TComFlowControl> flowControl_;
    TSyncMethod syncMethod_ = smThreadSync;
    TStoredProps storedProps_{spBasic};
    std::uint32_t codePage_ = 0;
};

// The port as components use it: everything published.
class TComPort : public TCustomComPort {
public:
    using TCustomComPort::TCustomComPort;
    const char* ClassName() const override { return "TComPort"; }
};

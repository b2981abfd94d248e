// Links, event steps and the three ways a batch of events reaches them, on a fake device.

#include <atomic>
#include <cerrno>
#include <thread>

#include "PortTestSupport.h"

namespace {

using namespace porttest;
using Call = FakeDevice::Call;
using Strings = std::vector<std::string>;

// An open port without an event thread, so a test drives the steps itself.
struct QuietPort : FakePort {
    QuietPort() {
        port.SetEvents({});
        port.SetConnected(true);
    }
};

TEST(Links, AttachingTwiceOrDetachingAStrangerIsRefused) {
    TComPort port;
    TComLink link;
    port.AttachLink(&link);
    ExpectComError([&] { port.AttachLink(&link); }, 18, "Link (un)registration failed", -1);
    port.DetachLink(&link);
    ExpectComError([&] { port.DetachLink(&link); }, 18, "Link (un)registration failed", -1);
}

TEST(Links, BufferLinkMakesTriggersOnRxCharReadOffAndRefusesWrites) {
    TComPort port;
    TComLink plain, buffered;
    buffered.OnRxData = [](TObject*, const std::uint8_t*, std::int32_t) {};
    port.AttachLink(&plain);
    EXPECT_TRUE(port.TriggersOnRxChar());
    port.AttachLink(&buffered);
    EXPECT_FALSE(port.TriggersOnRxChar());
    ExpectComError([&] { port.SetTriggersOnRxChar(false); }, 22,
                   "A component is linked to OnRxBuf event", -1);
    port.DetachLink(&buffered);
    EXPECT_TRUE(port.TriggersOnRxChar()) << "the refused write changed nothing";
    port.DetachLink(&plain);
}

// The four cases of who reads received bytes.
TEST(RxCharStep, WhoReadsTheBytes) {
    struct Case {
        const char* name;
        bool storedFlag;
        bool bufferLink;
        Strings expected;
    };
    const Case cases[] = {
        {"flag on, no buffer link", true, false,
         {"link:RxActivity(on)", "RxChar(5)"}},
        {"flag on, buffer link", true, true,
         {"link:RxActivity(on)", "link:RxActivity(off)", "RxBuf(hello)", "link:RxData(hello)"}},
        {"flag off, no buffer link", false, false,
         {"link:RxActivity(on)", "link:RxActivity(off)", "RxBuf(hello)"}},
        {"flag off, buffer link", false, true,
         {"link:RxActivity(on)", "link:RxActivity(off)", "RxBuf(hello)", "link:RxData(hello)"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QuietPort p;
        p.port.SetTriggersOnRxChar(c.storedFlag);
        Recorder r(p.port, c.bufferLink);
        r.Take();
        p.fake->InjectReceived("hello");
        p.port.RunEventSteps({evRxChar});
        EXPECT_EQ(r.Take(), c.expected);
        EXPECT_EQ(p.fake->Queued(), c.storedFlag && !c.bufferLink ? 5u : 0u);
    }
}

TEST(RxCharStep, OneReadSharedByEveryLinkInAttachOrder) {
    QuietPort p;
    Strings log;
    TComLink a, b, c;
    a.OnRxData = [&](TObject*, const std::uint8_t* d, std::int32_t n) {
        log.push_back("a:" + std::string(reinterpret_cast<const char*>(d), std::size_t(n)));
    };
    c.OnRxData = [&](TObject*, const std::uint8_t* d, std::int32_t n) {
        log.push_back("c:" + std::string(reinterpret_cast<const char*>(d), std::size_t(n)));
    };
    p.port.AttachLink(&a);
    p.port.AttachLink(&b);
    p.port.AttachLink(&c);
    p.fake->InjectReceived(std::string("<Idle|\0>\r\n", 10));
    p.fake->ClearCalls();
    p.port.HandleRxChar();
    EXPECT_EQ(log, (Strings{"a:" + std::string("<Idle|\0>\r\n", 10),
                            "c:" + std::string("<Idle|\0>\r\n", 10)}));
    EXPECT_EQ(p.fake->CallCount(Call::BeginRead), 1u);
    p.port.DetachLink(&a);
    p.port.DetachLink(&b);
    p.port.DetachLink(&c);
}

TEST(RxCharStep, NothingWaitingNotifiesNothing) {
    QuietPort p;
    Recorder r(p.port, true);
    r.Take();
    p.port.HandleRxChar();
    EXPECT_TRUE(r.Take().empty());
    EXPECT_EQ(p.fake->CallCount(Call::BeginRead), 0u);
}

TEST(RxCharStep, AThrowingLinkStillFreesTheBlockAndSkipsRxChar) {
    QuietPort p;
    Recorder r(p.port);
    r.Take();
    TComLink thrower;
    thrower.OnRxData = [](TObject*, const std::uint8_t*, std::int32_t) {
        throw std::runtime_error("handler failed");
    };
    p.port.AttachLink(&thrower);
    p.fake->InjectReceived("abc");
    EXPECT_THROW(p.port.HandleRxChar(), std::runtime_error);
    const Strings log = r.Take();
    EXPECT_EQ(std::count(log.begin(), log.end(), "RxChar(3)"), 0);
    p.port.DetachLink(&thrower);
}

TEST(EventSteps, FixedOrderWithErrorsBeforeTheBytes) {
    QuietPort p;
    p.port.SetTriggersOnRxChar(false);
    p.fake->SetModemLines(device::MS_CTS_ON);
    Recorder r(p.port);
    r.Take();
    p.fake->InjectReceived("ok\n");
    p.fake->LineError(device::CE_FRAME);
    p.port.RunEventSteps(kAllComEvents);
    const Strings expected = {"Error(1)",
                              "link:RxActivity(on)", "link:RxActivity(off)", "RxBuf(ok\n)",
                              "link:TxActivity(off)", "link:TxQueueEmpty", "TxEmpty",
                              "Break",
                              "link:RingLine", "Ring",
                              "link:CTSLine(on)", "CTSChange(on)",
                              "link:DSRLine(off)", "DSRChange(off)",
                              "link:FlagChar", "RxFlag",
                              "link:RLSDLine(off)", "RLSDChange(off)",
                              "Rx80Full"};
    EXPECT_EQ(r.Take(), expected);
}

TEST(EventSteps, ErrorStepWithoutErrorsFiresNothing) {
    QuietPort p;
    Recorder r(p.port);
    r.Take();
    p.port.RunEventSteps({evError});
    EXPECT_TRUE(r.Take().empty());
}

// --- delivery through the event thread -------------------------------------------------------

TEST(ThreadSync, BatchesRunOnTheGuiThreadWhileTheEventThreadWaits) {
    FakePort p;
    p.port.SetTriggersOnRxChar(false);
    std::string received;
    bool onGuiThread = false;
    p.port.OnRxBuf = [&](TObject*, const std::uint8_t* d, std::int32_t n) {
        received.append(reinterpret_cast<const char*>(d), std::size_t(n));
        onGuiThread = framework::IsMainThread();
    };
    p.port.SetConnected(true);
    p.fake->InjectReceived("<Idle|WPos:1.000,2.000,3.000>\r\n");
    ASSERT_TRUE(ServeUntil([&] { return !received.empty(); }));
    EXPECT_EQ(received, "<Idle|WPos:1.000,2.000,3.000>\r\n");
    EXPECT_TRUE(onGuiThread);
    p.port.SetConnected(false);
}

TEST(ThreadSync, UnknownMaskBitsRunNoStepAndFailedResultsDeliverNothing) {
    FakePort p;
    Recorder r(p.port);
    p.port.SetConnected(true);
    r.Take();
    const std::uint64_t before = p.fake->WakeUps();
    p.fake->ScriptWait(device::WaitResult::ResultFailed);
    p.fake->InjectEvents(device::EV_PERR);
    ASSERT_TRUE(p.fake->AwaitWakeUps(before + 2, 10s));
    framework::CheckSynchronize(50ms);
    EXPECT_TRUE(r.Take().empty());
    EXPECT_NE(p.port.EventThread(), nullptr);
    p.port.SetConnected(false);
}

TEST(ThreadSync, WriteThenTransmitEmpty) {
    FakePort p;
    Recorder r(p.port);
    p.port.SetConnected(true);
    r.Take();
    p.port.WriteText("G0 X1\r");
    ASSERT_TRUE(ServeUntil([&] { return r.log.size() >= 5; }));
    const Strings expected = {"link:TxActivity(on)", "link:TxData(G0 X1\r)",
                              "link:TxActivity(off)", "link:TxQueueEmpty", "TxEmpty"};
    EXPECT_EQ(r.Take(), expected);
    p.port.SetConnected(false);
}

// An error from a handler is shown through the default report and the thread goes on: a
// port that reads "connected" must not turn deaf.
// The written bytes are copied for the links only when one listens for sent data.
TEST(Writes, CopiedOnlyForALinkWithASentDataSlot) {
    for (const bool listening : {false, true}) {
        SCOPED_TRACE(listening);
        QuietPort p;
        TComLink link;
        Strings heard;
        if (listening)
            link.OnTxData = [&](TObject*, const std::uint8_t* b, std::int32_t n) {
                heard.emplace_back(reinterpret_cast<const char*>(b), std::size_t(n));
            };
        p.port.AttachLink(&link);
        TComAsyncOp* op = nullptr;
        p.port.NewAsyncOperation(op);
        p.port.BeginWriteText("G0 X1\r", op);
        EXPECT_EQ(op->Data != nullptr, listening);
        EXPECT_EQ(p.port.CompleteAsync(op), 6);
        p.port.FreeAsyncOperation(op);
        EXPECT_EQ(heard, listening ? Strings{"G0 X1\r"} : Strings{});
        EXPECT_EQ(p.fake->WrittenText(), "G0 X1\r");
        p.port.DetachLink(&link);
    }
}

TEST(ThreadSync, AFailingStepIsShownAndTheThreadGoesOnListening) {
    FakePort p;
    std::vector<std::string> shown;
    framework::SetDefaultErrorReport([&](const std::string& m) { shown.push_back(m); });
    int breaks = 0;
    p.port.OnBreak = [&](TObject*) {
        ++breaks;
        throw std::runtime_error("step failed");
    };
    p.port.SetConnected(true);
    p.fake->Break();
    ASSERT_TRUE(ServeUntil([&] { return !shown.empty(); }));
    p.fake->Break();
    EXPECT_TRUE(ServeUntil([&] { return breaks == 2; })) << "the thread stopped listening";
    EXPECT_FALSE(p.port.EventThread()->Finished());
    p.port.SetConnected(false);
    framework::SetDefaultErrorReport(nullptr);
    EXPECT_FALSE(p.fake->IsOpen());
    EXPECT_EQ(shown, (std::vector<std::string>{"step failed", "step failed"}));
}

TEST(ThreadSync, AFailedWaitEndsTheLoopAndCleansUp) {
    FakePort p;
    p.fake->ScriptWait(device::WaitResult::WaitFailed);
    p.port.SetConnected(true);
    ASSERT_TRUE(ServeUntil([&] { return p.port.EventThread()->Finished(); }));
    EXPECT_EQ(p.fake->Mask(), 0u);
    EXPECT_TRUE(p.port.Connected());
    p.port.SetConnected(false);
}

TEST(ThreadSync, ClosingWhileADeliveryIsInFlightDoesNotDeadlock) {
    FakePort p;
    std::atomic<int> batches{0};
    p.port.OnRxChar = [&](TObject*, std::int32_t) { ++batches; };
    p.port.SetConnected(true);
    p.fake->InjectReceived("x");
    // The event thread is now blocked handing the batch over; the close has to serve it.
    ASSERT_TRUE(p.fake->AwaitWakeUps(1, 10s));
    p.port.SetConnected(false);
    EXPECT_EQ(batches.load(), 1);
    EXPECT_EQ(p.port.EventThread(), nullptr);
}

TEST(NoSync, StepsRunOnTheEventThread) {
    FakePort p;
    p.port.SetSyncMethod(smNone);
    std::atomic<bool> ran{false};
    std::atomic<bool> onGui{true};
    p.port.OnRing = [&](TObject*) {
        onGui = framework::IsMainThread();
        ran = true;
    };
    p.port.SetConnected(true);
    p.fake->Ring();
    ASSERT_TRUE(p.fake->AwaitWakeUps(1, 10s));
    // The step runs after the wake-up on the event thread; the close waits for it.
    p.port.SetConnected(false);
    EXPECT_TRUE(ran);
    EXPECT_FALSE(onGui);
}

TEST(WindowSync, OneMessagePerEventWithTheDeviceBit) {
    FakePort p;
    p.port.SetSyncMethod(smWindowSync);
    Recorder r(p.port);
    p.port.SetConnected(true);
    ASSERT_NE(p.port.NotifyWindow(), nullptr);
    r.Take();
    p.fake->SetModemLines(device::MS_RLSD_ON);
    ASSERT_TRUE(ServeUntil([&] { return r.log.size() >= 2; }));
    EXPECT_EQ(r.Take(), (Strings{"link:RLSDLine(on)", "RLSDChange(on)"}));
    p.port.SetConnected(false);
    EXPECT_EQ(p.port.NotifyWindow(), nullptr);
}

TEST(WindowSync, MessageAfterCloseRunsNoStepAndStepErrorsGoToTheReport) {
    FakePort p;
    p.port.SetSyncMethod(smWindowSync);
    p.port.SetEvents({evRing});
    std::string shown;
    framework::SetDefaultErrorReport([&](const std::string& m) { shown = m; });
    int rings = 0;
    p.port.OnRing = [&](TObject*) {
        ++rings;
        throw Exception("ring failed");
    };
    p.port.SetConnected(true);
    framework::MessageTarget* window = p.port.NotifyWindow();
    window->Send(CM_COMPORT, device::EV_RING, 0);  // on the GUI thread: handled at once
    EXPECT_EQ(rings, 1);
    EXPECT_EQ(shown, "ring failed");
    window->Send(CM_COMPORT, 0x0200, 0);  // no step for an unknown bit
    window->Send(1024, device::EV_RING, 0);  // not ours
    EXPECT_EQ(rings, 1);
    p.port.SetConnected(false);
    framework::SetDefaultErrorReport(nullptr);
}

TEST(Destruction, ALinkOwnerCanDetachWhileThePortIsBeingDestroyed) {
    // A component that binds to a port, as the framer and the LED do.
    struct Listener : TComponent {
        TCustomComPort* port = nullptr;
        TComLink link;
        void Bind(TCustomComPort* p) {
            port = p;
            port->AttachLink(&link);
            FreeNotification(port);
        }
        void Notification(TComponent* c, TOperation op) override {
            TComponent::Notification(c, op);
            if (op == TOperation::opRemove && c == port) {
                port->DetachLink(&link);  // the port's link list is still there
                port = nullptr;
            }
        }
    } listener;
    bool closedHeard = false;
    listener.link.OnConnection = [&](TObject*, bool on) { closedHeard = !on; };
    {
        FakePort p;
        listener.Bind(&p.port);
        p.port.SetConnected(true);
    }
    EXPECT_EQ(listener.port, nullptr);
    EXPECT_TRUE(closedHeard);
}

}  // namespace

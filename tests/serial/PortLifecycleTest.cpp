// Opening, closing, configuring and the failure reports of the port, on a fake device.

#include <cerrno>
#include <functional>

#include "PortTestSupport.h"

namespace {

using namespace porttest;
using Call = FakeDevice::Call;
using Strings = std::vector<std::string>;

TEST(PortOpen, CallsTheDeviceInOrderAndMapsThePortName) {
    FakePort p;
    p.port.SetPort("COM3");
    p.port.SetConnected(true);
    EXPECT_TRUE(p.port.Connected());
    EXPECT_EQ(p.fake->OpenPath(), "/dev/ttyS2");
    const Strings expected = {"Open", "SetupComm", "SetCommState", "SetCommTimeouts",
                              "SetCommMask", "GetModemStatus", "GetModemStatus",
                              "GetModemStatus"};
    EXPECT_EQ(p.fake->CallsExceptWaits(), expected);
    EXPECT_EQ(p.fake->Mask(), 0x05FFu);
    ASSERT_NE(p.port.EventThread(), nullptr);
    EXPECT_EQ(p.port.NotifyWindow(), nullptr);
}

TEST(PortOpen, HooksLinksAndLineEventsComeInOrder) {
    FakePort p;
    // Line events stay out of the mask: the lines are set before the open and would otherwise
    // be reported again by the event thread.
    p.port.SetEvents({evRxChar, evTxEmpty});
    p.fake->SetModemLines(device::MS_CTS_ON | device::MS_RLSD_ON);
    Recorder r(p.port);
    p.port.SetConnected(true);
    const Strings opening = {"BeforeOpen",          "link:Connection(on)", "AfterOpen",
                             "link:CTSLine(on)",    "CTSChange(on)",       "link:DSRLine(off)",
                             "DSRChange(off)",      "link:RLSDLine(on)",   "RLSDChange(on)"};
    EXPECT_EQ(r.Take(), opening);

    p.port.SetConnected(false);
    const Strings closing = {"link:CTSLine(off)", "link:DSRLine(off)", "link:RLSDLine(off)",
                             "CTSChange(off)",    "DSRChange(off)",    "RLSDChange(off)",
                             "BeforeClose",       "link:Connection(off)", "AfterClose"};
    EXPECT_EQ(r.Take(), closing);
    EXPECT_FALSE(p.port.Connected());
    EXPECT_EQ(p.port.EventThread(), nullptr);
}

TEST(PortClose, AbortsIOStopsTheThreadAndCleansUpBeforeClosingTheDevice) {
    FakePort p;
    p.port.SetConnected(true);
    p.fake->ClearCalls();
    p.port.SetConnected(false);
    const Strings expected = {"Purge", "SetCommMask", "Purge", "Close"};
    EXPECT_EQ(p.fake->CallsExceptWaits(), expected);
    const std::vector<std::uint32_t> purges = {
        device::PURGE_TXABORT | device::PURGE_RXABORT,
        device::PURGE_TXCLEAR | device::PURGE_RXCLEAR};
    EXPECT_EQ(p.fake->Purges(), purges);
    EXPECT_EQ(p.fake->Mask(), 0u);
    EXPECT_FALSE(p.fake->IsOpen());
}

TEST(PortOpen, OpeningAnOpenPortAndClosingAClosedOneDoNothing) {
    FakePort p;
    Recorder r(p.port);
    p.port.ClosePort();
    EXPECT_TRUE(r.Take().empty());
    EXPECT_TRUE(p.fake->Calls().empty());
    p.port.OpenPort();
    r.Take();
    p.fake->ClearCalls();
    p.port.OpenPort();
    p.port.SetConnected(true);
    EXPECT_TRUE(r.Take().empty());
    EXPECT_TRUE(p.fake->CallsExceptWaits().empty());
}

TEST(PortOpen, WithoutEventsThereIsNoThreadButLinksStillHear) {
    FakePort p;
    p.port.SetEvents({});
    Recorder r(p.port);
    p.port.SetConnected(true);
    EXPECT_EQ(p.port.EventThread(), nullptr);
    EXPECT_EQ(p.fake->CallCount(Call::SetCommMask), 0u);
    EXPECT_EQ(r.Take().size(), 9u);
    p.port.SetConnected(false);
    EXPECT_EQ(p.fake->CallCount(Call::SetCommMask), 0u);
    EXPECT_EQ(r.Take().size(), 9u);
}

TEST(PortOpen, DesignModeNeitherOpensNorCloses) {
    FakePort p;
    p.port.SetDesigning(true);
    p.port.OpenPort();
    EXPECT_FALSE(p.port.Connected());
    EXPECT_TRUE(p.fake->Calls().empty());
}

TEST(PortOpen, MissingDeviceFailsWithCodeOneAndTheSystemNumber) {
    FakePort p;
    p.fake->Fail(Call::Open, ENOENT);
    Recorder r(p.port);
    ExpectComError([&] { p.port.SetConnected(true); }, 1,
                   "Unable to open com port (Error: " + std::to_string(ENOENT) + ")", ENOENT);
    EXPECT_FALSE(p.port.Connected());
    EXPECT_EQ(r.Take(), Strings{"BeforeOpen"});
}

TEST(PortOpen, RefusedConfigurationClosesTheDeviceAgain) {
    struct Case {
        Call call;
        int code;
        const char* text;
    };
    const Case cases[] = {{Call::SetupComm, 9, "SetupComm function failed"},
                          {Call::SetCommState, 7, "SetCommState function failed"},
                          {Call::SetCommTimeouts, 8, "SetCommTimeouts failed"}};
    for (const auto& c : cases) {
        FakePort p;
        p.fake->Fail(c.call, EINVAL);
        Recorder r(p.port);
        ExpectComError([&] { p.port.SetConnected(true); }, c.code,
                       std::string(c.text) + " (Error: " + std::to_string(EINVAL) + ")", EINVAL);
        EXPECT_FALSE(p.port.Connected()) << c.text;
        EXPECT_FALSE(p.fake->IsOpen()) << c.text;
        EXPECT_EQ(p.port.EventThread(), nullptr);
        EXPECT_EQ(r.Take(), Strings{"BeforeOpen"}) << c.text;
    }
}

TEST(PortClose, PurgeFailureLeavesThePortOpen) {
    FakePort p;
    p.port.SetConnected(true);
    p.fake->FailOnce(Call::Purge, EIO);
    ExpectComError([&] { p.port.SetConnected(false); }, 5,
                   "PurgeComm function failed (Error: " + std::to_string(EIO) + ")", EIO);
    EXPECT_TRUE(p.port.Connected());
    EXPECT_TRUE(p.fake->IsOpen());
    EXPECT_NE(p.port.EventThread(), nullptr);
    p.port.SetConnected(false);
    EXPECT_FALSE(p.fake->IsOpen());
}

TEST(PortClose, DestroyingAnOpenPortClosesItWithItsHooks) {
    std::vector<std::string> log;
    FakeDevice* fake = nullptr;
    {
        FakePort p;
        fake = p.fake;
        p.port.SetConnected(true);
        p.port.OnBeforeClose = [&](TObject*) { log.push_back("BeforeClose"); };
        p.port.OnAfterClose = [&](TObject*) { log.push_back("AfterClose"); };
    }
    EXPECT_EQ(log, (Strings{"BeforeClose", "AfterClose"}));
    (void)fake;  // destroyed with the port
}

TEST(PortSettings, DeviceControlBlockIsBuiltFieldByField) {
    FakePort p;
    p.port.SetConnected(true);
    device::DeviceControlBlock dcb = p.fake->Dcb();
    EXPECT_EQ(dcb.DCBlength, 28u);
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_TRUE(dcb.fBinary);
    EXPECT_FALSE(dcb.fParity);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, 0);
    EXPECT_EQ(dcb.StopBits, 0);
    EXPECT_EQ(dcb.fDtrControl, device::DTR_CONTROL_DISABLE);
    EXPECT_EQ(dcb.fRtsControl, device::RTS_CONTROL_DISABLE);
    EXPECT_EQ(dcb.XonLim, 256);
    EXPECT_EQ(dcb.XoffLim, 256);
    EXPECT_EQ(dcb.XonChar, 17);
    EXPECT_EQ(dcb.XoffChar, 19);
    EXPECT_FALSE(dcb.fErrorChar);

    p.port.Buffer().SetInputSize(400);
    p.port.SetBaudRate(brCustom);
    p.port.SetCustomBaudRate(250000);
    p.port.SetDataBits(dbSeven);
    p.port.SetStopBits(sbOne5StopBits);
    p.port.Parity().SetBits(prMark);
    p.port.Parity().SetReplaceChar('?');
    p.port.Parity().SetReplace(true);
    dcb = p.fake->Dcb();
    EXPECT_FALSE(dcb.fErrorChar) << "replacing needs the parity check";
    EXPECT_EQ(dcb.ErrorChar, 0);
    p.port.Parity().SetCheck(true);
    p.port.FlowControl().SetFlowControl(fcHardware);
    p.port.FlowControl().SetControlDTR(dtrHandshake);
    p.port.SetEventChar('\n');
    p.port.SetDiscardNull(true);
    dcb = p.fake->Dcb();
    EXPECT_EQ(dcb.BaudRate, 250000u);
    EXPECT_EQ(dcb.XonLim, 100);
    EXPECT_EQ(dcb.ByteSize, 7);
    EXPECT_EQ(dcb.StopBits, 1);
    EXPECT_EQ(dcb.Parity, 3);
    EXPECT_TRUE(dcb.fParity);
    EXPECT_TRUE(dcb.fErrorChar);
    EXPECT_EQ(dcb.ErrorChar, '?');
    EXPECT_TRUE(dcb.fOutxCtsFlow);
    EXPECT_EQ(dcb.fRtsControl, device::RTS_CONTROL_HANDSHAKE);
    EXPECT_EQ(dcb.fDtrControl, device::DTR_CONTROL_HANDSHAKE);
    EXPECT_EQ(dcb.EvtChar, '\n');
    EXPECT_TRUE(dcb.fNull);
}

TEST(PortSettings, TimeoutsGoOutWithMinusOneAsNoLimit) {
    FakePort p;
    p.port.SetConnected(true);
    const device::CommTimeouts expected{device::kNoLimit, 0, 0, 100, 1000};
    EXPECT_EQ(p.fake->Timeouts(), expected);
    p.port.Timeouts().SetReadTotalConstant(-2);
    EXPECT_EQ(p.fake->Timeouts().ReadTotalTimeoutConstant, 0xFFFFFFFEu);
}

TEST(PortSettings, ClosedPortMakesNoDeviceCallAndTakesValuesAtTheNextOpen) {
    FakePort p;
    p.port.SetBaudRate(br115200);
    p.port.Buffer().SetInputSize(8192);
    p.port.Timeouts().SetWriteTotalConstant(50);
    EXPECT_TRUE(p.fake->Calls().empty());
    p.port.SetConnected(true);
    EXPECT_EQ(p.fake->Dcb().BaudRate, 115200u);
    EXPECT_EQ(p.fake->InSize(), 8192u);
    EXPECT_EQ(p.fake->Timeouts().WriteTotalTimeoutConstant, 50u);
}

TEST(PortSettings, OpenPortAppliesChangesOnceAndEqualWritesNotAtAll) {
    FakePort p;
    p.port.SetConnected(true);
    p.fake->ClearCalls();
    p.port.SetBaudRate(br9600);
    p.port.Parity().SetBits(prNone);
    p.port.Timeouts().SetReadInterval(-1);
    p.port.Buffer().SetInputSize(1024);
    EXPECT_TRUE(p.fake->CallsExceptWaits().empty());
    p.port.SetBaudRate(br57600);
    p.port.Timeouts().SetReadInterval(10);
    p.port.Buffer().SetOutputSize(2048);
    const Strings expected = {"SetCommState", "SetCommTimeouts", "SetupComm"};
    EXPECT_EQ(p.fake->CallsExceptWaits(), expected);
}

TEST(PortSettings, RefusedSettingWhileOpenKeepsTheValueAndThePort) {
    FakePort p;
    p.port.SetConnected(true);
    p.fake->FailOnce(Call::SetCommState, EINVAL);
    EXPECT_THROW(p.port.SetBaudRate(br110), EComPort);
    EXPECT_EQ(p.port.BaudRate(), br110);
    EXPECT_TRUE(p.port.Connected());
}

TEST(PortProperties, PortNameWritesReopenOnlyOnAChange) {
    FakePort p;
    Recorder r(p.port);
    p.port.SetConnected(true);
    r.Take();
    p.port.SetPort("COM1");
    EXPECT_TRUE(r.Take().empty());
    p.port.SetPort("com1");  // compared case-sensitively: a change
    const Strings log = r.Take();
    EXPECT_NE(std::find(log.begin(), log.end(), "BeforeClose"), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "AfterClose"), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "BeforeOpen"), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "AfterOpen"), log.end());
    EXPECT_TRUE(p.port.Connected());
    EXPECT_EQ(p.fake->OpenPath(), "/dev/ttyS0");  // COMn names map case-insensitively
}

TEST(PortProperties, SyncMethodIsRefusedWhileOpen) {
    FakePort p;
    p.port.SetConnected(true);
    ExpectComError([&] { p.port.SetSyncMethod(smNone); }, 14,
                   "Cannot set property while connected", -1);
    EXPECT_EQ(p.port.SyncMethod(), smThreadSync);
    p.port.SetConnected(false);
    p.port.SetSyncMethod(smNone);
    EXPECT_EQ(p.port.SyncMethod(), smNone);
}

TEST(PortProperties, ConnectedWhileLoadingOpensAfterLoading) {
    FakePort p;
    p.port.BeginLoading();
    p.port.SetConnected(true);
    EXPECT_TRUE(p.fake->Calls().empty());
    p.port.Loaded();
    EXPECT_TRUE(p.port.Connected());
    EXPECT_TRUE(p.fake->IsOpen());
}

TEST(PortProperties, FailedOpenAfterLoadingGoesToTheDefaultReport) {
    FakePort p;
    p.fake->Fail(Call::Open, ENOENT);
    std::string shown;
    framework::SetDefaultErrorReport([&](const std::string& m) { shown = m; });
    p.port.BeginLoading();
    p.port.SetConnected(true);
    EXPECT_NO_THROW(p.port.Loaded());
    framework::SetDefaultErrorReport(nullptr);
    EXPECT_FALSE(p.port.Connected());
    EXPECT_EQ(shown, "Unable to open com port (Error: " + std::to_string(ENOENT) + ")");
}

TEST(PortIO, WritingOnAClosedPortIsPortNotOpenWithoutSuffix) {
    FakePort p;
    ExpectComError([&] { p.port.WriteText("G0\r"); }, 24, "Port Not Open", -1);
    std::uint8_t buf[4];
    ExpectComError([&] { p.port.ReadBlock(buf, 4); }, 24, "Port Not Open", -1);
}

TEST(PortIO, MissingOperationRecordIsInvalidAsync) {
    FakePort p;
    p.port.SetConnected(true);
    ExpectComError([&] { p.port.BeginWrite("x", 1, nullptr); }, 4, "Invalid Async parameter", -1);
    ExpectComError([&] { p.port.BeginRead(nullptr, 0, nullptr); }, 4, "Invalid Async parameter", -1);
    ExpectComError([&] { p.port.CompleteAsync(nullptr); }, 4, "Invalid Async parameter", -1);
}

TEST(PortIO, WriteTextTellsTheLinksAndReturnsTheDevicesCount) {
    FakePort p;
    p.port.SetConnected(true);
    Recorder r(p.port);
    EXPECT_EQ(p.port.WriteText(""), 0);
    EXPECT_TRUE(r.Take().empty());
    EXPECT_EQ(p.fake->CallCount(Call::BeginWrite), 0u);

    p.fake->SetWriteMode(FakeDevice::WriteMode::Pending);
    EXPECT_EQ(p.port.WriteText("$X\r"), 3);
    EXPECT_EQ(p.fake->WrittenText(), "$X\r");
    EXPECT_EQ(r.Take(), (Strings{"link:TxActivity(on)", "link:TxData($X\r)"}));

    // A short count is returned as it is; the links still get the whole block.
    p.fake->SetWriteMode(FakeDevice::WriteMode::Short, 2);
    EXPECT_EQ(p.port.WriteText("F100\r"), 2);
    EXPECT_EQ(r.Take(), (Strings{"link:TxActivity(on)", "link:TxData(F100\r)"}));
}

TEST(PortIO, DeviceFailuresCarryTheirCodes) {
    struct Case {
        const char* name;
        Call call;
        int code;
        const char* text;
        std::function<void(TComPort&)> run;
    };
    std::uint8_t buf[8];
    const Case cases[] = {
        {"write start", Call::BeginWrite, 2, "WriteFile function failed",
         [](TComPort& p) { p.WriteText("?"); }},
        {"write completion", Call::CompleteOp, 2, "WriteFile function failed",
         [](TComPort& p) { p.WriteText("?"); }},
        {"read start", Call::BeginRead, 3, "ReadFile function failed",
         [&](TComPort& p) { p.ReadBlock(buf, 8); }},
        {"read completion", Call::CompleteOp, 3, "ReadFile function failed",
         [&](TComPort& p) { p.ReadBlock(buf, 8); }},
        {"input pending", Call::ClearCommError, 10, "ClearCommError function failed",
         [](TComPort& p) { p.InputPending(); }},
        {"line errors", Call::ClearCommError, 10, "ClearCommError function failed",
         [](TComPort& p) { p.LineErrors(); }},
        {"modem signals", Call::GetModemStatus, 11, "GetCommModemStatus function failed",
         [](TComPort& p) { p.ModemSignals(); }},
    };
    for (const auto& c : cases) {
        FakePort p;
        p.port.SetEvents({});
        p.port.SetConnected(true);
        if (c.call == Call::CompleteOp) p.fake->SetWriteMode(FakeDevice::WriteMode::Pending);
        p.fake->FailOnce(c.call, EIO);
        SCOPED_TRACE(c.name);
        ExpectComError([&] { c.run(p.port); }, c.code,
                       std::string(c.text) + " (Error: " + std::to_string(EIO) + ")", EIO);
    }
}

TEST(PortIO, ReadBlockWithNothingWaitingReturnsAtOnceAndTellsRxOff) {
    FakePort p;
    p.port.SetConnected(true);
    Recorder r(p.port);
    std::uint8_t buf[16];
    EXPECT_EQ(p.port.ReadBlock(buf, 16), 0);
    EXPECT_EQ(r.Take(), Strings{"link:RxActivity(off)"});
    p.fake->InjectReceived("ok\r\n");
    EXPECT_EQ(p.port.ReadBlock(buf, 2), 2);
    EXPECT_TRUE(r.Take().empty()) << "bytes still waiting: no RxActivity(off)";
}

TEST(PortIO, InputPendingClearsTheErrorFlagsLineErrorsWouldHaveSeen) {
    FakePort p;
    p.port.SetConnected(true);
    p.fake->LineError(device::CE_FRAME);
    EXPECT_EQ(p.port.InputPending(), 0);
    EXPECT_TRUE(p.port.LineErrors().Empty());
}

TEST(PortIO, ParityErrorsCountOnlyWhileTheCheckIsOn) {
    FakePort p;
    p.port.SetConnected(true);
    p.fake->LineError(device::CE_RXPARITY | device::CE_OVERRUN);
    EXPECT_EQ(p.port.LineErrors(), (TComErrors{ceOverrun}));
    p.port.Parity().SetCheck(true);
    p.fake->LineError(device::CE_RXPARITY | device::CE_IOE | device::CE_MODE | device::CE_BREAK);
    EXPECT_EQ(p.port.LineErrors(), (TComErrors{ceRxParity, ceIO, ceMode, ceBreak}));
}

TEST(PortIO, ModemSignalsMapEveryLine) {
    FakePort p;
    p.port.SetConnected(true);
    p.fake->SetModemLines(device::MS_CTS_ON | device::MS_DSR_ON | device::MS_RING_ON |
                          device::MS_RLSD_ON);
    EXPECT_EQ(p.port.ModemSignals(), (TComSignals{csCTS, csDSR, csRing, csRLSD}));
    p.fake->SetModemLines(device::MS_DSR_ON);
    EXPECT_EQ(p.port.ModemSignals(), TComSignals{csDSR});
}

// With an OnException handler nothing is raised and the operation goes on.
TEST(PortExceptions, HandlerTakesTheReportAndTheOperationGoesOn) {
    FakePort p;
    struct Seen {
        TComExceptions code;
        std::string text;
        std::int64_t winError;
        std::string winMessage;
    };
    std::vector<Seen> seen;
    p.port.OnException = [&](TObject* sender, TComExceptions code, const std::string& text,
                             std::int64_t winError, const std::string& winMessage) {
        EXPECT_EQ(sender, &p.port);
        seen.push_back({code, text, winError, winMessage});
    };

    ASSERT_NO_THROW(p.port.WriteText("x"));
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].code, CEPortNotOpen);
    EXPECT_EQ(seen[0].text, "Port Not Open");
    EXPECT_TRUE(seen[0].winMessage.empty());

    // A refused TriggersOnRxChar write is stored once the handler took the report.
    TComLink buffered;
    buffered.OnRxData = [](TObject*, const std::uint8_t*, std::int32_t) {};
    p.port.AttachLink(&buffered);
    p.port.SetTriggersOnRxChar(false);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].code, CE_HasLink);
    p.port.DetachLink(&buffered);
    EXPECT_FALSE(p.port.TriggersOnRxChar()) << "the write went on and stored off";

    // A failed open is told with the system's message; the port stays closed.
    p.fake->Fail(Call::Open, ENOENT);
    p.port.SetConnected(true);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[2].code, CE_OpenFailed);
    EXPECT_EQ(seen[2].winError, ENOENT);
    EXPECT_NE(seen[2].winMessage.find(std::to_string(ENOENT)), std::string::npos);
    EXPECT_FALSE(p.port.Connected());
    EXPECT_EQ(p.port.EventThread(), nullptr);
}

}  // namespace

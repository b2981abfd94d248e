#include <gtest/gtest.h>

#include <functional>

#include "CPort.h"

namespace {

// Counts the apply operations the setters run; the port stays closed throughout.
class CountingPort : public TComPort {
public:
    using TComPort::TComPort;
    int line = 0, timeouts = 0, buffers = 0;
    void ApplyLineSettings() override { ++line; TComPort::ApplyLineSettings(); }
    void ApplyTimeoutSettings() override { ++timeouts; TComPort::ApplyTimeoutSettings(); }
    void ApplyBufferSizes() override { ++buffers; TComPort::ApplyBufferSizes(); }
    int Total() const { return line + timeouts + buffers; }
};

TEST(ComSettings, Defaults) {
    TComPort port;
    EXPECT_EQ(port.BaudRate(), br9600);
    EXPECT_EQ(port.CustomBaudRate(), 9600);
    EXPECT_EQ(port.Port(), "COM1");
    EXPECT_EQ(port.DataBits(), dbEight);
    EXPECT_EQ(port.StopBits(), sbOneStopBit);
    EXPECT_EQ(port.Events(), kAllComEvents);
    EXPECT_EQ(port.StoredProps(), TStoredProps{spBasic});
    EXPECT_EQ(port.SyncMethod(), smThreadSync);
    EXPECT_TRUE(port.TriggersOnRxChar());
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.Timeouts().ReadInterval(), -1);
    EXPECT_EQ(port.Timeouts().WriteTotalMultiplier(), 100);
    EXPECT_EQ(port.Timeouts().WriteTotalConstant(), 1000);
    EXPECT_EQ(port.FlowControl().XonChar(), 17);
    EXPECT_EQ(port.FlowControl().XoffChar(), 19);
    EXPECT_EQ(port.FlowControl().FlowControl(), fcNone);
    EXPECT_EQ(port.Buffer().InputSize(), 1024);
    EXPECT_EQ(port.Parity().Bits(), prNone);
    EXPECT_EQ(port.Parity().ComPort(), &port);
}

struct SetterCase {
    const char* name;
    std::function<void(CountingPort&)> write;
    int line, timeouts, buffers;
};

// Each write is done twice: the first changes the value and applies once, the second writes
// the same value and must do nothing at all.
TEST(ComSettings, ChangedValueAppliesOnceEqualValueDoesNothing) {
    const SetterCase cases[] = {
        {"BaudRate", [](CountingPort& p) { p.SetBaudRate(br115200); }, 1, 0, 0},
        {"CustomBaudRate", [](CountingPort& p) { p.SetCustomBaudRate(250000); }, 1, 0, 0},
        {"DataBits", [](CountingPort& p) { p.SetDataBits(dbSeven); }, 1, 0, 0},
        {"StopBits", [](CountingPort& p) { p.SetStopBits(sbTwoStopBits); }, 1, 0, 0},
        {"DiscardNull", [](CountingPort& p) { p.SetDiscardNull(true); }, 1, 0, 0},
        {"EventChar", [](CountingPort& p) { p.SetEventChar('\n'); }, 1, 0, 0},
        {"Parity.Bits", [](CountingPort& p) { p.Parity().SetBits(prEven); }, 1, 0, 0},
        {"Parity.Check", [](CountingPort& p) { p.Parity().SetCheck(true); }, 1, 0, 0},
        {"Parity.ReplaceChar", [](CountingPort& p) { p.Parity().SetReplaceChar('?'); }, 1, 0, 0},
        {"Flow.OutDSRFlow", [](CountingPort& p) { p.FlowControl().SetOutDSRFlow(true); }, 1, 0, 0},
        {"Flow.ControlDTR",
         [](CountingPort& p) { p.FlowControl().SetControlDTR(dtrEnable); }, 1, 0, 0},
        {"Flow.XoffChar", [](CountingPort& p) { p.FlowControl().SetXoffChar(0x23); }, 1, 0, 0},
        {"Timeouts.ReadInterval",
         [](CountingPort& p) { p.Timeouts().SetReadInterval(50); }, 0, 1, 0},
        {"Timeouts.WriteTotalConstant",
         [](CountingPort& p) { p.Timeouts().SetWriteTotalConstant(0); }, 0, 1, 0},
        {"Buffer.InputSize", [](CountingPort& p) { p.Buffer().SetInputSize(4096); }, 0, 0, 1},
        {"Buffer.OutputSize", [](CountingPort& p) { p.Buffer().SetOutputSize(64); }, 0, 0, 1},
    };
    for (const auto& c : cases) {
        CountingPort port;
        c.write(port);
        EXPECT_EQ(port.line, c.line) << c.name;
        EXPECT_EQ(port.timeouts, c.timeouts) << c.name;
        EXPECT_EQ(port.buffers, c.buffers) << c.name;
        c.write(port);
        EXPECT_EQ(port.Total(), c.line + c.timeouts + c.buffers) << c.name << " written again";
    }
}

TEST(ComSettings, CustomRateChangeAppliesEvenWhenNotSelected) {
    CountingPort port;
    ASSERT_NE(port.BaudRate(), brCustom);
    port.SetCustomBaudRate(12345);
    EXPECT_EQ(port.line, 1);
}

TEST(ComSettings, BufferSizesAreRoundedDownToEven) {
    struct {
        std::int32_t written, stored;
    } const cases[] = {{1025, 1024}, {4097, 4096}, {-3, -3}, {0, 0}, {1, 0}, {2048, 2048}};
    for (const auto& c : cases) {
        TComPort port;
        port.Buffer().SetInputSize(c.written);
        port.Buffer().SetOutputSize(c.written);
        EXPECT_EQ(port.Buffer().InputSize(), c.stored) << c.written;
        EXPECT_EQ(port.Buffer().OutputSize(), c.stored) << c.written;
    }
}

TEST(ComSettings, OddSizeThatRoundsToTheStoredOneStillApplies) {
    CountingPort port;
    port.Buffer().SetInputSize(1025);  // stored 1024 already
    EXPECT_EQ(port.Buffer().InputSize(), 1024);
    EXPECT_EQ(port.buffers, 1);
    port.Buffer().SetInputSize(1024);  // equal to what is stored: nothing
    EXPECT_EQ(port.buffers, 1);
}

TEST(FlowControlSummary, ReadFollowsTheFourFields) {
    TComFlowControl fc;
    EXPECT_EQ(fc.FlowControl(), fcNone);
    fc.SetFlowControl(fcHardware);
    EXPECT_EQ(fc.FlowControl(), fcHardware);
    fc.SetOutDSRFlow(true);
    fc.SetControlDTR(dtrHandshake);
    fc.SetDSRSensitivity(true);
    EXPECT_EQ(fc.FlowControl(), fcHardware) << "fields outside the summary change nothing";
    fc.SetControlRTS(rtsEnable);
    EXPECT_EQ(fc.FlowControl(), fcCustom);
    fc.SetFlowControl(fcSoftware);
    EXPECT_EQ(fc.FlowControl(), fcSoftware);
    fc.SetXonXoffIn(false);
    EXPECT_EQ(fc.FlowControl(), fcCustom) << "XON/XOFF out alone is no preset";
    fc.SetXonXoffOut(false);
    EXPECT_EQ(fc.FlowControl(), fcNone);
    fc.SetOutCTSFlow(true);
    EXPECT_EQ(fc.FlowControl(), fcCustom) << "CTS out-flow without RTS handshake";
}

TEST(FlowControlSummary, WritingAPresetLeavesFieldsOutsideTheSummaryAlone) {
    TComFlowControl fc;
    fc.SetFlowControl(fcHardware);
    fc.SetOutDSRFlow(true);
    fc.SetControlDTR(dtrEnable);
    fc.SetFlowControl(fcSoftware);
    EXPECT_FALSE(fc.OutCTSFlow());
    EXPECT_EQ(fc.ControlRTS(), rtsDisable);
    EXPECT_TRUE(fc.XonXoffIn());
    EXPECT_TRUE(fc.XonXoffOut());
    EXPECT_TRUE(fc.OutDSRFlow());
    EXPECT_EQ(fc.ControlDTR(), dtrEnable);
}

TEST(FlowControlSummary, EveryWriteAppliesOnceCustomIncluded) {
    CountingPort port;
    port.FlowControl().SetFlowControl(fcCustom);
    EXPECT_EQ(port.line, 1);
    EXPECT_EQ(port.FlowControl().FlowControl(), fcNone) << "fcCustom changes no field";
    port.FlowControl().SetFlowControl(fcNone);  // already none: still applied
    EXPECT_EQ(port.line, 2);
    port.FlowControl().SetFlowControl(fcHardware);
    EXPECT_EQ(port.line, 3) << "fields are written directly, one apply in all";
}

TEST(CopyFrom, CopiesEveryFieldWithoutApplyingOrChangingTheOwner) {
    CountingPort port;
    TComFlowControl source;
    source.SetFlowControl(fcHardware);
    source.SetOutDSRFlow(true);
    source.SetControlDTR(dtrHandshake);
    source.SetDSRSensitivity(true);
    source.SetTxContinueOnXoff(true);
    source.SetXonChar(1);
    source.SetXoffChar(2);
    port.FlowControl().CopyFrom(source);
    EXPECT_EQ(port.line, 0);
    EXPECT_EQ(port.FlowControl().ComPort(), &port);
    EXPECT_EQ(port.FlowControl().FlowControl(), fcHardware);
    EXPECT_TRUE(port.FlowControl().OutDSRFlow());
    EXPECT_EQ(port.FlowControl().ControlDTR(), dtrHandshake);
    EXPECT_TRUE(port.FlowControl().DSRSensitivity());
    EXPECT_TRUE(port.FlowControl().TxContinueOnXoff());
    EXPECT_EQ(port.FlowControl().XonChar(), 1);
    EXPECT_EQ(port.FlowControl().XoffChar(), 2);

    TComTimeouts t;
    t.SetReadInterval(5);
    t.SetReadTotalMultiplier(6);
    t.SetReadTotalConstant(7);
    t.SetWriteTotalMultiplier(8);
    t.SetWriteTotalConstant(9);
    port.Timeouts().CopyFrom(t);
    EXPECT_EQ(port.timeouts, 0);
    EXPECT_EQ(port.Timeouts().ReadTotalConstant(), 7);
    EXPECT_EQ(port.Timeouts().WriteTotalConstant(), 9);
}

TEST(CopyFrom, WrongClassIsRefusedAndChangesNothing) {
    TComParity parity;
    parity.SetBits(prOdd);
    TComTimeouts timeouts;
    timeouts.SetReadInterval(42);
    try {
        timeouts.CopyFrom(parity);
        FAIL() << "copy was not refused";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "Cannot assign a TComParity to a TComTimeouts");
    }
    EXPECT_EQ(timeouts.ReadInterval(), 42);
    EXPECT_EQ(timeouts.WriteTotalConstant(), 1000);
}

TEST(PortObjectProperties, WritingCopiesInAndAppliesUnconditionally) {
    CountingPort port;
    TComParity same;  // equal to the port's own: applied all the same
    port.SetParity(same);
    TComFlowControl flow;
    port.SetFlowControl(flow);
    EXPECT_EQ(port.line, 2);
    TComTimeouts t;
    t.SetWriteTotalConstant(77);
    port.SetTimeouts(t);
    EXPECT_EQ(port.timeouts, 1);
    EXPECT_EQ(port.Timeouts().WriteTotalConstant(), 77);
    EXPECT_NE(&port.Timeouts(), &t) << "the port keeps its own object";
    TComBuffer b;
    port.SetBuffer(b);
    EXPECT_EQ(port.buffers, 1);
    EXPECT_THROW(port.Timeouts().CopyFrom(b), EConvertError);
}

}  // namespace

#include <gtest/gtest.h>

#include "CPort.h"
#include "ComTypes.h"

namespace {

TEST(ComTypes, DisplayTextsRoundTripForEveryMember) {
    for (int i = brCustom; i <= br256000; ++i)
        EXPECT_EQ(TextToBaudRate(BaudRateText(TBaudRate(i))), TBaudRate(i));
    for (int i = sbOneStopBit; i <= sbTwoStopBits; ++i)
        EXPECT_EQ(TextToStopBits(StopBitsText(TStopBits(i))), TStopBits(i));
    for (int i = dbFive; i <= dbEight; ++i)
        EXPECT_EQ(TextToDataBits(DataBitsText(TDataBits(i))), TDataBits(i));
    for (int i = prNone; i <= prSpace; ++i)
        EXPECT_EQ(TextToParity(ParityText(TParityBits(i))), TParityBits(i));
    for (int i = fcHardware; i <= fcCustom; ++i)
        EXPECT_EQ(TextToFlowControl(FlowControlText(TFlowControl(i))), TFlowControl(i));
    for (int i = dtrDisable; i <= dtrHandshake; ++i)
        EXPECT_EQ(TextToDTRControl(DTRControlText(TDTRFlowControl(i))), TDTRFlowControl(i));
    for (int i = rtsDisable; i <= rtsToggle; ++i)
        EXPECT_EQ(TextToRTSControl(RTSControlText(TRTSFlowControl(i))), TRTSFlowControl(i));
}

TEST(ComTypes, ExactDisplayTexts) {
    EXPECT_EQ(BaudRateText(brCustom), "Custom");
    EXPECT_EQ(BaudRateText(br115200), "115200");
    EXPECT_EQ(StopBitsText(sbOne5StopBits), "1.5");
    EXPECT_EQ(ParityText(prSpace), "Space");
    EXPECT_EQ(FlowControlText(fcNone), "None");
    EXPECT_EQ(DTRControlText(dtrHandshake), "Handshake");
    EXPECT_EQ(RTSControlText(rtsToggle), "Toggle");
    EXPECT_EQ(BaudRateToInt(br56000), 56000u);
    EXPECT_EQ(BaudRateToInt(br256000), 256000u);
}

struct Conversion {
    const char* text;
    int (*convert)(const std::string&);
    int expected;
};

template <auto F>
int As(const std::string& t) {
    return static_cast<int>(F(t));
}

TEST(ComTypes, TextToValueFoldsCaseTrimsNothingAndFallsBack) {
    const Conversion cases[] = {
        {"115200", As<TextToBaudRate>, br115200},
        {"custom", As<TextToBaudRate>, brCustom},
        {"", As<TextToBaudRate>, br9600},
        {"12345", As<TextToBaudRate>, br9600},
        {" 115200", As<TextToBaudRate>, br9600},
        {"115200 ", As<TextToBaudRate>, br9600},
        {"1.5", As<TextToStopBits>, sbOne5StopBits},
        {"1,5", As<TextToStopBits>, sbOneStopBit},
        {"2", As<TextToStopBits>, sbTwoStopBits},
        {"EVEN", As<TextToParity>, prEven},
        {"mArK", As<TextToParity>, prMark},
        {"Parity", As<TextToParity>, prNone},
        {"Xon", As<TextToFlowControl>, fcCustom},
        {"software", As<TextToFlowControl>, fcSoftware},
        {"9", As<TextToDataBits>, dbEight},
        {"5", As<TextToDataBits>, dbFive},
        {"toggle", As<TextToRTSControl>, rtsToggle},
        {"Toggle", As<TextToDTRControl>, dtrDisable},
        {"HANDSHAKE", As<TextToDTRControl>, dtrHandshake},
        {"enable", As<TextToRTSControl>, rtsEnable},
    };
    for (const auto& c : cases) EXPECT_EQ(c.convert(c.text), c.expected) << '"' << c.text << '"';
}

TEST(ComTypes, OnlyAsciiLettersAreFolded) {
    // A byte above 127 must not be folded onto an ASCII letter by the locale.
    EXPECT_EQ(TextToParity("\xC5ven"), prNone);
}

TEST(ComTypes, FailureTable) {
    ASSERT_EQ(ComFailureTexts.size(), 24u);
    EXPECT_STREQ(ComFailureTexts[CE_OpenFailed], "Unable to open com port");
    EXPECT_STREQ(ComFailureTexts[CE_LedStateFailed], "Cannot change led state if ComPort is selected");
    EXPECT_STREQ(ComFailureTexts[CEPortNotOpen], "Port Not Open");
    EXPECT_EQ(int(CEPortNotOpen) + 1, 24);
}

TEST(ComEvents, MaskConversionIsExactAndIgnoresUnknownBits) {
    const TComEvents window{evRxChar, evTxEmpty, evRxFlag, evError, evRLSD, evRx80Full};
    EXPECT_EQ(ComEventsToWinMask(window), 0x04A7u);
    EXPECT_EQ(WinMaskToComEvents(0x04A7u), window);
    EXPECT_TRUE(WinMaskToComEvents(0x0200u).Empty());
    EXPECT_TRUE(WinMaskToComEvents(0xFFFFF800u).Empty());
    for (int i = evRxChar; i <= evRx80Full; ++i) {
        const TComEvents one{TComEvent(i)};
        const std::uint32_t bit = ComEventsToWinMask(one);
        EXPECT_EQ(__builtin_popcount(bit), 1);
        EXPECT_EQ(WinMaskToComEvents(bit), one);
    }
    EXPECT_EQ(ComEventsToWinMask(kAllComEvents), 0x05FFu);
}

}  // namespace

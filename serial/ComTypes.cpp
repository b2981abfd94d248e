#include "ComTypes.h"

#include "AsciiText.h"

const std::array<const char*, kComFailureCount> ComFailureTexts = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
    "Port Not Open",
};

namespace {

constexpr std::array<const char*, 16> kBaudTexts = {
    "Custom", "110",   "300",   "600",   "1200",  "2400",   "4800",   "9600",
    "14400",  "19200", "38400", "56000", "57600", "115200", "128000", "256000"};
constexpr std::array<std::uint32_t, 16> kBaudRates = {
    0, 110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600,
    115200, 128000, 256000};
constexpr std::array<const char*, 3> kStopTexts = {"1", "1.5", "2"};
constexpr std::array<const char*, 4> kDataTexts = {"5", "6", "7", "8"};
constexpr std::array<const char*, 5> kParityTexts = {"None", "Odd", "Even", "Mark", "Space"};
constexpr std::array<const char*, 4> kFlowTexts = {"Hardware", "Software", "None", "Custom"};
constexpr std::array<const char*, 3> kDtrTexts = {"Disable", "Enable", "Handshake"};
constexpr std::array<const char*, 4> kRtsTexts = {"Disable", "Enable", "Handshake", "Toggle"};

template <typename E, std::size_t N>
std::string TextOf(const std::array<const char*, N>& texts, E value) {
    const auto i = static_cast<std::size_t>(value);
    return i < N ? texts[i] : std::string();
}

template <typename E, std::size_t N>
E ValueOf(const std::array<const char*, N>& texts, const std::string& text, E fallback) {
    for (std::size_t i = 0; i < N; ++i)
        if (framework::SameTextAscii(texts[i], text)) return static_cast<E>(i);
    return fallback;
}

}  // namespace

std::string BaudRateText(TBaudRate v) { return TextOf(kBaudTexts, v); }
std::string StopBitsText(TStopBits v) { return TextOf(kStopTexts, v); }
std::string DataBitsText(TDataBits v) { return TextOf(kDataTexts, v); }
std::string ParityText(TParityBits v) { return TextOf(kParityTexts, v); }
std::string FlowControlText(TFlowControl v) { return TextOf(kFlowTexts, v); }
std::string DTRControlText(TDTRFlowControl v) { return TextOf(kDtrTexts, v); }
std::string RTSControlText(TRTSFlowControl v) { return TextOf(kRtsTexts, v); }

TBaudRate TextToBaudRate(const std::string& t) { return ValueOf(kBaudTexts, t, br9600); }
TStopBits TextToStopBits(const std::string& t) { return ValueOf(kStopTexts, t, sbOneStopBit); }
TDataBits TextToDataBits(const std::string& t) { return ValueOf(kDataTexts, t, dbEight); }
TParityBits TextToParity(const std::string& t) { return ValueOf(kParityTexts, t, prNone); }
TFlowControl TextToFlowControl(const std::string& t) { return ValueOf(kFlowTexts, t, fcCustom); }
TDTRFlowControl TextToDTRControl(const std::string& t) {
    return ValueOf(kDtrTexts, t, dtrDisable);
}
TRTSFlowControl TextToRTSControl(const std::string& t) {
    return ValueOf(kRtsTexts, t, rtsDisable);
}

std::uint32_t BaudRateToInt(TBaudRate v) {
    const auto i = static_cast<std::size_t>(v);
    return i < kBaudRates.size() ? kBaudRates[i] : 0;
}

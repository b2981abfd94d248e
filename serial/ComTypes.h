#pragma once
// The vocabulary of the serial component: line-format enumerations with their display texts
// and conversions, the event, error and signal sets, and the failure codes.

#include <array>
#include <cstdint>
#include <string>

#include "EnumSet.h"

enum TBaudRate : std::uint8_t {
    brCustom, br110, br300, br600, br1200, br2400, br4800, br9600, br14400,
    br19200, br38400, br56000, br57600, br115200, br128000, br256000
};
enum TStopBits : std::uint8_t { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TDataBits : std::uint8_t { dbFive, dbSix, dbSeven, dbEight };
enum TParityBits : std::uint8_t { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl : std::uint8_t { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl : std::uint8_t { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TFlowControl : std::uint8_t { fcHardware, fcSoftware, fcNone, fcCustom };

enum TComEvent : std::uint8_t {
    evRxChar, evTxEmpty, evRxFlag, evRing, evBreak, evCTS, evDSR, evError, evRLSD, evRx80Full
};
using TComEvents = EnumSet<TComEvent, std::uint16_t>;
inline constexpr TComEvents kAllComEvents = TComEvents::FromBits(0x03FF);

enum TComError : std::uint8_t {
    ceFrame, ceRxParity, ceOverrun, ceBreak, ceIO, ceMode, ceRxOver, ceTxFull
};
using TComErrors = EnumSet<TComError, std::uint8_t>;

enum TComSignal : std::uint8_t { csCTS, csDSR, csRing, csRLSD };
using TComSignals = EnumSet<TComSignal, std::uint8_t>;

enum TSyncMethod : std::uint8_t { smThreadSync, smWindowSync, smNone };

enum TStoredProp : std::uint8_t {
    spBasic, spFlowControl, spBuffer, spTimeouts, spParity, spOthers
};
using TStoredProps = EnumSet<TStoredProp, std::uint8_t>;

// Failure codes 1..24; the ordinal plus one is the code.
enum TComExceptions : std::uint8_t {
    CE_OpenFailed, CE_WriteFailed, CE_ReadFailed, CE_InvalidAsync, CE_PurgeFailed,
    CE_AsyncCheck, CE_SetStateFailed, CE_TimeoutsFailed, CE_SetupComFailed,
    CE_ClearComFailed, CE_ModemStatFailed, CE_EscapeComFailed, CE_TransmitFailed,
    CE_ConnChangeProp, CE_EnumPortsFailed, CE_StoreFailed, CE_LoadFailed, CE_RegFailed,
    CE_LedStateFailed, CE_ThreadCreated, CE_WaitFailed, CE_HasLink, CE_RegError,
    CEPortNotOpen
};
inline constexpr int kComFailureCount = 24;
// The fixed English text of failure code n is ComFailureTexts[n - 1].
extern const std::array<const char*, kComFailureCount> ComFailureTexts;

// Value to display text.
std::string BaudRateText(TBaudRate value);
std::string StopBitsText(TStopBits value);
std::string DataBitsText(TDataBits value);
std::string ParityText(TParityBits value);
std::string FlowControlText(TFlowControl value);
std::string DTRControlText(TDTRFlowControl value);
std::string RTSControlText(TRTSFlowControl value);

// Display text to value: ASCII case folded, no trimming; text that names no member gives the
// type's fallback (br9600, sbOneStopBit, dbEight, prNone, fcCustom, dtrDisable, rtsDisable).
TBaudRate TextToBaudRate(const std::string& text);
TStopBits TextToStopBits(const std::string& text);
TDataBits TextToDataBits(const std::string& text);
TParityBits TextToParity(const std::string& text);
TFlowControl TextToFlowControl(const std::string& text);
TDTRFlowControl TextToDTRControl(const std::string& text);
TRTSFlowControl TextToRTSControl(const std::string& text);

// The device rate of a fixed member (0 for brCustom, whose rate the port holds).
std::uint32_t BaudRateToInt(TBaudRate value);

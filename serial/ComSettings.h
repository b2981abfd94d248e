#pragma once
// The settings objects a port owns. A changed value is stored and handed to the owner port's
// apply operation, which pushes it to an open device at once; an equal value does nothing.

#include <cstdint>

#include "ComTypes.h"
#include "Component.h"

class TCustomComPort;

// Shared by the four settings objects: the owner port, set once by the port's constructor.
class TComSettings : public TPersistent {
public:
    explicit TComSettings(TCustomComPort* owner = nullptr) : owner_(owner) {}
    TCustomComPort* ComPort() const { return owner_; }

protected:
    // The setter rule: an equal value does nothing; a changed one is stored and applied.
    template <typename T>
    void Set(T& field, T value) {
        if (field == value) return;
        field = value;
        Apply();
    }
    // Runs the owner port's apply operation for this kind of setting, once.
    void Apply() {
        if (owner_) ApplyTo(*owner_);
    }
    virtual void ApplyTo(TCustomComPort& port) = 0;

private:
    TCustomComPort* owner_;
};

class TComTimeouts : public TComSettings {
public:
    using TComSettings::TComSettings;
    const char* ClassName() const override { return "TComTimeouts"; }

    std::int32_t ReadInterval() const { return readInterval_; }
    std::int32_t ReadTotalMultiplier() const { return readTotalMultiplier_; }
    std::int32_t ReadTotalConstant() const { return readTotalConstant_; }
    std::int32_t WriteTotalMultiplier() const { return writeTotalMultiplier_; }
    std::int32_t WriteTotalConstant() const { return writeTotalConstant_; }
    void SetReadInterval(std::int32_t v) { Set(readInterval_, v); }
    void SetReadTotalMultiplier(std::int32_t v) { Set(readTotalMultiplier_, v); }
    void SetReadTotalConstant(std::int32_t v) { Set(readTotalConstant_, v); }
    void SetWriteTotalMultiplier(std::int32_t v) { Set(writeTotalMultiplier_, v); }
    void SetWriteTotalConstant(std::int32_t v) { Set(writeTotalConstant_, v); }

    // Copies every setting of `source`, which must be a TComTimeouts; applies nothing.
    void CopyFrom(const TPersistent& source);

private:
    void ApplyTo(TCustomComPort& port) override;

    std::int32_t readInterval_ = -1;
    std::int32_t readTotalMultiplier_ = 0;
    std::int32_t readTotalConstant_ = 0;
    std::int32_t writeTotalMultiplier_ = 100;
    std::int32_t writeTotalConstant_ = 1000;
};

class TComFlowControl : public TComSettings {
public:
    using TComSettings::TComSettings;
    const char* ClassName() const override { return "TComFlowControl"; }

    bool OutCTSFlow() const { return outCTSFlow_; }
    bool OutDSRFlow() const { return outDSRFlow_; }
    TDTRFlowControl ControlDTR() const { return controlDTR_; }
    TRTSFlowControl ControlRTS() const { return controlRTS_; }
    bool XonXoffOut() const { return xonXoffOut_; }
    bool XonXoffIn() const { return xonXoffIn_; }
    bool DSRSensitivity() const { return dsrSensitivity_; }
    bool TxContinueOnXoff() const { return txContinueOnXoff_; }
    std::uint8_t XonChar() const { return xonChar_; }
    std::uint8_t XoffChar() const { return xoffChar_; }

    void SetOutCTSFlow(bool v) { Set(outCTSFlow_, v); }
    void SetOutDSRFlow(bool v) { Set(outDSRFlow_, v); }
    void SetControlDTR(TDTRFlowControl v) { Set(controlDTR_, v); }
    void SetControlRTS(TRTSFlowControl v) { Set(controlRTS_, v); }
    void SetXonXoffOut(bool v) { Set(xonXoffOut_, v); }
    void SetXonXoffIn(bool v) { Set(xonXoffIn_, v); }
    void SetDSRSensitivity(bool v) { Set(dsrSensitivity_, v); }
    void SetTxContinueOnXoff(bool v) { Set(txContinueOnXoff_, v); }
    void SetXonChar(std::uint8_t v) { Set(xonChar_, v); }
    void SetXoffChar(std::uint8_t v) { Set(xoffChar_, v); }

    // The summary of the RTS, CTS and XON/XOFF fields; writing it sets a preset and always
    // re-applies the line settings.
    TFlowControl FlowControl() const;
    void SetFlowControl(TFlowControl value);

    void CopyFrom(const TPersistent& source);

private:
    void ApplyTo(TCustomComPort& port) override;

    bool outCTSFlow_ = false;
    bool outDSRFlow_ = false;
    TDTRFlowControl controlDTR_ = dtrDisable;
    TRTSFlowControl controlRTS_ = rtsDisable;
    bool xonXoffOut_ = false;
    bool xonXoffIn_ = false;
    bool dsrSensitivity_ = false;
    bool txContinueOnXoff_ = false;
    std::uint8_t xonChar_ = 17;
    std::uint8_t xoffChar_ = 19;
};

class TComParity : public TComSettings {
public:
    using TComSettings::TComSettings;
    const char* ClassName() const override { return "TComParity"; }

    TParityBits Bits() const { return bits_; }
    bool Check() const { return check_; }
    bool Replace() const { return replace_; }
    std::uint8_t ReplaceChar() const { return replaceChar_; }
    void SetBits(TParityBits v) { Set(bits_, v); }
    void SetCheck(bool v) { Set(check_, v); }
    void SetReplace(bool v) { Set(replace_, v); }
    void SetReplaceChar(std::uint8_t v) { Set(replaceChar_, v); }

    void CopyFrom(const TPersistent& source);

private:
    void ApplyTo(TCustomComPort& port) override;

    TParityBits bits_ = prNone;
    bool check_ = false;
    bool replace_ = false;
    std::uint8_t replaceChar_ = 0;
};

class TComBuffer : public TComSettings {
public:
    using TComSettings::TComSettings;
    const char* ClassName() const override { return "TComBuffer"; }

    std::int32_t InputSize() const { return inputSize_; }
    std::int32_t OutputSize() const { return outputSize_; }
    // Sizes are kept even: a positive odd value is stored one lower.
    void SetInputSize(std::int32_t v) { SetSize(inputSize_, v); }
    void SetOutputSize(std::int32_t v) { SetSize(outputSize_, v); }

    void CopyFrom(const TPersistent& source);

private:
    void SetSize(std::int32_t& field, std::int32_t value);
    void ApplyTo(TCustomComPort& port) override;

    std::int32_t inputSize_ = 1024;
    std::int32_t outputSize_ = 1024;
};

#include "ComSettings.h"

#include "CPort.h"
#include "Errors.h"

namespace {

// Settings are copied only into an object of the source's class (or one derived from it).
template <typename T>
const T& SourceAs(const TPersistent& source, const TPersistent& destination) {
    if (const auto* typed = dynamic_cast<const T*>(&source)) return *typed;
    throw EConvertError(std::string("Cannot assign a ") + source.ClassName() + " to a " +
                        destination.ClassName());
}

}  // namespace

void TComTimeouts::ApplyTo(TCustomComPort& port) { port.ApplyTimeoutSettings(); }

void TComTimeouts::CopyFrom(const TPersistent& source) {
    const auto& s = SourceAs<TComTimeouts>(source, *this);
    readInterval_ = s.readInterval_;
    readTotalMultiplier_ = s.readTotalMultiplier_;
    readTotalConstant_ = s.readTotalConstant_;
    writeTotalMultiplier_ = s.writeTotalMultiplier_;
    writeTotalConstant_ = s.writeTotalConstant_;
}

void TComFlowControl::ApplyTo(TCustomComPort& port) { port.ApplyLineSettings(); }

TFlowControl TComFlowControl::FlowControl() const {
    const bool xon = xonXoffIn_ || xonXoffOut_;
    if (controlRTS_ == rtsHandshake && outCTSFlow_ && !xon) return fcHardware;
    if (controlRTS_ == rtsDisable && !outCTSFlow_ && xonXoffIn_ && xonXoffOut_) return fcSoftware;
    if (controlRTS_ == rtsDisable && !outCTSFlow_ && !xon) return fcNone;
    return fcCustom;
}

void TComFlowControl::SetFlowControl(TFlowControl value) {
    if (value != fcCustom) {
        controlRTS_ = rtsDisable;
        outCTSFlow_ = false;
        xonXoffIn_ = false;
        xonXoffOut_ = false;
        if (value == fcHardware) {
            controlRTS_ = rtsHandshake;
            outCTSFlow_ = true;
        } else if (value == fcSoftware) {
            xonXoffIn_ = true;
            xonXoffOut_ = true;
        }
    }
    Apply();
}

void TComFlowControl::CopyFrom(const TPersistent& source) {
    const auto& s = SourceAs<TComFlowControl>(source, *this);
    outCTSFlow_ = s.outCTSFlow_;
    outDSRFlow_ = s.outDSRFlow_;
    controlDTR_ = s.controlDTR_;
    controlRTS_ = s.controlRTS_;
    xonXoffOut_ = s.xonXoffOut_;
    xonXoffIn_ = s.xonXoffIn_;
    dsrSensitivity_ = s.dsrSensitivity_;
    txContinueOnXoff_ = s.txContinueOnXoff_;
    xonChar_ = s.xonChar_;
    xoffChar_ = s.xoffChar_;
}

void TComParity::ApplyTo(TCustomComPort& port) { port.ApplyLineSettings(); }

void TComParity::CopyFrom(const TPersistent& source) {
    const auto& s = SourceAs<TComParity>(source, *this);
    bits_ = s.bits_;
    check_ = s.check_;
    replace_ = s.replace_;
    replaceChar_ = s.replaceChar_;
}

void TComBuffer::ApplyTo(TCustomComPort& port) { port.ApplyBufferSizes(); }

void TComBuffer::SetSize(std::int32_t& field, std::int32_t value) {
    if (field == value) return;
    field = (value > 0 && value % 2 != 0) ? value - 1 : value;
    // Applied even when rounding gave back the stored size: the write was a change.
    Apply();
}

void TComBuffer::CopyFrom(const TPersistent& source) {
    const auto& s = SourceAs<TComBuffer>(source, *this);
    inputSize_ = s.inputSize_;
    outputSize_ = s.outputSize_;
}

#include "ComSelect.h"

namespace {

// Every member of an enumeration in ordinal order, through its display text.
template <typename E>
void AddTexts(TStrings& list, int count, std::string (*text)(E)) {
    for (int i = 0; i < count; ++i) list.Add(text(static_cast<E>(i)));
}

}  // namespace

void TComSelect::SetPropertyKind(TComProperty kind) {
    kind_ = kind;
    if (!items_) return;
    items_->Clear();
    switch (kind) {
    case cpNone: break;
    case cpPort: ListSerialPorts(*items_); break;
    case cpBaudRate: AddTexts<TBaudRate>(*items_, br256000 + 1, BaudRateText); break;
    case cpDataBits: AddTexts<TDataBits>(*items_, dbEight + 1, DataBitsText); break;
    case cpStopBits: AddTexts<TStopBits>(*items_, sbTwoStopBits + 1, StopBitsText); break;
    case cpParity: AddTexts<TParityBits>(*items_, prSpace + 1, ParityText); break;
    case cpFlowControl: AddTexts<TFlowControl>(*items_, fcCustom + 1, FlowControlText); break;
    }
}

void TComSelect::StoreChoice(const std::string& text) {
    switch (kind_) {
    case cpNone: break;
    case cpPort: portName_ = text; break;
    case cpBaudRate: baudRate_ = TextToBaudRate(text); break;
    case cpDataBits: dataBits_ = TextToDataBits(text); break;
    case cpStopBits: stopBits_ = TextToStopBits(text); break;
    case cpParity: parity_ = TextToParity(text); break;
    case cpFlowControl: flowControl_ = TextToFlowControl(text); break;
    }
}

void TComSelect::TakeChoice(const std::string& text) {
    StoreChoice(text);
    if (autoApply_) ApplyChoice();
}

void TComSelect::ApplyChoice() {
    if (!port_) return;
    switch (kind_) {
    case cpNone: break;
    case cpPort: port_->SetPort(portName_); break;
    case cpBaudRate: port_->SetBaudRate(baudRate_); break;
    case cpDataBits: port_->SetDataBits(dataBits_); break;
    case cpStopBits: port_->SetStopBits(stopBits_); break;
    case cpParity: port_->Parity().SetBits(parity_); break;
    case cpFlowControl: port_->FlowControl().SetFlowControl(flowControl_); break;
    }
}

int TComSelect::LocateCurrent() {
    if (!port_ || !items_) return -1;
    std::string current;
    switch (kind_) {
    case cpNone: return -1;
    case cpPort: current = port_->Port(); break;
    case cpBaudRate: current = BaudRateText(port_->BaudRate()); break;
    case cpDataBits: current = DataBitsText(port_->DataBits()); break;
    case cpStopBits: current = StopBitsText(port_->StopBits()); break;
    case cpParity: current = ParityText(port_->Parity().Bits()); break;
    case cpFlowControl: current = FlowControlText(port_->FlowControl().FlowControl()); break;
    }
    const int index = items_->IndexOfText(current);
    if (index >= 0) StoreChoice(items_->Get(index));
    return index;
}

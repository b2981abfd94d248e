#pragma once
// The logic of the port property selector: which setting of a port a selector serves, the
// texts it offers, and taking, applying and locating a choice. Works on any text list it is
// given and knows nothing of controls.

#include <cstdint>
#include <string>

#include "CPort.h"
#include "SerialPorts.h"
#include "Strings.h"

enum TComProperty : std::uint8_t {
    cpNone, cpPort, cpBaudRate, cpDataBits, cpStopBits, cpParity, cpFlowControl
};

class TComSelect : public TObject {
public:
    const char* ClassName() const override { return "TComSelect"; }

    // The list to fill and search; not owned. May be none, in which case nothing is listed.
    TStrings* Items() const { return items_; }
    void SetItems(TStrings* items) { items_ = items; }

    // The bound port; not owned. The holder unbinds it before the port goes away.
    TCustomComPort* ComPort() const { return port_; }
    void SetComPort(TCustomComPort* port) { port_ = port; }

    bool AutoApply() const { return autoApply_; }
    void SetAutoApply(bool value) { autoApply_ = value; }

    TComProperty PropertyKind() const { return kind_; }
    // Stores the kind, empties the list and fills it with every value of that setting.
    void SetPropertyKind(TComProperty kind);

    // Converts `text` to a value of the kind and keeps it; applies it when AutoApply is on.
    void TakeChoice(const std::string& text);
    // Writes the kept value of the current kind into the bound port (none bound: nothing).
    void ApplyChoice();
    // Index of the bound port's current value in the list (exact, ignoring case), or -1.
    // A value found is kept as the choice, in the list's spelling, and not applied.
    int LocateCurrent();

    // The last value taken for each kind; meaningful only for the current kind.
    const std::string& ChosenPort() const { return portName_; }
    TBaudRate ChosenBaudRate() const { return baudRate_; }
    TDataBits ChosenDataBits() const { return dataBits_; }
    TStopBits ChosenStopBits() const { return stopBits_; }
    TParityBits ChosenParity() const { return parity_; }
    TFlowControl ChosenFlowControl() const { return flowControl_; }

private:
    void StoreChoice(const std::string& text);

    std::string portName_;
    TBaudRate baudRate_ = brCustom;
    TDataBits dataBits_ = dbFive;
    TStopBits stopBits_ = sbOneStopBit;
    TParityBits parity_ = prNone;
    TFlowControl flowControl_ = fcHardware;
    TStrings* items_ = nullptr;
    TComProperty kind_ = cpNone;
    TCustomComPort* port_ = nullptr;
    bool autoApply_ = false;
};

// Writing and reading a port's settings to and from an INI file section or a key store.

#include "ComPersist.h"

#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "AsciiText.h"
#include "CPort.h"
#include "IniFile.h"
#include "KeyStore.h"

std::string BoolText(bool value) { return value ? "Yes" : "No"; }

bool TextToBool(const std::string& text) {
    return framework::SameTextAscii(text, "YES");
}

std::string CharText(std::uint8_t value) {
    if (value >= 33 && value <= 127) return std::string(1, static_cast<char>(value));
    return "#" + std::to_string(value);
}

namespace {

// The number of a "#"-text: decimal, or hexadecimal after "$" or "0x"; an optional sign; no
// blanks anywhere (" 65" is not a character code).
std::optional<std::int32_t> CharCodeNumber(std::string_view text) {
    if (text.empty() || text.find_first_of(" \t\n\v\f\r") != std::string_view::npos)
        return std::nullopt;
    std::string digits(text);
    const std::size_t i = (digits[0] == '+' || digits[0] == '-') ? 1 : 0;
    if (i < digits.size() && digits[i] == '$') digits.replace(i, 1, "0x");
    return framework::ParseInt32(digits);
}

}  // namespace

std::uint8_t TextToChar(const std::string& text) {
    if (text.empty()) return 0;
    if (text[0] == '#' && text.size() > 1) {
        const auto number = CharCodeNumber(std::string_view(text).substr(1));
        return number ? static_cast<std::uint8_t>(static_cast<std::uint32_t>(*number) & 0xFF) : 0;
    }
    return static_cast<std::uint8_t>(text[0]);
}

namespace {

// One stored setting: its group, key, and how it goes to and from its stored form. Texts and
// whole numbers are kept apart because the stores type them.
struct Setting {
    TStoredProp group;
    const char* key;
    std::function<std::string()> text;            // text settings
    std::function<void(const std::string&)> setText;
    std::function<std::int32_t()> number;         // whole-number settings
    std::function<void(std::int32_t)> setNumber;
    bool IsNumber() const { return static_cast<bool>(number); }
};

Setting Text(TStoredProp g, const char* key, std::function<std::string()> get,
             std::function<void(const std::string&)> set) {
    return {g, key, std::move(get), std::move(set), nullptr, nullptr};
}
Setting Number(TStoredProp g, const char* key, std::function<std::int32_t()> get,
               std::function<void(std::int32_t)> set) {
    return {g, key, nullptr, nullptr, std::move(get), std::move(set)};
}

// The order every operation handles the groups in.
constexpr TStoredProp kGroupOrder[] = {spBasic,  spOthers,   spParity,
                                       spBuffer, spTimeouts, spFlowControl};

// Every stored setting in store order. "CustomBaudRate" is handled apart: it is present only
// with a custom rate and comes right after "BaudRate".
std::vector<Setting> Settings(TCustomComPort& p) {
    TComParity& pr = p.Parity();
    TComBuffer& buf = p.Buffer();
    TComTimeouts& to = p.Timeouts();
    TComFlowControl& fc = p.FlowControl();
    return {
        Text(spBasic, "Port", [&p] { return p.Port(); }, [&p](const std::string& t) { p.SetPort(t); }),
        Text(spBasic, "BaudRate", [&p] { return BaudRateText(p.BaudRate()); },
             [&p](const std::string& t) { p.SetBaudRate(TextToBaudRate(t)); }),
        Text(spBasic, "StopBits", [&p] { return StopBitsText(p.StopBits()); },
             [&p](const std::string& t) { p.SetStopBits(TextToStopBits(t)); }),
        Text(spBasic, "DataBits", [&p] { return DataBitsText(p.DataBits()); },
             [&p](const std::string& t) { p.SetDataBits(TextToDataBits(t)); }),
        Text(spBasic, "Parity", [&pr] { return ParityText(pr.Bits()); },
             [&pr](const std::string& t) { pr.SetBits(TextToParity(t)); }),
        Text(spBasic, "FlowControl", [&fc] { return FlowControlText(fc.FlowControl()); },
             [&fc](const std::string& t) { fc.SetFlowControl(TextToFlowControl(t)); }),

        Text(spOthers, "EventChar", [&p] { return CharText(p.EventChar()); },
             [&p](const std::string& t) { p.SetEventChar(TextToChar(t)); }),
        Text(spOthers, "DiscardNull", [&p] { return BoolText(p.DiscardNull()); },
             [&p](const std::string& t) { p.SetDiscardNull(TextToBool(t)); }),

        Text(spParity, "Parity.Check", [&pr] { return BoolText(pr.Check()); },
             [&pr](const std::string& t) { pr.SetCheck(TextToBool(t)); }),
        Text(spParity, "Parity.Replace", [&pr] { return BoolText(pr.Replace()); },
             [&pr](const std::string& t) { pr.SetReplace(TextToBool(t)); }),
        Text(spParity, "Parity.ReplaceChar", [&pr] { return CharText(pr.ReplaceChar()); },
             [&pr](const std::string& t) { pr.SetReplaceChar(TextToChar(t)); }),

        Number(spBuffer, "Buffer.OutputSize", [&buf] { return buf.OutputSize(); },
               [&buf](std::int32_t v) { buf.SetOutputSize(v); }),
        Number(spBuffer, "Buffer.InputSize", [&buf] { return buf.InputSize(); },
               [&buf](std::int32_t v) { buf.SetInputSize(v); }),

        Number(spTimeouts, "Timeouts.ReadInterval", [&to] { return to.ReadInterval(); },
               [&to](std::int32_t v) { to.SetReadInterval(v); }),
        Number(spTimeouts, "Timeouts.ReadTotalConstant", [&to] { return to.ReadTotalConstant(); },
               [&to](std::int32_t v) { to.SetReadTotalConstant(v); }),
        Number(spTimeouts, "Timeouts.ReadTotalMultiplier",
               [&to] { return to.ReadTotalMultiplier(); },
               [&to](std::int32_t v) { to.SetReadTotalMultiplier(v); }),
        Number(spTimeouts, "Timeouts.WriteTotalConstant",
               [&to] { return to.WriteTotalConstant(); },
               [&to](std::int32_t v) { to.SetWriteTotalConstant(v); }),
        Number(spTimeouts, "Timeouts.WriteTotalMultiplier",
               [&to] { return to.WriteTotalMultiplier(); },
               [&to](std::int32_t v) { to.SetWriteTotalMultiplier(v); }),

        Text(spFlowControl, "FlowControl.ControlRTS", [&fc] { return RTSControlText(fc.ControlRTS()); },
             [&fc](const std::string& t) { fc.SetControlRTS(TextToRTSControl(t)); }),
        Text(spFlowControl, "FlowControl.ControlDTR", [&fc] { return DTRControlText(fc.ControlDTR()); },
             [&fc](const std::string& t) { fc.SetControlDTR(TextToDTRControl(t)); }),
        Text(spFlowControl, "FlowControl.DSRSensitivity", [&fc] { return BoolText(fc.DSRSensitivity()); },
             [&fc](const std::string& t) { fc.SetDSRSensitivity(TextToBool(t)); }),
        Text(spFlowControl, "FlowControl.OutCTSFlow", [&fc] { return BoolText(fc.OutCTSFlow()); },
             [&fc](const std::string& t) { fc.SetOutCTSFlow(TextToBool(t)); }),
        Text(spFlowControl, "FlowControl.OutDSRFlow", [&fc] { return BoolText(fc.OutDSRFlow()); },
             [&fc](const std::string& t) { fc.SetOutDSRFlow(TextToBool(t)); }),
        Text(spFlowControl, "FlowControl.TxContinueOnXoff",
             [&fc] { return BoolText(fc.TxContinueOnXoff()); },
             [&fc](const std::string& t) { fc.SetTxContinueOnXoff(TextToBool(t)); }),
        Text(spFlowControl, "FlowControl.XonXoffIn", [&fc] { return BoolText(fc.XonXoffIn()); },
             [&fc](const std::string& t) { fc.SetXonXoffIn(TextToBool(t)); }),
        Text(spFlowControl, "FlowControl.XonXoffOut", [&fc] { return BoolText(fc.XonXoffOut()); },
             [&fc](const std::string& t) { fc.SetXonXoffOut(TextToBool(t)); }),
        Text(spFlowControl, "FlowControl.XoffChar", [&fc] { return CharText(fc.XoffChar()); },
             [&fc](const std::string& t) { fc.SetXoffChar(TextToChar(t)); }),
        Text(spFlowControl, "FlowControl.XonChar", [&fc] { return CharText(fc.XonChar()); },
             [&fc](const std::string& t) { fc.SetXonChar(TextToChar(t)); }),
    };
}

// A store seen the same way whichever kind it is. `def` is the value a missing key reads as
// where the store has defaults (INI); a key store has none.
class Store {
public:
    virtual ~Store() = default;
    virtual std::string ReadText(const char* key, const std::string& def) = 0;
    virtual std::int32_t ReadNumber(const char* key, std::int32_t def) = 0;
    virtual void WriteText(const char* key, const std::string& value) = 0;
    virtual void WriteNumber(const char* key, std::int32_t value) = 0;
};

class IniStore : public Store {
public:
    IniStore(TIniFile& ini, std::string section) : ini_(ini), section_(std::move(section)) {}
    std::string ReadText(const char* key, const std::string& def) override {
        return ini_.ReadString(section_, key, def);
    }
    std::int32_t ReadNumber(const char* key, std::int32_t def) override {
        return ini_.ReadInteger(section_, key, def);
    }
    void WriteText(const char* key, const std::string& v) override { ini_.WriteString(section_, key, v); }
    void WriteNumber(const char* key, std::int32_t v) override { ini_.WriteInteger(section_, key, v); }

private:
    TIniFile& ini_;
    std::string section_;
};

class KeyStoreAdapter : public Store {
public:
    explicit KeyStoreAdapter(TKeyStore& key) : key_(key) {}
    std::string ReadText(const char* key, const std::string&) override { return key_.ReadString(key); }
    std::int32_t ReadNumber(const char* key, std::int32_t) override { return key_.ReadInteger(key); }
    void WriteText(const char* key, const std::string& v) override { key_.WriteString(key, v); }
    void WriteNumber(const char* key, std::int32_t v) override { key_.WriteInteger(key, v); }

private:
    TKeyStore& key_;
};

constexpr const char* kCustomBaudRate = "CustomBaudRate";
constexpr std::int32_t kCustomBaudRateDefault = 9600;

void WriteAll(TCustomComPort& port, Store& store) {
    const auto settings = Settings(port);
    for (TStoredProp group : kGroupOrder) {
        if (!port.StoredProps().Contains(group)) continue;
        for (const Setting& s : settings) {
            if (s.group != group) continue;
            if (s.IsNumber())
                store.WriteNumber(s.key, s.number());
            else
                store.WriteText(s.key, s.text());
            if (std::string_view(s.key) == "BaudRate" && port.BaudRate() == brCustom)
                store.WriteNumber(kCustomBaudRate, port.CustomBaudRate());
        }
    }
}

// One key at a time, each through its setter, so an open port applies as it goes and a store
// error leaves what was read before it in force.
void ReadAll(TCustomComPort& port, Store& store) {
    const auto settings = Settings(port);
    for (TStoredProp group : kGroupOrder) {
        if (!port.StoredProps().Contains(group)) continue;
        for (const Setting& s : settings) {
            if (s.group != group) continue;
            if (s.IsNumber())
                s.setNumber(store.ReadNumber(s.key, s.number()));
            else
                s.setText(store.ReadText(s.key, s.text()));
            if (std::string_view(s.key) == "BaudRate" && port.BaudRate() == brCustom)
                port.SetCustomBaudRate(store.ReadNumber(kCustomBaudRate, kCustomBaudRateDefault));
        }
    }
}

}  // namespace

void TCustomComPort::WriteSettingsToRegistry(TKeyStore& key) {
    KeyStoreAdapter store(key);
    WriteAll(*this, store);
}

void TCustomComPort::WriteSettingsToIni(TIniFile& ini) {
    IniStore store(ini, Name());
    WriteAll(*this, store);
}

void TCustomComPort::ReadSettingsFromRegistry(TKeyStore& key) {
    KeyStoreAdapter store(key);
    ReadAll(*this, store);
}

void TCustomComPort::ReadSettingsFromIni(TIniFile& ini) {
    IniStore store(ini, Name());
    ReadAll(*this, store);
}

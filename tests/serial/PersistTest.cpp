// Writing and reading port settings through an INI file and a key store.

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "ComPersist.h"
#include "IniFile.h"
#include "KeyStore.h"
#include "PortTestSupport.h"

namespace {

using namespace porttest;
using Call = FakeDevice::Call;

class TempIni {
public:
    TempIni() {
        path_ = (std::filesystem::temp_directory_path() /
                 ("tarnwick-persist-" + std::to_string(getpid()) + "-" + std::to_string(counter_++) + ".ini"))
                    .string();
        std::filesystem::remove(path_);
    }
    ~TempIni() { std::filesystem::remove(path_); }
    const std::string& Path() const { return path_; }
    std::string Text() const {
        std::ifstream in(path_);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    void Write(const std::string& text) const { std::ofstream(path_) << text; }

private:
    static inline int counter_ = 0;
    std::string path_;
};

TEST(TextForms, BoolAndCharTexts) {
    EXPECT_EQ(BoolText(true), "Yes");
    EXPECT_EQ(BoolText(false), "No");
    for (const char* t : {"yes", "YES", "Yes", "yEs"}) EXPECT_TRUE(TextToBool(t)) << t;
    for (const char* t : {"True", "1", "", "No", "yes ", " yes", "Y"}) EXPECT_FALSE(TextToBool(t)) << t;

    struct {
        std::uint8_t code;
        const char* text;
    } const chars[] = {{17, "#17"}, {65, "A"}, {0, "#0"}, {200, "#200"}, {32, "#32"},
                       {33, "!"},   {127, "\x7f"}, {128, "#128"}, {35, "#"}};
    for (const auto& c : chars) {
        EXPECT_EQ(CharText(c.code), c.text) << int(c.code);
        EXPECT_EQ(TextToChar(c.text), c.code) << c.text;
    }
    struct {
        const char* text;
        std::uint8_t code;
    } const reads[] = {{"#300", 44}, {"#x", 0}, {"AB", 65}, {"", 0}, {"#0x41", 0x41}, {"#-1", 255},
                   {"#$41", 0x41}, {"#$ff", 255}, {"# 65", 0}, {"#65 ", 0}, {"#\t65", 0}};
    for (const auto& r : reads) EXPECT_EQ(TextToChar(r.text), r.code) << r.text;
}

TEST(IniPersistence, BasicGroupWritesTheExactKeysAndTexts) {
    TempIni file;
    TComPort port;
    port.SetName("ComPort1");
    port.SetBaudRate(br115200);
    TIniFile ini(file.Path());
    port.WriteSettingsToIni(ini);
    EXPECT_EQ(ini.ReadSection("ComPort1"),
              (std::vector<std::string>{"Port", "BaudRate", "StopBits", "DataBits", "Parity",
                                        "FlowControl"}));
    EXPECT_EQ(ini.ReadString("ComPort1", "Port", ""), "COM1");
    EXPECT_EQ(ini.ReadString("ComPort1", "BaudRate", ""), "115200");
    EXPECT_EQ(ini.ReadString("ComPort1", "StopBits", ""), "1");
    EXPECT_EQ(ini.ReadString("ComPort1", "DataBits", ""), "8");
    EXPECT_EQ(ini.ReadString("ComPort1", "Parity", ""), "None");
    EXPECT_EQ(ini.ReadString("ComPort1", "FlowControl", ""), "None");
}

TEST(IniPersistence, EveryGroupRoundTrips) {
    TempIni file;
    TComPort source;
    source.SetName("ComPort1");
    source.SetStoredProps({spBasic, spFlowControl, spBuffer, spTimeouts, spParity, spOthers});
    source.SetPort("ttyUSB0");
    source.SetBaudRate(brCustom);
    source.SetCustomBaudRate(250000);
    source.SetDataBits(dbSeven);
    source.SetStopBits(sbTwoStopBits);
    source.SetEventChar('\n');
    source.SetDiscardNull(true);
    source.Parity().SetBits(prEven);
    source.Parity().SetCheck(true);
    source.Parity().SetReplace(true);
    source.Parity().SetReplaceChar('?');
    source.Buffer().SetInputSize(4096);
    source.Buffer().SetOutputSize(-2);
    source.Timeouts().SetReadInterval(-1);
    source.Timeouts().SetReadTotalConstant(5);
    source.Timeouts().SetWriteTotalMultiplier(0);
    source.FlowControl().SetFlowControl(fcHardware);
    source.FlowControl().SetControlDTR(dtrHandshake);
    source.FlowControl().SetXonChar(1);
    source.FlowControl().SetXoffChar(255);
    TIniFile ini(file.Path());
    source.WriteSettingsToIni(ini);
    EXPECT_EQ(ini.ReadString("ComPort1", "CustomBaudRate", ""), "250000");
    EXPECT_EQ(ini.ReadString("ComPort1", "EventChar", ""), "#10");

    TComPort copy;
    copy.SetName("ComPort1");
    copy.SetStoredProps(source.StoredProps());
    copy.ReadSettingsFromIni(ini);
    EXPECT_EQ(copy.Port(), "ttyUSB0");
    EXPECT_EQ(copy.BaudRate(), brCustom);
    EXPECT_EQ(copy.CustomBaudRate(), 250000);
    EXPECT_EQ(copy.DataBits(), dbSeven);
    EXPECT_EQ(copy.StopBits(), sbTwoStopBits);
    EXPECT_EQ(copy.EventChar(), '\n');
    EXPECT_TRUE(copy.DiscardNull());
    EXPECT_EQ(copy.Parity().Bits(), prEven);
    EXPECT_TRUE(copy.Parity().Check());
    EXPECT_TRUE(copy.Parity().Replace());
    EXPECT_EQ(copy.Parity().ReplaceChar(), '?');
    EXPECT_EQ(copy.Buffer().InputSize(), 4096);
    EXPECT_EQ(copy.Buffer().OutputSize(), -2);
    EXPECT_EQ(copy.Timeouts().ReadTotalConstant(), 5);
    EXPECT_EQ(copy.Timeouts().WriteTotalMultiplier(), 0);
    EXPECT_EQ(copy.FlowControl().FlowControl(), fcHardware);
    EXPECT_EQ(copy.FlowControl().ControlDTR(), dtrHandshake);
    EXPECT_EQ(copy.FlowControl().XonChar(), 1);
    EXPECT_EQ(copy.FlowControl().XoffChar(), 255);
}

TEST(IniPersistence, MissingKeysKeepTheCurrentValueAndCustomRateDefaultsTo9600) {
    TempIni file;
    file.Write("[ComPort1]\nBaudRate=custom\nFlowControl.XonXoffIn=yes\n[Other]\nPort=COM9\n");
    TComPort port;
    port.SetName("ComPort1");
    port.SetStoredProps({spBasic, spFlowControl});
    port.SetCustomBaudRate(57600);
    port.FlowControl().SetOutDSRFlow(true);
    TIniFile ini(file.Path());
    port.ReadSettingsFromIni(ini);
    EXPECT_EQ(port.Port(), "COM1") << "another section's key is not ours";
    EXPECT_EQ(port.BaudRate(), brCustom);
    EXPECT_EQ(port.CustomBaudRate(), 9600);
    EXPECT_TRUE(port.FlowControl().OutDSRFlow()) << "missing key: unchanged";
    EXPECT_TRUE(port.FlowControl().XonXoffIn());
}

TEST(IniPersistence, WholeNumbersTakeHexAndFallBackOnGarbage) {
    TempIni file;
    file.Write("[ComPort1]\nBuffer.OutputSize=0x800\nBuffer.InputSize=lots\n");
    TComPort port;
    port.SetName("ComPort1");
    port.SetStoredProps({spBuffer});
    port.Buffer().SetInputSize(512);
    TIniFile ini(file.Path());
    port.ReadSettingsFromIni(ini);
    EXPECT_EQ(port.Buffer().OutputSize(), 2048);
    EXPECT_EQ(port.Buffer().InputSize(), 512);
}

TEST(IniPersistence, UnselectedGroupsAreNeitherWrittenNorReadAndNothingIsDeleted) {
    TempIni file;
    file.Write("; kept\n[ComPort1]\nCustomBaudRate=1234\nParity.Check=Yes\n");
    TComPort port;
    port.SetName("ComPort1");
    TIniFile ini(file.Path());
    port.ReadSettingsFromIni(ini);
    EXPECT_FALSE(port.Parity().Check());
    port.WriteSettingsToIni(ini);
    const std::string text = file.Text();
    EXPECT_NE(text.find("; kept"), std::string::npos);
    EXPECT_NE(text.find("CustomBaudRate=1234"), std::string::npos);
    EXPECT_NE(text.find("Parity.Check=Yes"), std::string::npos);
    EXPECT_EQ(text.find("Timeouts."), std::string::npos);
}

TEST(IniPersistence, ReadingOnAnOpenPortAppliesKeyByKey) {
    TempIni file;
    file.Write("[ComPort1]\nBaudRate=115200\nDataBits=7\nPort=COM1\n");
    FakePort p;
    p.port.SetConnected(true);
    p.fake->ClearCalls();
    TIniFile ini(file.Path());
    p.port.ReadSettingsFromIni(ini);
    // BaudRate and DataBits changed; Port, StopBits, Parity unchanged; the FlowControl
    // summary is a preset write, which always re-applies.
    EXPECT_EQ(p.fake->CallCount(Call::SetCommState), 3u);
    EXPECT_EQ(p.fake->Dcb().BaudRate, 115200u);
    EXPECT_EQ(p.fake->Dcb().ByteSize, 7);
    EXPECT_EQ(p.fake->CallCount(Call::Open), 0u);
}

TEST(RegistryPersistence, RoundTripThroughAKeyStore) {
    TComPort source;
    source.SetStoredProps({spBasic, spBuffer, spTimeouts, spOthers});
    source.SetPort("ttyACM0");
    source.SetBaudRate(br38400);
    source.Buffer().SetInputSize(2048);
    source.Timeouts().SetReadInterval(20);
    source.SetEventChar('A');
    TMemoryKeyStore key;
    source.WriteSettingsToRegistry(key);
    EXPECT_EQ(key.ReadString("BaudRate"), "38400");
    EXPECT_EQ(key.ReadInteger("Buffer.InputSize"), 2048);
    EXPECT_FALSE(key.ValueExists("CustomBaudRate"));

    TComPort copy;
    copy.SetStoredProps(source.StoredProps());
    copy.ReadSettingsFromRegistry(key);
    EXPECT_EQ(copy.Port(), "ttyACM0");
    EXPECT_EQ(copy.BaudRate(), br38400);
    EXPECT_EQ(copy.Buffer().InputSize(), 2048);
    EXPECT_EQ(copy.Timeouts().ReadInterval(), 20);
    EXPECT_EQ(copy.EventChar(), 'A');
}

TEST(RegistryPersistence, MissingTextsFallBackAndAMissingNumberStopsTheRead) {
    TMemoryKeyStore empty;
    TComPort port;
    port.SetBaudRate(br115200);
    port.ReadSettingsFromRegistry(empty);
    EXPECT_EQ(port.Port(), "");
    EXPECT_EQ(port.BaudRate(), br9600);

    TComPort buffered;
    buffered.SetStoredProps({spOthers, spBuffer, spTimeouts});
    buffered.SetEventChar('x');
    buffered.Timeouts().SetReadInterval(7);
    EXPECT_THROW(buffered.ReadSettingsFromRegistry(empty), ERegistryException);
    EXPECT_EQ(buffered.EventChar(), 0) << "read before the failing key: stays set";
    EXPECT_EQ(buffered.Timeouts().ReadInterval(), 7) << "after it: never read";
}

TEST(RegistryPersistence, WrongTypedNumberIsTheStoresError) {
    TMemoryKeyStore key;
    key.WriteString("Buffer.OutputSize", "1024");
    TComPort port;
    port.SetStoredProps({spBuffer});
    EXPECT_THROW(port.ReadSettingsFromRegistry(key), ERegistryException);
}

}  // namespace

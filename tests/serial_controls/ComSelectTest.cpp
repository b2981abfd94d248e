// The selector's logic and the serial port list, without Qt.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "ComSelect.h"
#include "FakeTtyClass.h"
#include "SerialPorts.h"

namespace {

using controlstest::FakeTtyClass;
using Texts = std::vector<std::string>;

// Points the port list at a fake tty class tree for the duration of a test.
class WithTtyClass : public ::testing::Test {
protected:
    void SetUp() override {
        SetTtyClassDir(tree_.Dir());
        SetSimulatorPortDir(tree_.SimulatorDir());
    }
    void TearDown() override {
        SetTtyClassDir("");
        SetSimulatorPortDir("");
    }
    FakeTtyClass tree_;
};

// ---------------------------------------------------------------------------------------------
// ListSerialPorts

using ListSerialPortsTest = WithTtyClass;

TEST_F(ListSerialPortsTest, SortsIgnoringCaseSoTenComesBeforeTwo) {
    for (const char* name : {"COM2", "COM13", "ttyUSB2", "COM1", "ttyUSB10", "Zport0", "COM10"})
        tree_.AddPort(name);
    TStringList list;
    ListSerialPorts(list);
    // Byte order would put "Zport0" before the lower-case names.
    EXPECT_EQ(list.ToVector(),
              (Texts{"COM1", "COM10", "COM13", "COM2", "ttyUSB10", "ttyUSB2", "Zport0"}));
}

TEST_F(ListSerialPortsTest, ListsOnlyTtysWithHardwareAndDropsEmptyUartSlots) {
    tree_.AddPort("ttyS0", 4);   // a 16550A
    tree_.AddPort("ttyS1", 0);   // an empty 8250 slot
    tree_.AddPort("ttyS2", 0);
    tree_.AddPort("ttyS3", 1);
    tree_.AddPort("ttyUSB0");    // USB serial drivers have no type attribute
    tree_.AddPort("ttyACM0");
    tree_.AddVirtual("tty0");
    tree_.AddVirtual("console");
    tree_.AddVirtual("ptmx");
    TStringList list;
    ListSerialPorts(list);
    EXPECT_EQ(list.ToVector(), (Texts{"ttyACM0", "ttyS0", "ttyS3", "ttyUSB0"}));
}

TEST_F(ListSerialPortsTest, NamesADeviceInASubdirectoryAsThePortOpensIt) {
    tree_.AddPort("pts!7");  // sysfs spells /dev/pts/7 this way
    TStringList list;
    ListSerialPorts(list);
    EXPECT_EQ(list.ToVector(), (Texts{"pts/7"}));
}

TEST_F(ListSerialPortsTest, ReplacesTheWholeList) {
    tree_.AddPort("ttyUSB0");
    TStringList list;
    list.Assign({"stale", "ttyUSB0", "also stale"});
    ListSerialPorts(list);
    EXPECT_EQ(list.ToVector(), (Texts{"ttyUSB0"}));
}

TEST(ListSerialPorts, AMissingClassDirectoryGivesAnEmptyListSilently) {
    TStringList list;
    list.Assign({"stale"});
    ListSerialPorts(list, "/nonexistent/sys/class/tty");
    EXPECT_EQ(list.Count(), 0);
}

TEST(ListSerialPorts, ReadsTheSystemDirectoryByDefault) {
    EXPECT_EQ(TtyClassDir(), "/sys/class/tty");
    SetTtyClassDir("/elsewhere");
    EXPECT_EQ(TtyClassDir(), "/elsewhere");
    SetTtyClassDir("");
    EXPECT_EQ(TtyClassDir(), "/sys/class/tty");
}

// ---------------------------------------------------------------------------------------------
// TComSelect

class ComSelectTest : public WithTtyClass {
protected:
    void SetUp() override {
        WithTtyClass::SetUp();
        for (const char* name : {"COM1", "COM10", "COM2", "COM13"}) tree_.AddPort(name);
        select_.SetItems(&items_);
    }
    TStringList items_;
    TComSelect select_;
    TComPort port_;
};

TEST_F(ComSelectTest, StartsServingNothing) {
    EXPECT_EQ(select_.PropertyKind(), cpNone);
    EXPECT_EQ(select_.ComPort(), nullptr);
    EXPECT_FALSE(select_.AutoApply());
    EXPECT_EQ(select_.ChosenPort(), "");
    EXPECT_EQ(select_.ChosenBaudRate(), brCustom);
}

TEST_F(ComSelectTest, FillsTheListForEveryKindAfterEmptyingIt) {
    const struct {
        TComProperty kind;
        Texts expected;
    } cases[] = {
        {cpNone, {}},
        {cpPort, {"COM1", "COM10", "COM13", "COM2"}},
        {cpBaudRate,
         {"Custom", "110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200",
          "38400", "56000", "57600", "115200", "128000", "256000"}},
        {cpDataBits, {"5", "6", "7", "8"}},
        {cpStopBits, {"1", "1.5", "2"}},
        {cpParity, {"None", "Odd", "Even", "Mark", "Space"}},
        {cpFlowControl, {"Hardware", "Software", "None", "Custom"}},
    };
    for (const auto& c : cases) {
        items_.Assign({"left over"});
        select_.SetPropertyKind(c.kind);
        EXPECT_EQ(select_.PropertyKind(), c.kind);
        EXPECT_EQ(items_.ToVector(), c.expected) << "kind " << int(c.kind);
    }
    select_.SetPropertyKind(cpBaudRate);
    EXPECT_EQ(items_.Get(13), "115200");
}

TEST_F(ComSelectTest, AppliedChoicesReachThePortSetting) {
    // The port starts away from every value picked, so each write is a change.
    port_.SetBaudRate(br115200);
    port_.SetDataBits(dbEight);
    port_.SetStopBits(sbOneStopBit);
    port_.FlowControl().SetFlowControl(fcNone);
    select_.SetComPort(&port_);
    select_.SetAutoApply(true);

    select_.SetPropertyKind(cpPort);
    select_.TakeChoice("COM13");
    EXPECT_EQ(port_.Port(), "COM13");

    select_.SetPropertyKind(cpBaudRate);
    select_.TakeChoice("Custom");  // the port then runs at its CustomBaudRate
    EXPECT_EQ(port_.BaudRate(), brCustom);
    select_.TakeChoice("57600");
    EXPECT_EQ(port_.BaudRate(), br57600);

    select_.SetPropertyKind(cpDataBits);
    select_.TakeChoice("7");
    EXPECT_EQ(port_.DataBits(), dbSeven);

    select_.SetPropertyKind(cpStopBits);
    select_.TakeChoice("1.5");
    EXPECT_EQ(port_.StopBits(), sbOne5StopBits);

    select_.SetPropertyKind(cpParity);
    select_.TakeChoice("mark");  // the conversions ignore case
    EXPECT_EQ(port_.Parity().Bits(), prMark);

    select_.SetPropertyKind(cpFlowControl);
    select_.TakeChoice("Software");
    EXPECT_EQ(port_.FlowControl().FlowControl(), fcSoftware);
    EXPECT_TRUE(port_.FlowControl().XonXoffIn());

    // cpNone takes and writes nothing.
    select_.SetPropertyKind(cpNone);
    select_.TakeChoice("9600");
    EXPECT_EQ(port_.BaudRate(), br57600);
}

TEST_F(ComSelectTest, TextThatNamesNoValueFallsBackToTheDefault) {
    port_.SetBaudRate(br115200);
    select_.SetComPort(&port_);
    select_.SetAutoApply(true);
    select_.SetPropertyKind(cpBaudRate);
    select_.TakeChoice("fast");
    EXPECT_EQ(select_.ChosenBaudRate(), br9600);
    EXPECT_EQ(port_.BaudRate(), br9600);
}

TEST_F(ComSelectTest, WithoutAutoApplyAChoiceIsOnlyKeptUntilApplied) {
    port_.SetBaudRate(br115200);
    select_.SetComPort(&port_);
    select_.SetPropertyKind(cpBaudRate);
    select_.TakeChoice("1200");
    EXPECT_EQ(select_.ChosenBaudRate(), br1200);
    EXPECT_EQ(port_.BaudRate(), br115200);
    // Turning AutoApply on later does not apply what was taken before.
    select_.SetAutoApply(true);
    EXPECT_EQ(port_.BaudRate(), br115200);
    select_.ApplyChoice();
    EXPECT_EQ(port_.BaudRate(), br1200);
}

TEST_F(ComSelectTest, ApplyingWithoutAPortDoesNothing) {
    select_.SetPropertyKind(cpBaudRate);
    select_.SetAutoApply(true);
    select_.TakeChoice("300");
    EXPECT_EQ(select_.ChosenBaudRate(), br300);
    EXPECT_EQ(port_.BaudRate(), br9600);  // the unbound port's default, untouched
}

TEST_F(ComSelectTest, LocatesThePortNameInTheListsSpellingWithoutApplyingIt) {
    port_.SetPort("com1");
    select_.SetComPort(&port_);
    select_.SetAutoApply(true);
    select_.SetPropertyKind(cpPort);
    EXPECT_EQ(select_.LocateCurrent(), 0);
    EXPECT_EQ(select_.ChosenPort(), "COM1");
    EXPECT_EQ(port_.Port(), "com1");

    port_.SetPort("COM99");
    EXPECT_EQ(select_.LocateCurrent(), -1);
    EXPECT_EQ(select_.ChosenPort(), "COM1");  // nothing found, nothing kept
}

TEST_F(ComSelectTest, LocatesEverySettingThroughItsDisplayText) {
    port_.SetBaudRate(br115200);
    port_.SetDataBits(dbSix);
    port_.SetStopBits(sbTwoStopBits);
    port_.Parity().SetBits(prEven);
    port_.FlowControl().SetFlowControl(fcHardware);
    select_.SetComPort(&port_);

    select_.SetPropertyKind(cpBaudRate);
    EXPECT_EQ(select_.LocateCurrent(), 13);
    EXPECT_EQ(select_.ChosenBaudRate(), br115200);
    select_.SetPropertyKind(cpDataBits);
    EXPECT_EQ(select_.LocateCurrent(), 1);
    EXPECT_EQ(select_.ChosenDataBits(), dbSix);
    select_.SetPropertyKind(cpStopBits);
    EXPECT_EQ(select_.LocateCurrent(), 2);
    EXPECT_EQ(select_.ChosenStopBits(), sbTwoStopBits);
    select_.SetPropertyKind(cpParity);
    EXPECT_EQ(select_.LocateCurrent(), 2);
    EXPECT_EQ(select_.ChosenParity(), prEven);
    select_.SetPropertyKind(cpFlowControl);
    EXPECT_EQ(select_.LocateCurrent(), 0);
    EXPECT_EQ(select_.ChosenFlowControl(), fcHardware);

    // Flow-control fields that match no preset read as "Custom".
    port_.FlowControl().SetFlowControl(fcNone);
    port_.FlowControl().SetOutCTSFlow(true);
    EXPECT_EQ(select_.LocateCurrent(), 3);
    EXPECT_EQ(select_.ChosenFlowControl(), fcCustom);
}

TEST_F(ComSelectTest, FindsNothingWithoutAPortOrAKind) {
    select_.SetPropertyKind(cpBaudRate);
    EXPECT_EQ(select_.LocateCurrent(), -1);  // no port
    select_.SetComPort(&port_);
    select_.SetPropertyKind(cpNone);
    items_.Assign({"9600"});
    EXPECT_EQ(select_.LocateCurrent(), -1);  // no kind
    EXPECT_EQ(select_.ChosenBaudRate(), brCustom);
}

TEST(Strings, CompareTextFoldsOnlyCase) {
    EXPECT_EQ(CompareText("com1", "COM1"), 0);
    EXPECT_LT(CompareText("COM10", "COM2"), 0);
    EXPECT_LT(CompareText("COM1", "COM10"), 0);
    EXPECT_GT(CompareText("Zport", "ttyS0"), 0);
    EXPECT_TRUE(SameText("ttyusb0", "TTYUSB0"));
    EXPECT_FALSE(SameText("COM1", "COM1 "));
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Simulators in the port list

namespace simulators {

namespace fs = std::filesystem;

// A terminal of our own, standing in for a simulator's.
class Terminal {
public:
    Terminal() {
        if (openpty(&master_, &slave_, name_, nullptr, nullptr) != 0) throw std::runtime_error("openpty");
    }
    ~Terminal() {
        close(slave_);
        close(master_);
    }
    std::string Path() const { return name_; }

private:
    int master_ = -1, slave_ = -1;
    char name_[128] = {};
};

class SimulatorPortsTest : public WithTtyClass {
protected:
    std::string Announce(const std::string& name, const std::string& target) {
        const fs::path entry = fs::path(tree_.SimulatorDir()) / name;
        fs::create_symlink(target, entry);
        return entry.string();
    }
    Terminal terminal_;
    const std::string self_ = std::to_string(getpid());
};

// Any program may announce a port; a link shows while it leads to the very terminal it was
// made for and, when its name ends in a process id, while that process runs.
TEST_F(SimulatorPortsTest, ListsOnlyLiveAnnouncementsOfTerminalsBesideTheHardware) {
    tree_.AddPort("ttyUSB0");
    std::string gone;
    {
        const Terminal closed;
        gone = closed.Path();
    }
    const struct {
        std::string name;
        std::string target;
        bool listed;
    } cases[] = {
        {"grblsim-" + self_, terminal_.Path(), true},
        {"bridge", terminal_.Path(), true},                       // no process named
        {"grblsim-x" + self_ + "z", terminal_.Path(), true},      // no process id either
        {"grblsim-999999999", terminal_.Path(), false},           // no such process
        {"grblsim-99999999999999999999", terminal_.Path(), false},  // no process can have it
        {"plain-" + self_, tree_.Dir(), false},                   // not a device
        {"gone-" + self_, "/dev/pts/nonexistent", false},         // dangling
        {"closed", gone, false},                                  // its program has ended
        {"null-" + self_, "/dev/null", false},                    // not a terminal
        {".grblsim-" + self_ + ".new", terminal_.Path(), false},  // half made
    };
    Texts expected{"ttyUSB0"};
    for (const auto& c : cases) {
        const std::string entry = Announce(c.name, c.target);
        if (c.listed) expected.push_back(entry);
    }
    // Left from before this terminal existed: its number has been given out again since.
    const std::string old = Announce("old", terminal_.Path());
    const timespec times[2] = {{0, UTIME_OMIT}, {1'000'000'000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, old.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);

    std::sort(expected.begin(), expected.end());
    TStringList list;
    ListSerialPorts(list);
    EXPECT_EQ(list.ToVector(), expected);
    // The two-argument form reads sysfs alone.
    ListSerialPorts(list, tree_.Dir());
    EXPECT_EQ(list.ToVector(), (Texts{"ttyUSB0"}));
}

// Ports named by the operator show beside the others while their device is there, once each.
TEST_F(SimulatorPortsTest, ExtraPortsShowWhileTheirDeviceIsThere) {
    tree_.AddPort("ttyUSB0");
    const std::string announced = Announce("bridge", terminal_.Path());
    SetExtraPorts({terminal_.Path(), "/dev/pts/nonexistent", "null", tree_.Dir(), "ttyusb0",
                   announced, "../etc/passwd"});
    TStringList list;
    ListSerialPorts(list);
    SetExtraPorts({});
    Texts expected{announced, terminal_.Path(), "null", "ttyUSB0"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(list.ToVector(), expected);
    ListSerialPorts(list);
    EXPECT_EQ(list.ToVector(), (Texts{announced, "ttyUSB0"}));
}

TEST(ShortPortName, KeepsTheFileNameOfAPath) {
    const struct {
        const char* name;
        const char* shown;
    } cases[] = {
        {"ttyUSB0", "ttyUSB0"},
        {"COM1", "COM1"},
        {"serial/by-id/usb-1a86", "serial/by-id/usb-1a86"},
        {"/dev/ttyV0", "ttyV0"},
        {"/dev/pts/7", "pts/7"},
        {"/dev/serial/by-id/usb-1a86_USB_Serial-if00-port0", "usb-1a86_USB_Serial-if00-port0"},
        {"/run/user/1000/tarnwick/grblsim-4242", "grblsim-4242"},
        {"/tmp/tarnwick-0/grblsim-17", "grblsim-17"},
        {"/odd/", "/odd/"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(ShortPortName(c.name), c.shown) << c.name;
}

TEST_F(SimulatorPortsTest, ADirectoryOthersCanReachIsNeitherReadNorPrepared) {
    Announce("grblsim-" + self_, terminal_.Path());
    fs::permissions(tree_.SimulatorDir(), fs::perms::group_read | fs::perms::group_exec,
                    fs::perm_options::add);
    EXPECT_TRUE(ListSimulatorPorts(tree_.SimulatorDir(), tree_.Dir()).empty());
    std::string why;
    EXPECT_FALSE(PrepareSimulatorPortDir(tree_.SimulatorDir(), why));
    EXPECT_NE(why.find("0700"), std::string::npos) << why;

    // A link in place of the directory is refused too; a missing one is made private.
    const std::string link = tree_.SimulatorDir() + "-link";
    fs::create_directory_symlink(tree_.SimulatorDir(), link);
    EXPECT_FALSE(PrepareSimulatorPortDir(link, why));
    const std::string fresh = tree_.SimulatorDir() + "/fresh";
    ASSERT_TRUE(PrepareSimulatorPortDir(fresh, why)) << why;
    EXPECT_EQ(fs::status(fresh).permissions() & fs::perms::all, fs::perms::owner_all);
}

TEST(SimulatorPortDir, FollowsTheRuntimeDirectoryOrFallsBackToAPerUserOne) {
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string keep = saved ? saved : "";
    setenv("XDG_RUNTIME_DIR", "/run/user/1234", 1);
    EXPECT_EQ(DefaultSimulatorPortDir(), "/run/user/1234/tarnwick");
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(DefaultSimulatorPortDir(), "/tmp/tarnwick-" + std::to_string(geteuid()));
    if (saved) setenv("XDG_RUNTIME_DIR", keep.c_str(), 1);
}

}  // namespace simulators

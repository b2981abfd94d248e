// The window itself: its frame, the background panel, the five group boxes in creation
// order, the menu bar and the non-visual components.
#include "Design.h"

namespace design {
namespace {

// Not constexpr: the control tables live in their own files.
const GroupBox kGroups[] = {
    {"GroupBoxInterface", " Serial Interface ", {8, 8, 201, 129}, akLeft | akTop, true, 0,
     kSerialInterface},
    {"GroupBoxProcessDisplay", " Process Display ", {224, 8, 481, 129}, akLeft | akTop, true,
     1, kProcessDisplay},
    {"GroupBoxMonitor", " Monitor ", {720, 8, 457, 337}, akLeft | akTop | akBottom, false, 2,
     kMonitor},
    {"GroupBoxManualProcessing", " Manual Process ", {720, 352, 458, 271}, akLeft | akBottom,
     false, 3, kManualProcess},
    {"GroupBoxGCode", " G-Code File Process ", {8, 144, 697, 479}, akLeft | akTop | akBottom,
     true, 4, kGCodeFileProcess},
};

constexpr MenuEntry kDatei[] = {
    {"Neu1", "Neu"},
    {"ffnen1", "Öffnen"},
    {"Speichernunter1", "Speichern unter"},
    {"Beenden1", "Beenden"},
};
constexpr MenuEntry kEdit[] = {
    {"Kopieren1", "Kopieren"},
    {"Ausschneiden1", "Ausschneiden"},
    {"Einfgen1", "Einfügen"},
    {"Allesmarkieren1", "Alles markieren"},
};
// Beyond the described four: opens the toolpath window.
constexpr MenuEntry kAnsicht[] = {
    {"Werkzeugweg1", "Werkzeugweg", "Werkzeugweg1Click"},
};
constexpr Menu kMenus[] = {
    {{"Datei1", "Datei"}, kDatei},
    {{"Edit1", "Edit"}, kEdit},
    {{"Einstellungen1", "Einstellungen", "Einstellungen1Click"}, {}},
    {{"Hilfe1", "Hilfe"}, {}},
    {{"Ansicht1", "Ansicht"}, kAnsicht},
};

}  // namespace

const Window kWindow{
    .name = "Form1",
    .caption = "     Tarnwick  v0.1",
    .clientWidth = 1188,
    .clientHeight = 638,
    .outerWidth = 1200,
    .minOuterHeight = 700,
    .maxOuterHeight = 1100,
    .font = {"MS Sans Serif", 13, false, kWindowText},
    .background = kButtonFace,
    .panelName = "LMDSimplePanel1",
    .panelColour = Rgb(0xD6D8BE),
    .groupColour = Rgb(0xC2CD95),
    .groupFont = {"Arial", 15, true, Rgb(0x000000)},
};

const std::span<const GroupBox> kGroupBoxes = kGroups;
const std::span<const Menu> kMenu = kMenus;
const char* const kMenuName = "AdvMainMenu1";
const MenuLook kMenuStyler{"AdvMenuStyler1", {"Tahoma", 14, false, kWindowText}};
const char* const kOpenDialogName = "LMDOpenDialog1";

const Port kComPort1{
    .name = "ComPort1",
    .baudRate = br115200,
    .port = "COM1",
    .parity = prNone,
    .stopBits = sbOneStopBit,
    .dataBits = dbEight,
    .events = {evRxChar, evTxEmpty, evRxFlag, evError, evRLSD, evRx80Full},
    .outCTSFlow = false,
    .outDSRFlow = false,
    .controlDTR = dtrDisable,
    .controlRTS = rtsDisable,
    .xonXoffOut = false,
    .xonXoffIn = false,
    .storedProps = {spBasic},
    .triggersOnRxChar = false,
};
const Framer kComDataPacket1{"ComDataPacket1", "ComDataPacket1Packet"};
const Timer kTimer1{"Timer1", 200, false, "Timer1Timer"};

}  // namespace design

// " Serial Interface ": port and baud selectors, the connection lamp and the connect button.
#include "Design.h"

namespace design {
namespace {

constexpr Font kArial13{"Arial", 13, false, Rgb(0x000000)};

constexpr Control kControls[] = {
    {.name = "Label3", .kind = Kind::Label, .bounds = {25, 32, 24, 16}, .caption = "Port",
     .font = kArial13},
    {.name = "Label4", .kind = Kind::Label, .bounds = {25, 64, 30, 16}, .caption = "Baud",
     .font = kArial13},
    {.name = "ComComboBox1", .kind = Kind::PortSelector, .bounds = {80, 27, 97, 24},
     .font = kArial13, .tabOrder = 0, .property = cpPort, .autoApply = true,
     .designText = "COM13", .itemIndex = 0, .itemHeight = 16},
    {.name = "ComComboBox2", .kind = Kind::PortSelector, .bounds = {80, 58, 97, 24},
     .font = kArial13, .tabOrder = 1, .property = cpBaudRate, .autoApply = true,
     .designText = "115200", .itemIndex = 13, .itemHeight = 16},
    {.name = "ComLed1", .kind = Kind::Led, .bounds = {27, 90, 25, 25}, .ledSignal = lsConn,
     .ledKind = lkGreenLight},
    {.name = "btnComConnect", .kind = Kind::Button, .bounds = {80, 91, 97, 24},
     .caption = "Connect", .font = kArial13, .tabOrder = 2, .onClick = "btnConnectPortClick"},
};

}  // namespace

constinit const std::span<const Control> kSerialInterface = kControls;

}  // namespace design

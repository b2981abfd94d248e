// " Monitor ": the coloured log of every line sent and received.
#include "Design.h"

namespace design {
namespace {

constexpr Control kControls[] = {
    {.name = "RichEdit1", .kind = Kind::Monitor, .bounds = {8, 18, 441, 281},
     .font = {"Arial", 12, true, Rgb(0x000000)}, .background = Rgb(0xFFFFFF),
     .anchors = akLeft | akTop | akBottom, .tabOrder = 1, .designText = "\r\n"},
    {.name = "labelStatus2", .kind = Kind::Label, .bounds = {11, 305, 73, 24},
     .caption = " ----- ", .font = {"Arial", 15, true, Rgb(0x800000)},
     .background = Rgb(0xFFFFFF), .align = Qt::AlignCenter, .anchors = akLeft | akBottom},
    {.name = "btnterminalClear", .kind = Kind::Button, .bounds = {343, 304, 105, 26},
     .caption = "Clear", .anchors = akLeft | akBottom, .tabOrder = 0,
     .onClick = "btnterminalClearClick"},
};

}  // namespace

constinit const std::span<const Control> kMonitor = kControls;

}  // namespace design

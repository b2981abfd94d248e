// " Process Display ": the machine state and the X, Y and Z work positions.
#include "Design.h"

namespace design {
namespace {

constexpr Font kPosition{"Courier New", 20, true, Rgb(0x00FF00)};
constexpr Font kAxisCaption{"Arial", 15, false, Rgb(0x000000)};
constexpr Qt::Alignment kRightCentred = Qt::AlignRight | Qt::AlignVCenter;

constexpr Control kControls[] = {
    {.name = "labelStatus1", .kind = Kind::Label, .bounds = {48, 36, 137, 73},
     .caption = " ----- ", .font = {"Arial", 40, true, Rgb(0x00FF00)},
     .background = Rgb(0x96A867), .align = Qt::AlignCenter},
    {.name = "labelXwDisplay", .kind = Kind::Label, .bounds = {305, 24, 137, 28},
     .caption = " ----- ", .font = kPosition, .background = Rgb(0x000000),
     .align = kRightCentred},
    {.name = "labelYwDisplay", .kind = Kind::Label, .bounds = {305, 56, 137, 28},
     .caption = " ----- ", .font = kPosition, .background = Rgb(0x000000),
     .align = kRightCentred},
    {.name = "labelZwDisplay", .kind = Kind::Label, .bounds = {305, 88, 137, 28},
     .caption = " ----- ", .font = kPosition, .background = Rgb(0x000000),
     .align = kRightCentred},
    {.name = "Label8", .kind = Kind::Label, .bounds = {235, 29, 53, 17}, .caption = "X-World",
     .font = kAxisCaption},
    {.name = "Label9", .kind = Kind::Label, .bounds = {235, 61, 52, 17}, .caption = "Y-World",
     .font = kAxisCaption},
    {.name = "Label10", .kind = Kind::Label, .bounds = {235, 92, 52, 17}, .caption = "Z-World",
     .font = kAxisCaption},
};

}  // namespace

constinit const std::span<const Control> kProcessDisplay = kControls;

}  // namespace design

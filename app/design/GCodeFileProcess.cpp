// " G-Code File Process ": the file grid and its buttons.
#include "Design.h"

namespace design {
namespace {

constexpr Font kArial13{"Arial", 13, false, Rgb(0x000000)};

constexpr Control kControls[] = {
    {.name = "JvStringGrid1", .kind = Kind::Grid, .bounds = {8, 56, 678, 369},
     .font = {"MS Sans Serif", 13, true, Rgb(0x000000)}, .background = Rgb(0xFFFFFF),
     .anchors = akLeft | akTop | akBottom, .tabOrder = 0, .columns = 4, .rows = 8,
     .fixedRows = 1, .rowHeight = 20, .defaultColumnWidth = 64, .columnWidths = {360, 72, 70, 143},
     .headerFont = {"MS Sans Serif", 13, false, kWindowText},
     .onDrawCell = "JvStringGrid1DrawCell"},
    {.name = "JvXPButton6", .kind = Kind::ImageButton, .bounds = {216, 16, 145, 34},
     .caption = "G-Code Laden", .font = kArial13, .glyph = Glyph::DiskUp,
     .glyphAt = GlyphAt::Left,
     .onClick = "btnLoadFromFileClick"},
    {.name = "btnStartProcess", .kind = Kind::ImageButton, .bounds = {390, 16, 145, 34},
     .caption = "Start Process", .font = kArial13, .enabled = false,
     .glyph = Glyph::OpenCircle, .glyphAt = GlyphAt::Left, .glyphGap = 6},
    {.name = "btnStop1", .kind = Kind::ImageButton, .bounds = {542, 16, 145, 34},
     .caption = "Not-Stop", .font = kArial13, .enabled = false,
     .glyph = Glyph::SlashedCircle, .glyphAt = GlyphAt::Left, .glyphGap = 6,
     .onClick = "btnStop1Click"},
};

}  // namespace

constinit const std::span<const Control> kGCodeFileProcess = kControls;

}  // namespace design

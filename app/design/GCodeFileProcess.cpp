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
     .glyph = Glyph::OpenCircle, .glyphAt = GlyphAt::Left, .glyphGap = 6,
     .onClick = "btnStartProcessClick"},
    {.name = "btnStop1", .kind = Kind::ImageButton, .bounds = {542, 16, 145, 34},
     .caption = "Not-Stop", .font = kArial13, .enabled = false,
     .glyph = Glyph::SlashedCircle, .glyphAt = GlyphAt::Left, .glyphGap = 6,
     .onClick = "btnStop1Click"},
    // Running the file: below the grid, moving with its bottom edge.
    {.name = "btnJobPause", .kind = Kind::ImageButton, .bounds = {8, 433, 110, 34},
     .caption = "Pause", .font = kArial13, .anchors = akLeft | akBottom, .enabled = false,
     .glyph = Glyph::TwoBars, .glyphAt = GlyphAt::Left, .glyphGap = 6,
     .onClick = "btnJobPauseClick"},
    {.name = "btnJobResume", .kind = Kind::ImageButton, .bounds = {124, 433, 130, 34},
     .caption = "Fortsetzen", .font = kArial13, .anchors = akLeft | akBottom, .enabled = false,
     .glyph = Glyph::TriangleRight, .glyphAt = GlyphAt::Left, .glyphGap = 6,
     .onClick = "btnJobResumeClick"},
    {.name = "btnJobStop", .kind = Kind::ImageButton, .bounds = {260, 433, 130, 34},
     .caption = "Abbrechen", .font = kArial13, .anchors = akLeft | akBottom, .enabled = false,
     .glyph = Glyph::Square, .glyphAt = GlyphAt::Left, .glyphGap = 6,
     .onClick = "btnJobStopClick"},
    {.name = "labelJobProgress", .kind = Kind::Label, .bounds = {398, 433, 288, 34},
     .font = kArial13, .anchors = akLeft | akBottom},
};

}  // namespace

constinit const std::span<const Control> kGCodeFileProcess = kControls;

}  // namespace design

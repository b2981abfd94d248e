// " Manual Process ": jogging, work zero, spindle, system commands, manual input and the
// emergency stop. Push buttons without a stated height are 21 high.
#include "ChannelText.h"
#include "Design.h"

namespace design {
namespace {

constexpr Font kArial13{"Arial", 13, false, Rgb(0x000000)};
constexpr Font kNarrow{"Arial Narrow", 13, false, kWindowText};
constexpr Font kImage{"Arial", 20, true, kWindowText};
constexpr Font kSpin{"Arial", 17, true, Rgb(0x000000)};

// The jog, zero, spindle, step and "$" buttons are wired with the manual panel's handlers;
// only the soft reset belongs to the command channel.
constexpr Control kControls[] = {
    {.name = "Label1", .kind = Kind::Label, .bounds = {60, 237, 44, 16}, .caption = "G-Code",
     .font = kArial13},
    {.name = "Label2", .kind = Kind::Label, .bounds = {307, 22, 22, 16}, .caption = "mm",
     .font = kArial13},
    {.name = "Label5", .kind = Kind::Label, .bounds = {307, 85, 29, 16}, .caption = "Feed",
     .font = kArial13},
    {.name = "EditManualInput", .kind = Kind::Edit, .bounds = {115, 234, 334, 26},
     .tabOrder = 0,
     .onKeyDown = "EditManualInputKeyDown", .maxLength = kTypedLineMax},
    {.name = "btnYplus", .kind = Kind::ImageButton, .bounds = {64, 34, 50, 50}, .caption = "+",
     .hint = "+ Y", .font = kImage, .tabOrder = 1, .handCursor = true,
     .glyph = Glyph::ArrowUp, .glyphAt = GlyphAt::Above,
     .onClick = "btnYplusClick"},
    {.name = "btnManXminus", .kind = Kind::ImageButton, .bounds = {11, 87, 50, 50},
     .caption = "-", .hint = "- X", .font = kImage, .tabOrder = 2, .handCursor = true,
     .glyph = Glyph::ArrowLeft, .glyphAt = GlyphAt::Left,
     .onClick = "btnManXminusClick"},
    {.name = "btnManXplus", .kind = Kind::ImageButton, .bounds = {117, 87, 50, 50},
     .caption = "+", .hint = "+ X", .font = kImage, .tabOrder = 3, .handCursor = true,
     .glyph = Glyph::ArrowRight, .glyphAt = GlyphAt::Right,
     .onClick = "btnManXplusClick"},
    {.name = "btnYminus", .kind = Kind::ImageButton, .bounds = {64, 140, 50, 50},
     .caption = "-", .hint = "- Y", .font = kImage, .tabOrder = 4, .handCursor = true,
     .glyph = Glyph::ArrowDown, .glyphAt = GlyphAt::Below,
     .onClick = "btnYminusClick"},
    {.name = "btnGoHome", .kind = Kind::ImageButton, .bounds = {64, 87, 50, 50},
     .hint = "Home / Zero", .font = kImage, .enabled = false, .tabOrder = 5,
     .handCursor = true, .glyph = Glyph::DotWithRays, .glyphAt = GlyphAt::Above,
     .onClick = "btnGoHomeClick"},
    {.name = "btnManZplus", .kind = Kind::ImageButton, .bounds = {175, 55, 50, 50},
     .caption = "+", .hint = "+ Z", .font = kImage, .tabOrder = 6, .handCursor = true,
     .glyph = Glyph::ArrowUp, .glyphAt = GlyphAt::Above,
     .onClick = "btnManZplusClick"},
    {.name = "btnManZminus", .kind = Kind::ImageButton, .bounds = {175, 115, 50, 50},
     .caption = "-", .hint = "- Z", .font = kImage, .tabOrder = 7, .handCursor = true,
     .glyph = Glyph::ArrowDown, .glyphAt = GlyphAt::Below,
     .onClick = "btnManZminusClick"},
    {.name = "btnSoftReset", .kind = Kind::Button, .bounds = {308, 203, 140, 21},
     .caption = "MC Soft-Reset", .font = kNarrow, .tabOrder = 8,
     .onClick = "btnSoftResetClick"},
    {.name = "btnSendH", .kind = Kind::Button, .bounds = {308, 155, 40, 21}, .caption = "$H",
     .font = kNarrow, .tabOrder = 9,
     .onClick = "btnSendHClick"},
    {.name = "btnSendC", .kind = Kind::Button, .bounds = {409, 155, 40, 21}, .caption = "$C",
     .font = kNarrow, .tabOrder = 10,
     .onClick = "btnSendCClick"},
    {.name = "btnSendX", .kind = Kind::Button, .bounds = {359, 155, 40, 21}, .caption = "$X",
     .font = kNarrow, .tabOrder = 11,
     .onClick = "btnSendXClick"},
    {.name = "btnManG", .kind = Kind::Button, .bounds = {409, 179, 40, 21}, .caption = "$G",
     .font = kNarrow, .tabOrder = 12,
     .onClick = "btnManGClick"},
    {.name = "btnManDollar", .kind = Kind::Button, .bounds = {308, 179, 40, 21},
     .caption = "$", .font = kNarrow, .tabOrder = 13,
     .onClick = "btnManDollarClick"},
    {.name = "btnManDollarDollar", .kind = Kind::Button, .bounds = {358, 179, 40, 21},
     .caption = "$$", .font = kNarrow, .tabOrder = 14,
     .onClick = "btnManDollarDollarClick"},
    {.name = "btnMotorRechts", .kind = Kind::ImageButton, .bounds = {246, 55, 34, 34},
     .hint = "Start Spindle rechtsdrehend", .font = kImage, .tabOrder = 15,
     .handCursor = true, .glyph = Glyph::TurnClockwise, .glyphAt = GlyphAt::Above,
     .onClick = "btnMotorRechtsClick"},
    {.name = "btnMotorLinks", .kind = Kind::ImageButton, .bounds = {246, 93, 34, 34},
     .hint = "Start Spindle linksdrehend", .font = kImage, .tabOrder = 16,
     .handCursor = true, .glyph = Glyph::TurnAnticlockwise, .glyphAt = GlyphAt::Above,
     .onClick = "btnMotorLinksClick"},
    {.name = "btnStop2", .kind = Kind::ImageButton, .bounds = {176, 190, 104, 34},
     .caption = "Not-Stop", .font = kNarrow, .tabOrder = 17, .glyph = Glyph::SlashedCircle,
     .glyphAt = GlyphAt::Left, .glyphGap = 6,
     .onClick = "btnStop1Click"},
    {.name = "editManualmm", .kind = Kind::DecimalSpin, .bounds = {342, 16, 107, 29},
     .font = kSpin, .background = Rgb(0xFFFFFF), .align = Qt::AlignCenter, .tabOrder = 18,
     .flat = true, .value = 0, .step = 0.01, .pageStep = 0.1, .maximum = 1000},
    {.name = "btnSetZero", .kind = Kind::Button, .bounds = {307, 116, 142, 32},
     .caption = "Nullpunkt setzen", .font = kNarrow, .tabOrder = 19,
     .onClick = "btnSetZeroClick"},
    {.name = "btnIncSteps1", .kind = Kind::Button, .bounds = {343, 48, 34, 21}, .caption = "1",
     .font = kNarrow, .tabOrder = 20,
     .onClick = "btnIncSteps1Click"},
    {.name = "btnIncSteps10", .kind = Kind::Button, .bounds = {307, 48, 34, 21},
     .caption = "10", .font = kNarrow, .tabOrder = 21,
     .onClick = "btnIncSteps10Click"},
    {.name = "btnIncSteps01", .kind = Kind::Button, .bounds = {379, 48, 34, 21},
     .caption = "0,1", .font = kNarrow, .tabOrder = 22,
     .onClick = "btnIncSteps01Click"},
    {.name = "btnIncStep001", .kind = Kind::Button, .bounds = {415, 48, 34, 21},
     .caption = "0,01", .font = kNarrow, .tabOrder = 23,
     .onClick = "btnIncStep001Click"},
    {.name = "editFeed", .kind = Kind::WholeSpin, .bounds = {368, 77, 81, 29}, .font = kSpin,
     .background = Rgb(0xFFFFFF), .align = Qt::AlignCenter, .tabOrder = 24, .flat = true,
     .value = 100, .step = 10, .pageStep = 100, .maximum = 1000},
    {.name = "btnMotorStop", .kind = Kind::ImageButton, .bounds = {246, 131, 34, 34},
     .hint = "Spindel stop", .font = kImage, .tabOrder = 25, .handCursor = true,
     .glyph = Glyph::Square, .glyphAt = GlyphAt::Above,
     .onClick = "btnMotorStopClick"},
};

}  // namespace

constinit const std::span<const Control> kManualProcess = kControls;

}  // namespace design

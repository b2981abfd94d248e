#pragma once
// The window's design description: data, one table per group box, a row per control in the
// order the window creates them. Positions and sizes are pixels designed at 120 px/inch; font
// heights are character heights in pixels at that density.

#include <QtGlobal>
#include <array>
#include <cstdint>
#include <span>

#include "CPortCtl.h"

namespace design {

struct Rect {
    int left, top, width, height;
};

// A colour of the design: none (inherit, transparent), an RGB value or a system colour.
struct Colour {
    enum Kind : std::uint8_t { None, Rgb, WindowText, ButtonFace } kind = None;
    std::uint32_t rgb = 0;  // 0xRRGGBB
};
constexpr Colour Rgb(std::uint32_t rgb) { return {Colour::Rgb, rgb}; }
inline constexpr Colour kWindowText{Colour::WindowText};
inline constexpr Colour kButtonFace{Colour::ButtonFace};

struct Font {
    const char* family = nullptr;  // none: the parent's font
    int height = 0;                // character height in px
    bool bold = false;
    Colour colour{};
};

enum Anchor : unsigned { akLeft = 1, akTop = 2, akBottom = 4 };

enum class Kind : std::uint8_t {
    Label,
    Button,        // push button
    ImageButton,   // push button with a picture beside its caption
    Edit,          // one-line text box
    Monitor,       // read-only log with coloured runs
    PortSelector,  // TComComboBox
    Led,           // TComLed
    DecimalSpin,
    WholeSpin,
    Grid,
};

// The button pictures, drawn anew; sizes in design pixels.
enum class Glyph : std::uint8_t {
    None,
    ArrowUp,        // 18 x 20
    ArrowDown,      // 18 x 20
    ArrowLeft,      // 20 x 18
    ArrowRight,     // 20 x 18
    DotWithRays,    // 24 x 24: the work zero
    TurnClockwise,  // 25 x 26: spindle right
    TurnAnticlockwise,  // 26 x 26: spindle left
    Square,         // 14 x 14: spindle stop
    SlashedCircle,  // 26 x 26: emergency stop
    DiskUp,         // 22 x 22: load a file
    OpenCircle,     // 23 x 26: start
    TwoBars,        // 14 x 16: pause
    TriangleRight,  // 14 x 16: resume
};
enum class GlyphAt : std::uint8_t { Left, Right, Above, Below };

struct Control {
    const char* name;
    Kind kind;
    Rect bounds;
    const char* caption = "";
    const char* hint = "";  // shown as a tooltip
    Font font{};
    Colour background{};  // set: the control is opaque in that colour
    Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter;
    unsigned anchors = akLeft | akTop;
    bool enabled = true;
    int tabOrder = -1;  // -1: takes no part in tabbing
    bool handCursor = false;
    Glyph glyph = Glyph::None;
    GlyphAt glyphAt = GlyphAt::Left;
    int glyphGap = 0;
    const char* onClick = "";  // handler name; empty: not wired
    bool flat = false;

    // Port selector
    TComProperty property = cpNone;
    bool autoApply = false;
    const char* designText = "";  // also: the monitor's starting text
    int itemIndex = -1;
    int itemHeight = 0;
    // LED
    TComLedSignal ledSignal = lsConn;
    TLedKind ledKind = lkRedLight;
    // Spin edits
    double value = 0, step = 1, pageStep = 10, maximum = 0;
    // Grid
    int columns = 0, rows = 0, fixedRows = 0, rowHeight = 0, defaultColumnWidth = 0;
    std::array<int, 4> columnWidths{};
    Font headerFont{};
    // Key-down handler (one-line text box) and draw-cell handler (grid); empty: not wired.
    const char* onKeyDown = "";
    const char* onDrawCell = "";
    // One-line text box: the most characters it takes; 0: no limit of its own.
    int maxLength = 0;
};

struct GroupBox {
    const char* name;
    const char* caption;
    Rect bounds;
    unsigned anchors;
    bool enabled;
    int tabOrder;
    std::span<const Control> controls;
};

struct MenuEntry {
    const char* name;
    const char* caption;
    const char* onClick = "";
};
struct Menu {
    MenuEntry top;
    std::span<const MenuEntry> items;
};

struct Window {
    const char* name;
    const char* caption;
    int clientWidth, clientHeight;
    int outerWidth, minOuterHeight, maxOuterHeight;
    Font font{};
    Colour background;
    // The background panel that fills the client area.
    const char* panelName;
    Colour panelColour;
    // Shared by all group boxes: background, caption and body font.
    Colour groupColour;
    Font groupFont;
};

struct Port {
    const char* name;
    TBaudRate baudRate;
    const char* port;
    TParityBits parity;
    TStopBits stopBits;
    TDataBits dataBits;
    TComEvents events;
    bool outCTSFlow, outDSRFlow;
    TDTRFlowControl controlDTR;
    TRTSFlowControl controlRTS;
    bool xonXoffOut, xonXoffIn;
    TStoredProps storedProps;
    bool triggersOnRxChar;
};
struct Framer {
    const char* name;
    const char* onPacket;
};
struct Timer {
    const char* name;
    int interval;
    bool enabled;
    const char* onTimer;
};
struct MenuLook {
    const char* name;
    Font font{};
};

// The tables (app/design/*.cpp), one per group box, then the window's own.
extern const std::span<const Control> kSerialInterface;
extern const std::span<const Control> kProcessDisplay;
extern const std::span<const Control> kMonitor;
extern const std::span<const Control> kManualProcess;
extern const std::span<const Control> kGCodeFileProcess;
extern const Window kWindow;
extern const std::span<const GroupBox> kGroupBoxes;
extern const std::span<const Menu> kMenu;
extern const char* const kMenuName;
extern const MenuLook kMenuStyler;
extern const char* const kOpenDialogName;
extern const Port kComPort1;
extern const Framer kComDataPacket1;
extern const Timer kTimer1;

}  // namespace design

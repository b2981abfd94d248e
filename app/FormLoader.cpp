#include "FormLoader.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <vector>

#include "Anchors.h"
#include "ButtonGlyphs.h"
#include "ChannelText.h"
#include "CPortCtl.h"
#include "GCodeGrid.h"
#include "ImageButton.h"
#include "OpenDialog.h"
#include "SpinEdit.h"
#include "UnitMain.h"
#include "design/Design.h"

namespace {

using namespace design;

constexpr double kDesignDpi = 120.0;

QString Utf8(const char* text) { return QString::fromUtf8(text); }

class Loader {
public:
    Loader(TForm1& form, double scale) : form_(form), scale_(scale) {}

    void ConstructAll();
    void SetReferences();
    void RunAfterLoad();

private:
    int S(int designPixels) const { return qRound(designPixels * scale_); }
    QRect S(const Rect& r) const { return {S(r.left), S(r.top), S(r.width), S(r.height)}; }
    QFont MakeFont(const Font& f, const QFont& base) const;
    void ApplyLook(QWidget* w, const Font& font, Colour background, QPalette::ColorRole text,
                   QPalette::ColorRole ground);
    // Registers a component created on the form: it is loading until the third stage.
    template <typename T>
    T* Loading(T* component) {
        component->BeginLoading();
        loading_.push_back(component);
        return component;
    }

    QWidget* ConstructControl(const Control& c, QWidget* parent);
    QWidget* ConstructPortSelector(const Control& c, QWidget* parent);
    QWidget* ConstructLed(const Control& c, QWidget* parent);
    QWidget* ConstructMonitor(const Control& c, QWidget* parent);
    QWidget* ConstructImageButton(const Control& c, QWidget* parent);
    QWidget* ConstructSpin(const Control& c, QWidget* parent);
    QWidget* ConstructGrid(const Control& c, QWidget* parent);
    void ConstructMenu();
    void ConstructComponents();

    TForm1& form_;
    double scale_;
    TAnchors* anchors_ = nullptr;
    std::vector<TComponent*> loading_;  // in creation order
    std::vector<std::pair<int, QWidget*>> tabbing_;  // (group order * 1000 + order, control)
};

QFont Loader::MakeFont(const Font& f, const QFont& base) const {
    if (!f.family) return base;
    QFont font(Utf8(f.family));
    font.setPixelSize(std::max(1, S(f.height)));
    font.setBold(f.bold);
    return font;
}

QColor ToQColor(Colour c) { return QColor::fromRgb(c.rgb); }

void Loader::ApplyLook(QWidget* w, const Font& font, Colour background,
                       QPalette::ColorRole text, QPalette::ColorRole ground) {
    if (font.family) w->setFont(MakeFont(font, w->font()));
    QPalette pal = w->palette();
    if (font.colour.kind == Colour::Rgb) {
        for (auto group : {QPalette::Active, QPalette::Inactive})
            pal.setColor(group, text, ToQColor(font.colour));
    }
    if (background.kind == Colour::Rgb) {
        pal.setColor(ground, ToQColor(background));
        w->setAutoFillBackground(true);
    }
    w->setPalette(pal);
}

// --- stage 1 ---------------------------------------------------------------------------------

void Loader::ConstructAll() {
    form_.setObjectName(Utf8(kWindow.name));
    form_.setWindowTitle(Utf8(kWindow.caption));
    form_.setFont(MakeFont(kWindow.font, form_.font()));
    anchors_ = new TAnchors(&form_);

    auto* panel = new QWidget(&form_);
    panel->setObjectName(Utf8(kWindow.panelName));
    ApplyLook(panel, {}, kWindow.panelColour, QPalette::WindowText, QPalette::Window);
    // The client area: width fixed, height within the window's limits.
    panel->setFixedWidth(S(kWindow.clientWidth));
    panel->setMinimumHeight(S(kWindow.clientHeight));
    panel->setMaximumHeight(
        S(kWindow.clientHeight + kWindow.maxOuterHeight - kWindow.minOuterHeight));
    panel->resize(S(kWindow.clientWidth), S(kWindow.clientHeight));
    form_.setCentralWidget(panel);

    for (const GroupBox& g : kGroupBoxes) {
        auto* box = new QGroupBox(Utf8(g.caption), panel);
        box->setObjectName(Utf8(g.name));
        box->setGeometry(S(g.bounds));
        ApplyLook(box, kWindow.groupFont, kWindow.groupColour, QPalette::WindowText,
                  QPalette::Window);
        box->setEnabled(g.enabled);
        anchors_->Follow(box, (g.anchors & akTop) != 0, (g.anchors & akBottom) != 0);
        for (const Control& c : g.controls) {
            QWidget* w = ConstructControl(c, box);
            w->setObjectName(Utf8(c.name));
            w->setGeometry(S(c.bounds));
            if (*c.hint) w->setToolTip(Utf8(c.hint));
            if (c.handCursor) w->setCursor(Qt::PointingHandCursor);
            if (!c.enabled) w->setEnabled(false);
            if (c.tabOrder >= 0) tabbing_.emplace_back(g.tabOrder * 1000 + c.tabOrder, w);
            anchors_->Follow(w, (c.anchors & akTop) != 0, (c.anchors & akBottom) != 0);
        }
    }
    ConstructMenu();
    // The window takes its size limits from the client area and the menu bar.
    form_.layout()->setSizeConstraint(QLayout::SetMinAndMaxSize);
    form_.layout()->activate();
    form_.setFixedWidth(form_.minimumWidth());
    ConstructComponents();

    std::stable_sort(tabbing_.begin(), tabbing_.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 1; i < tabbing_.size(); ++i)
        QWidget::setTabOrder(tabbing_[i - 1].second, tabbing_[i].second);

    form_.FindFields();
}

QWidget* Loader::ConstructControl(const Control& c, QWidget* parent) {
    switch (c.kind) {
    case Kind::Label: {
        auto* label = new QLabel(Utf8(c.caption), parent);
        // Labels also show what the controller sends: "<b>7</b>" is text, never markup.
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(c.align);
        ApplyLook(label, c.font, c.background, QPalette::WindowText, QPalette::Window);
        return label;
    }
    case Kind::Button: {
        auto* button = new QPushButton(Utf8(c.caption), parent);
        ApplyLook(button, c.font, c.background, QPalette::ButtonText, QPalette::Button);
        if (*c.onClick) form_.WireClick(button, c.onClick);
        return button;
    }
    case Kind::Edit: {
        auto* edit = new QLineEdit(parent);
        ApplyLook(edit, c.font, c.background, QPalette::Text, QPalette::Base);
        if (*c.onKeyDown) form_.WireKeyDown(edit, c.onKeyDown);
        if (c.maxLength > 0) edit->setMaxLength(c.maxLength);
        return edit;
    }
    case Kind::ImageButton: return ConstructImageButton(c, parent);
    case Kind::Monitor: return ConstructMonitor(c, parent);
    case Kind::PortSelector: return ConstructPortSelector(c, parent);
    case Kind::Led: return ConstructLed(c, parent);
    case Kind::DecimalSpin:
    case Kind::WholeSpin: return ConstructSpin(c, parent);
    case Kind::Grid: return ConstructGrid(c, parent);
    }
    throw Exception(std::string("Unknown kind of control: ") + c.name);
}

QWidget* Loader::ConstructPortSelector(const Control& c, QWidget* parent) {
    auto* box = Loading(new TComComboBox(&form_, parent));
    box->SetName(c.name);
    ApplyLook(box, c.font, c.background, QPalette::Text, QPalette::Base);
    // The order matters: the kind fills the list, then text and index are only recorded.
    box->SetComProperty(c.property);
    box->SetAutoApply(c.autoApply);
    box->SetText(c.designText);
    box->SetItemIndex(c.itemIndex);
    return box;
}

QWidget* Loader::ConstructLed(const Control& c, QWidget* parent) {
    auto* led = Loading(new TComLed(&form_, parent));
    led->SetName(c.name);
    led->SetLedSignal(c.ledSignal);
    led->SetKind(c.ledKind);
    return led;
}

QWidget* Loader::ConstructMonitor(const Control& c, QWidget* parent) {
    auto* monitor = new QPlainTextEdit(parent);
    ApplyLook(monitor, c.font, c.background, QPalette::Text, QPalette::Base);
    monitor->setReadOnly(true);
    // The log only grows; keeping undo steps for it would cost memory for nothing.
    monitor->setUndoRedoEnabled(false);
    monitor->setLineWrapMode(QPlainTextEdit::NoWrap);
    monitor->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    monitor->setPlainText(QString::fromLatin1(MonitorLines(c.designText)));
    return monitor;
}

QWidget* Loader::ConstructImageButton(const Control& c, QWidget* parent) {
    auto* button = new TImageButton(parent);
    button->setText(Utf8(c.caption));
    ApplyLook(button, c.font, c.background, QPalette::ButtonText, QPalette::Button);
    button->SetGlyph(DrawGlyph(c.glyph, scale_, qApp->devicePixelRatio()));
    constexpr TImageButton::TGlyphPosition kAt[] = {TImageButton::gpLeft, TImageButton::gpRight,
                                                    TImageButton::gpAbove,
                                                    TImageButton::gpBelow};
    button->SetGlyphPosition(kAt[static_cast<int>(c.glyphAt)]);
    button->SetSpacing(S(c.glyphGap));
    if (*c.onClick) form_.WireClick(button, c.onClick);
    return button;
}

QWidget* Loader::ConstructSpin(const Control& c, QWidget* parent) {
    auto* spin = Loading(new TSpinEdit(&form_, parent));
    spin->SetName(c.name);
    spin->SetValueType(c.kind == Kind::DecimalSpin ? vtFloat : vtInteger);
    spin->SetIncrement(c.step);
    spin->SetPageIncrement(c.pageStep);
    spin->SetMinValue(0);
    spin->SetMaxValue(c.maximum);
    spin->SetValue(c.value);
    spin->setAlignment(c.align);
    spin->setFrame(!c.flat);
    ApplyLook(spin, c.font, c.background, QPalette::Text, QPalette::Base);
    return spin;
}

QWidget* Loader::ConstructGrid(const Control& c, QWidget* parent) {
    auto* grid = Loading(new TGCodeGrid(&form_, parent));
    grid->SetName(c.name);
    ApplyLook(grid, c.font, c.background, QPalette::Text, QPalette::Base);
    grid->SetDesignScale(scale_);
    grid->SetFixedFont(MakeFont(c.headerFont, grid->font()));
    grid->SetDefaultColWidth(S(c.defaultColumnWidth));
    grid->SetDefaultRowHeight(S(c.rowHeight));
    grid->SetColCount(c.columns);
    grid->SetRowCount(c.rows);
    for (int i = 0; i < c.columns; ++i) grid->SetColWidths(i, S(c.columnWidths[i]));
    if (*c.onDrawCell) form_.WireDrawCell(grid, c.onDrawCell);
    return grid;
}

void Loader::ConstructMenu() {
    auto* bar = new QMenuBar(&form_);
    bar->setObjectName(Utf8(kMenuName));
    for (const Menu& m : kMenu) {
        if (m.items.empty()) {
            QAction* action = bar->addAction(Utf8(m.top.caption));
            action->setObjectName(Utf8(m.top.name));
            if (*m.top.onClick) form_.WireClick(action, m.top.onClick);
            continue;
        }
        QMenu* menu = bar->addMenu(Utf8(m.top.caption));
        menu->setObjectName(Utf8(m.top.name));
        for (const MenuEntry& e : m.items) {
            QAction* action = menu->addAction(Utf8(e.caption));
            action->setObjectName(Utf8(e.name));
            if (*e.onClick) form_.WireClick(action, e.onClick);
        }
    }
    form_.setMenuBar(bar);
    // The styler: the menu's look.
    const QFont font = MakeFont(kMenuStyler.font, bar->font());
    bar->setFont(font);
    for (QMenu* menu : bar->findChildren<QMenu*>()) menu->setFont(font);
}

void Loader::ConstructComponents() {
    auto dialog = std::make_unique<TOpenDialog>();
    form_.SetOpenDialog(std::move(dialog));

    const Port& p = kComPort1;
    auto* port = Loading(new TComPort(&form_));
    port->SetName(p.name);
    port->SetBaudRate(p.baudRate);
    port->SetPort(p.port);
    port->Parity().SetBits(p.parity);
    port->SetStopBits(p.stopBits);
    port->SetDataBits(p.dataBits);
    port->SetEvents(p.events);
    TComFlowControl& flow = port->FlowControl();
    flow.SetOutCTSFlow(p.outCTSFlow);
    flow.SetOutDSRFlow(p.outDSRFlow);
    flow.SetControlDTR(p.controlDTR);
    flow.SetControlRTS(p.controlRTS);
    flow.SetXonXoffOut(p.xonXoffOut);
    flow.SetXonXoffIn(p.xonXoffIn);
    port->SetStoredProps(p.storedProps);
    port->SetTriggersOnRxChar(p.triggersOnRxChar);
    form_.ComPort1 = port;

    auto* framer = Loading(new TComDataPacket(&form_));
    framer->SetName(kComDataPacket1.name);
    form_.WirePacket(framer, kComDataPacket1.onPacket);
    form_.ComDataPacket1 = framer;

    auto* timer = new QTimer(&form_);
    timer->setObjectName(Utf8(kTimer1.name));
    timer->setInterval(kTimer1.interval);
    form_.WireTimer(timer, kTimer1.onTimer);
    if (kTimer1.enabled) timer->start();
}

// --- stage 2 ---------------------------------------------------------------------------------

void Loader::SetReferences() {
    // The selectors look up the port's present values here; the LED and the framer attach
    // their links to it.
    form_.ComComboBox1->SetComPort(form_.ComPort1);
    form_.ComComboBox2->SetComPort(form_.ComPort1);
    form_.ComLed1->SetComPort(form_.ComPort1);
    form_.ComDataPacket1->SetComPort(form_.ComPort1);
}

// --- stage 3 ---------------------------------------------------------------------------------

void Loader::RunAfterLoad() {
    for (TComponent* component : loading_) component->Loaded();
    form_.Loaded();
}

}  // namespace

double ScreenDesignScale() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->logicalDotsPerInch() / kDesignDpi : 96.0 / kDesignDpi;
}

std::unique_ptr<TForm1> CreateForm1(double scale) {
    auto form = std::make_unique<TForm1>();
    Form1 = form.get();
    form->BeginLoading();
    Loader loader(*form, scale);
    loader.ConstructAll();
    loader.SetReferences();
    loader.RunAfterLoad();
    return form;
}

void ShowCentred(TForm1& form) {
    form.adjustSize();
    form.show();
    if (const QScreen* screen = form.screen()) {
        QRect frame = form.frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        form.move(frame.topLeft());
    }
}

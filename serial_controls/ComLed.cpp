#include "CPortCtl.h"

#include <QEvent>
#include <QPainter>
#include <QTimer>
#include <algorithm>

namespace {

struct PictureNames {
    const char* on;
    const char* off;
};
constexpr PictureNames kPictures[] = {
    {"LEDREDON", "LEDREDOFF"},       {"LEDGREENON", "LEDGREENOFF"},
    {"LEDBLUEON", "LEDBLUEOFF"},     {"LEDYELLOWON", "LEDYELLOWOFF"},
    {"LEDPURPLEON", "LEDPURPLEOFF"}, {"LEDBULBON", "LEDBULBOFF"},
};

}  // namespace

std::string LedOnPictureName(TLedKind kind) {
    return kind < lkCustom ? kPictures[kind].on : std::string();
}

std::string LedOffPictureName(TLedKind kind) {
    return kind < lkCustom ? kPictures[kind].off : std::string();
}

TComLed::TComLed(TComponent* owner, QWidget* parent)
    : QWidget(parent), TComponent(owner), link_(std::make_unique<TComLink>()) {
    link_->OnConnection = [this](TObject*, bool on) { SignalHandler(on); };
    glyphOn_.SetTransparent(true);
    glyphOff_.SetTransparent(true);
    ringTimer_ = new QTimer(this);
    ringTimer_->setObjectName(QStringLiteral("ringTimer"));
    ringTimer_->setInterval(1000);
    QObject::connect(ringTimer_, &QTimer::timeout, this,
                     [this] { framework::Guarded([this] { RingTimerTick(); }); });
    resize(25, 25);
}

TComLed::~TComLed() {
    delete ringTimer_;
    ringTimer_ = nullptr;
    // Unbind without switching the lamp: no OnChange from a control that is going away.
    if (port_) {
        try {
            port_->DetachLink(link_.get());
        } catch (...) {
            framework::ShowCurrentException();
        }
        RemoveFreeNotification(port_);
        port_ = nullptr;
    }
    DestroyComponent();
}

void TComLed::SetComPort(TComPort* port) {
    if (port == port_) return;
    if (port_) {
        port_->DetachLink(link_.get());
        RemoveFreeNotification(port_);
    }
    port_ = port;
    if (!port) {
        SwitchState(lsOff);
        return;
    }
    FreeNotification(port);
    port->AttachLink(link_.get());
    if (IsDesigning() || IsLoading()) return;
    if (!port->Connected()) {
        // A closed port has no signal on; a lamp left lit by the program would say otherwise.
        if (state_ == lsOn) SwitchState(lsOff);
        return;
    }
    SwitchState(SignalIsOn() ? lsOn : lsOff);
}

void TComLed::SetLedSignal(TComLedSignal value) {
    if (value == signal_) return;
    signal_ = value;
    TComLink& l = *link_;
    l.OnConnection = nullptr;
    l.OnCTSLine = nullptr;
    l.OnDSRLine = nullptr;
    l.OnRLSDLine = nullptr;
    l.OnRingLine = nullptr;
    l.OnTxActivity = nullptr;
    l.OnRxActivity = nullptr;
    auto signal = [this](TObject*, bool on) { SignalHandler(on); };
    switch (value) {
    case lsConn: l.OnConnection = signal; break;
    case lsCTS: l.OnCTSLine = signal; break;
    case lsDSR: l.OnDSRLine = signal; break;
    case lsRLSD: l.OnRLSDLine = signal; break;
    case lsRing: l.OnRingLine = [this](TObject*) { RingHandler(); }; break;
    case lsRx: l.OnRxActivity = signal; break;
    case lsTx: l.OnTxActivity = signal; break;
    }
}

void TComLed::SetKind(TLedKind value) {
    if (value == kind_) return;
    kind_ = value;
    if (kind_ != lkCustom) LoadPictures();
    update();
}

void TComLed::SetGlyphOn(TBitmap& value) {
    if (kind_ != lkCustom) return;
    value.SetTransparent(true);
    glyphOn_.AssignPicture(value);
    update();
}

void TComLed::SetGlyphOff(TBitmap& value) {
    if (kind_ != lkCustom) return;
    value.SetTransparent(true);
    glyphOff_.AssignPicture(value);
    update();
}

void TComLed::SetState(TLedState value) {
    if (port_)
        throw EComPort(CE_LedStateFailed);
    SwitchState(value);
}

std::int32_t TComLed::RingDuration() const { return ringTimer_->interval(); }

void TComLed::SetRingDuration(std::int32_t value) {
    value = std::max(value, 0);
    if (value == ringTimer_->interval()) return;
    // A running ring starts its interval anew.
    const bool running = ringTimer_->isActive();
    ringTimer_->stop();
    ringTimer_->setInterval(value);
    if (running) ringTimer_->start();
}

void TComLed::DoChange(TLedState state) {
    if (OnChange) OnChange(this, state);
}

void TComLed::SwitchState(TLedState state) {
    state_ = state;
    if (!IsLoading()) DoChange(state);
    update();
}

bool TComLed::SignalIsOn() {
    if (!port_) return false;
    switch (signal_) {
    case lsConn: return port_->Connected();
    case lsCTS: return port_->ModemSignals().Contains(csCTS);
    case lsDSR: return port_->ModemSignals().Contains(csDSR);
    case lsRLSD: return port_->ModemSignals().Contains(csRLSD);
    case lsRing:
    case lsRx:
    case lsTx: return false;
    }
    return false;
}

void TComLed::LoadPictures() {
    if (kind_ == lkCustom) return;
    TBitmap on = TBitmap::FromResourceName(LedOnPictureName(kind_));
    TBitmap off = TBitmap::FromResourceName(LedOffPictureName(kind_));
    glyphOn_.AssignPicture(on);
    glyphOff_.AssignPicture(off);
}

void TComLed::SignalHandler(bool on) {
    SwitchState(on ? lsOn : lsOff);
    // The repaint, and whatever else waits in the GUI queue, runs before the port goes on.
    framework::ProcessMessages();
}

void TComLed::RingHandler() {
    // A ring while the lamp is lit does not lengthen it.
    if (!ringTimer_->isActive()) ringTimer_->start();
    SwitchState(lsOn);
}

void TComLed::RingTimerTick() {
    ringTimer_->stop();
    SwitchState(lsOff);
}

void TComLed::Paint(QPainter& painter) {
    if (glyphOn_.Empty() || glyphOff_.Empty()) LoadPictures();
    const TBitmap& picture = state_ == lsOn ? glyphOn_ : glyphOff_;
    const QRect client = rect();
    const int x = client.left() + std::max(0, (client.width() - picture.Width()) / 2);
    const int y = client.top() + std::max(0, (client.height() - picture.Height()) / 2);
    (isEnabled() ? picture : glyphOff_).Draw(painter, x, y);
}

void TComLed::Notification(TComponent* component, TOperation operation) {
    TComponent::Notification(component, operation);
    if (operation == TOperation::opRemove && port_ &&
        component == static_cast<TComponent*>(port_))
        SetComPort(nullptr);
}

void TComLed::paintEvent(QPaintEvent*) {
    framework::Guarded([this] {
        QPainter painter(this);
        Paint(painter);
    });
}

void TComLed::changeEvent(QEvent* event) {
    // A disabled lamp shows its off picture at once.
    if (event->type() == QEvent::EnabledChange) update();
    QWidget::changeEvent(event);
}

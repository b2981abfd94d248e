#pragma once
// The controls bound to a serial port: the drop-down selector of one port setting and the lamp
// that shows one of the port's signals.
//
// Each control is a Qt widget and a component at once. The component side may have an owner,
// which destroys it with delete; the widget side may have a Qt parent, which deletes its
// children. Either may go first: a control unbinds from its port when it is destroyed, and
// unbinds itself when its port is destroyed first.

#include <QComboBox>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "Bitmap.h"
#include "CPort.h"
#include "ComSelect.h"
#include "Strings.h"

class QTimer;

// ---------------------------------------------------------------------------------------------
// Port property selector

class TComComboBox : public QComboBox, public TComponent {
public:
    explicit TComComboBox(TComponent* owner = nullptr, QWidget* parent = nullptr);
    ~TComComboBox() override;
    const char* ClassName() const override { return "TComComboBox"; }

    // The bound port; not owned. Binding shows the port's current value (no selection when
    // the list lacks it); unbinding leaves list and selection as they are.
    TCustomComPort* ComPort() const { return select_->ComPort(); }
    void SetComPort(TCustomComPort* port);

    // The setting served. Writing refills the list and selects the first entry, or the bound
    // port's current value.
    TComProperty ComProperty() const { return select_->PropertyKind(); }
    void SetComProperty(TComProperty kind);

    // Apply each pick of the operator to the port at once.
    bool AutoApply() const { return select_->AutoApply(); }
    void SetAutoApply(bool value) { select_->SetAutoApply(value); }

    // The selected entry's text, empty without a selection. Writing selects the entry equal
    // to the text ignoring case, if there is one; it neither takes nor applies a choice.
    std::string Text() const;
    void SetText(const std::string& text);

    // The selected entry, -1 for none. While loading, a written index is only recorded; it is
    // shown when loading ends (unless it is -1).
    int ItemIndex() const { return currentIndex(); }
    void SetItemIndex(int index);

    TStrings& Items();
    const TComSelect& Select() const { return *select_; }

    // Fired after the operator's pick has been taken (and applied, with AutoApply).
    TNotifyEvent OnChange;

    void Loaded() override;

    // A port list is read again each time it drops down, so an adapter plugged in after
    // start appears and an unplugged one goes; the entry shown stays selected while it is
    // still listed. Neither the port nor any device is touched. The list is as wide as its
    // longest entry, so whole paths show.
    void showPopup() override;

protected:
    // The operator picked an entry.
    virtual void Change();
    void Notification(TComponent* component, TOperation operation) override;

    // A port list's box shows the short form of the selected port (ShortPortName), with the
    // whole name as its tooltip; Text() and the port keep the whole name.
    void paintEvent(QPaintEvent* event) override;

private:
    class ItemList;
    // Tooltips with the whole name for entries whose short form differs (port lists only).
    void MarkLongNames();
    // The text shown in the box for an entry's text.
    QString ShortText(const QString& text) const;

    std::unique_ptr<TComSelect> select_;
    std::unique_ptr<ItemList> items_;
    int loadedIndex_ = -1;
    QMetaObject::Connection activated_;
    QMetaObject::Connection tipFollows_;
};

// ---------------------------------------------------------------------------------------------
// Connection LED

enum TComLedSignal : std::uint8_t { lsConn, lsCTS, lsDSR, lsRLSD, lsRing, lsRx, lsTx };
enum TLedKind : std::uint8_t {
    lkRedLight, lkGreenLight, lkBlueLight, lkYellowLight, lkPurpleLight, lkBulb, lkCustom
};
enum TLedState : std::uint8_t { lsOff, lsOn };

using TLedStateEvent = std::function<void(TObject* Sender, TLedState AState)>;

// Resource names of the built-in pictures of a kind; empty for lkCustom.
std::string LedOnPictureName(TLedKind kind);
std::string LedOffPictureName(TLedKind kind);

// A 25 x 25 lamp that draws on its parent's surface, lit or unlit, for one signal of a port,
// or switched by the program when no port is bound.
class TComLed : public QWidget, public TComponent {
public:
    explicit TComLed(TComponent* owner = nullptr, QWidget* parent = nullptr);
    ~TComLed() override;
    const char* ClassName() const override { return "TComLed"; }

    TComPort* ComPort() const { return port_; }
    void SetComPort(TComPort* port);

    // Which signal the lamp follows. A change keeps the present state until the next
    // notification of the new signal.
    TComLedSignal LedSignal() const { return signal_; }
    void SetLedSignal(TComLedSignal value);

    TLedKind Kind() const { return kind_; }
    void SetKind(TLedKind value);

    // The pictures drawn. Written only for lkCustom (otherwise ignored); the given bitmap is
    // first set to draw transparently, which the caller sees too.
    const TBitmap& GlyphOn() const { return glyphOn_; }
    void SetGlyphOn(TBitmap& value);
    const TBitmap& GlyphOff() const { return glyphOff_; }
    void SetGlyphOff(TBitmap& value);

    // Refused with EComPort (code 19) while a port is bound.
    TLedState State() const { return state_; }
    void SetState(TLedState value);

    // How long a ring keeps the lamp lit, in ms. Negative values count as 0.
    std::int32_t RingDuration() const;
    void SetRingDuration(std::int32_t value);

    // Fired on every switch, also when the state stays the same.
    TLedStateEvent OnChange;

protected:
    virtual void DoChange(TLedState state);
    virtual void Paint(QPainter& painter);
    void Notification(TComponent* component, TOperation operation) override;

    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void SwitchState(TLedState state);
    bool SignalIsOn();
    void LoadPictures();
    void SignalHandler(bool on);
    void RingHandler();
    void RingTimerTick();

    TComPort* port_ = nullptr;
    TComLedSignal signal_ = lsConn;
    TLedKind kind_ = lkRedLight;
    TLedState state_ = lsOff;
    TBitmap glyphOff_;
    TBitmap glyphOn_;
    std::unique_ptr<TComLink> link_;
    QTimer* ringTimer_ = nullptr;  // a child of the control, named "ringTimer"
};

// The connection LED and its lamp pictures, offscreen.

#include <QProperty>
#include <QSet>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "CPortCtl.h"
#include "FakeDevice.h"
#include "QtTestSupport.h"

namespace {

using namespace controlstest;
using device::FakeDevice;

constexpr QRgb kGround = 0xFF123456;  // what the parent shows under the lamp

// The control as its parent shows it: drawn over a plain surface.
QImage Render(QWidget& w) {
    QImage image(w.size(), QImage::Format_ARGB32);
    image.fill(kGround);
    w.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

// What a control of `size` must show with `picture` placed at (x, y): every pixel of the
// picture but those of its bottom-left colour, clipped to the control.
QImage Expected(QSize size, const TBitmap& picture, int x, int y) {
    QImage image(size, QImage::Format_ARGB32);
    image.fill(kGround);
    const QImage& raw = picture.Image();
    const QRgb key = raw.pixel(0, raw.height() - 1);
    for (int py = 0; py < raw.height(); ++py)
        for (int px = 0; px < raw.width(); ++px)
            if (raw.pixel(px, py) != key && image.valid(x + px, y + py))
                image.setPixel(x + px, y + py, raw.pixel(px, py));
    return image;
}

TBitmap Picture(const std::string& name) {
    TBitmap b = TBitmap::FromResourceName(name);
    b.SetTransparent(true);
    return b;
}

// Records every OnChange as "on"/"off".
struct ChangeLog {
    explicit ChangeLog(TComLed& led) {
        led.OnChange = [this, &led](TObject* sender, TLedState s) {
            if (sender != static_cast<TObject*>(&led)) log.push_back("wrong sender");
            log.push_back(s == lsOn ? "on" : "off");
        };
    }
    std::vector<std::string> Take() {
        auto out = std::move(log);
        log.clear();
        return out;
    }
    std::vector<std::string> log;
};
using Log = std::vector<std::string>;

// A port on the fake device. Without events there is no event thread, so every line
// notification is one the test runs on this thread.
struct FakePort {
    FakePort() {
        auto dev = std::make_unique<FakeDevice>();
        fake = dev.get();
        port.SetDevice(std::move(dev));
        port.SetEvents({});
    }
    TComPort port;
    FakeDevice* fake = nullptr;
};

using ComLedTest = QtTest;

// ---------------------------------------------------------------------------------------------
// Pictures

TEST_F(ComLedTest, EveryKindHasTwoFifteenPixelSixteenColourPicturesOnItsGround) {
    for (int k = lkRedLight; k < lkCustom; ++k) {
        const auto kind = static_cast<TLedKind>(k);
        const QRgb ground = kind == lkYellowLight ? qRgb(0x80, 0x00, 0x80) : qRgb(0x80, 0x80, 0x00);
        QImage on = TBitmap::FromResourceName(LedOnPictureName(kind)).Image();
        QImage off = TBitmap::FromResourceName(LedOffPictureName(kind)).Image();
        for (const QImage* image : {&on, &off}) {
            SCOPED_TRACE(LedOnPictureName(kind));
            ASSERT_EQ(image->size(), QSize(15, 15));
            QSet<QRgb> colours;
            for (int y = 0; y < 15; ++y)
                for (int x = 0; x < 15; ++x) colours.insert(image->pixel(x, y));
            EXPECT_LE(colours.size(), 16);
            EXPECT_EQ(image->pixel(0, 14), ground);
            EXPECT_EQ(image->pixel(0, 0), ground);  // the corners are ground, not lamp
        }
        EXPECT_NE(on, off);
    }
    EXPECT_EQ(LedOnPictureName(lkRedLight), "LEDREDON");
    EXPECT_EQ(LedOffPictureName(lkBulb), "LEDBULBOFF");
    EXPECT_EQ(LedOnPictureName(lkCustom), "");
}

TEST_F(ComLedTest, AMissingPictureIsTheLoadersError) {
    try {
        TBitmap::FromResourceName("LEDNONE");
        ADD_FAILURE() << "no error for a missing picture";
    } catch (const EResNotFound& e) {
        EXPECT_EQ(e.Message(), "Resource LEDNONE not found");
    }
}

// ---------------------------------------------------------------------------------------------
// State

TEST_F(ComLedTest, ANewLedIsARedUnlitLampForTheConnection) {
    TComLed led;
    EXPECT_EQ(led.size(), QSize(25, 25));
    EXPECT_EQ(led.State(), lsOff);
    EXPECT_EQ(led.Kind(), lkRedLight);
    EXPECT_EQ(led.LedSignal(), lsConn);
    EXPECT_EQ(led.RingDuration(), 1000);
    EXPECT_EQ(led.ComPort(), nullptr);
    EXPECT_EQ(Render(led), Expected(led.size(), Picture("LEDREDOFF"), 5, 5));
}

TEST_F(ComLedTest, AnUnboundLampIsSwitchedByTheProgramAndReportsEverySwitch) {
    TComLed led;
    ChangeLog changes(led);
    led.SetState(lsOn);
    EXPECT_EQ(led.State(), lsOn);
    led.SetState(lsOn);  // unchanged, still a switch
    led.SetState(lsOff);
    EXPECT_EQ(changes.Take(), (Log{"on", "on", "off"}));
}

TEST_F(ComLedTest, StateIsRefusedWhileAPortIsBound) {
    FakePort p;
    TComLed led;
    led.SetComPort(&p.port);
    ChangeLog changes(led);
    try {
        led.SetState(lsOn);
        ADD_FAILURE() << "State was accepted while bound";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.FailureCode, 19);
        EXPECT_EQ(e.SystemCode, -1);
        EXPECT_EQ(e.Message(), "Cannot change led state if ComPort is selected");
    }
    EXPECT_EQ(led.State(), lsOff);
    EXPECT_TRUE(changes.Take().empty());
    // Raised at once, even when the port routes its own failures to a handler.
    p.port.OnException = [](TObject*, TComExceptions, const std::string&, std::int64_t,
                            const std::string&) {};
    EXPECT_THROW(led.SetState(lsOn), EComPort);
}

// ---------------------------------------------------------------------------------------------
// Following a port

TEST_F(ComLedTest, FollowsTheConnectionOfTheBoundPort) {
    FakePort p;
    TComLed led;
    ChangeLog changes(led);
    led.SetComPort(&p.port);  // closed: stays unlit, nothing to report
    EXPECT_EQ(led.State(), lsOff);
    EXPECT_TRUE(changes.Take().empty());
    p.port.SetConnected(true);
    EXPECT_EQ(led.State(), lsOn);
    p.port.SetConnected(false);
    EXPECT_EQ(led.State(), lsOff);
    EXPECT_EQ(changes.Take(), (Log{"on", "off"}));
}

TEST_F(ComLedTest, BindingToAnOpenPortShowsTheSignalAtOnce) {
    const struct {
        TComLedSignal signal;
        std::uint32_t lines;
        TLedState expected;
    } cases[] = {
        {lsConn, 0, lsOn},
        {lsCTS, device::MS_CTS_ON, lsOn},
        {lsCTS, device::MS_DSR_ON | device::MS_RLSD_ON, lsOff},
        {lsDSR, device::MS_DSR_ON, lsOn},
        {lsDSR, device::MS_CTS_ON, lsOff},
        {lsRLSD, device::MS_RLSD_ON, lsOn},
        {lsRLSD, device::MS_RING_ON, lsOff},
        {lsRing, device::MS_RING_ON, lsOff},
        {lsRx, 0, lsOff},
        {lsTx, 0, lsOff},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "signal " << int(c.signal) << " lines " << c.lines);
        FakePort p;
        p.fake->SetModemLines(c.lines);
        p.port.SetConnected(true);
        TComLed led;
        led.SetLedSignal(c.signal);
        ChangeLog changes(led);
        led.SetComPort(&p.port);
        EXPECT_EQ(led.State(), c.expected);
        EXPECT_EQ(changes.Take(), (Log{c.expected == lsOn ? "on" : "off"}));
    }
}

TEST_F(ComLedTest, ALampLitByTheProgramGoesOutWhenBoundToAClosedPort) {
    FakePort p;
    TComLed led;
    led.SetState(lsOn);
    ChangeLog changes(led);
    led.SetComPort(&p.port);
    EXPECT_EQ(led.State(), lsOff);
    EXPECT_EQ(changes.Take(), (Log{"off"}));
}

TEST_F(ComLedTest, WhileLoadingBindingLeavesTheStateAlone) {
    FakePort p;
    p.port.SetConnected(true);
    TComLed led;
    led.BeginLoading();
    ChangeLog changes(led);
    led.SetComPort(&p.port);
    led.Loaded();
    EXPECT_EQ(led.State(), lsOff);
    EXPECT_TRUE(changes.Take().empty());
    p.port.SetConnected(false);
    p.port.SetConnected(true);
    EXPECT_EQ(led.State(), lsOn);
}

TEST_F(ComLedTest, ANewSignalKeepsTheStateUntilItsFirstNotification) {
    FakePort p;
    TComLed led;
    led.SetComPort(&p.port);
    p.port.SetConnected(true);
    ASSERT_EQ(led.State(), lsOn);
    led.SetLedSignal(lsCTS);
    EXPECT_EQ(led.State(), lsOn);
    // The connection no longer moves it ...
    p.port.BroadcastState(&TComLink::OnConnection, false);
    EXPECT_EQ(led.State(), lsOn);
    // ... the CTS line does.
    p.port.HandleCTSChange();  // CTS is off on the fake line
    EXPECT_EQ(led.State(), lsOff);
    p.fake->SetModemLines(device::MS_CTS_ON);
    p.port.HandleCTSChange();
    EXPECT_EQ(led.State(), lsOn);
}

TEST_F(ComLedTest, ActivitySignalsFollowTheirNotifications) {
    FakePort p;
    p.port.SetConnected(true);
    TComLed rx, tx;
    rx.SetLedSignal(lsRx);
    tx.SetLedSignal(lsTx);
    rx.SetComPort(&p.port);
    tx.SetComPort(&p.port);
    p.fake->SetAutoTxEmpty(false);
    p.port.WriteText("?");  // a write starts
    EXPECT_EQ(tx.State(), lsOn);
    p.port.HandleTxEmpty();
    EXPECT_EQ(tx.State(), lsOff);
    p.fake->InjectReceived("ok\r\n");
    p.port.HandleRxChar();  // bytes waiting: on; no handler reads them
    EXPECT_EQ(rx.State(), lsOn);
    char buf[8];
    p.port.ReadBlock(buf, 4);  // the queue is empty afterwards
    EXPECT_EQ(rx.State(), lsOff);
}

TEST_F(ComLedTest, TheSignalHandlerRunsPendingGuiEventsBeforeThePortGoesOn) {
    FakePort p;
    TComLed led;
    led.SetComPort(&p.port);
    bool ran = false;
    bool ranBeforeAfterOpen = false;
    QMetaObject::invokeMethod(qApp, [&] { ran = true; }, Qt::QueuedConnection);
    p.port.OnAfterOpen = [&](TObject*) { ranBeforeAfterOpen = ran; };
    p.port.SetConnected(true);
    EXPECT_TRUE(ranBeforeAfterOpen);
}

TEST_F(ComLedTest, DestroyingTheBoundPortTurnsTheLampOffAndUnbindsIt) {
    auto p = std::make_unique<FakePort>();
    TComLed led;
    led.SetComPort(&p->port);
    p->port.SetConnected(true);
    ASSERT_EQ(led.State(), lsOn);
    p.reset();
    EXPECT_EQ(led.ComPort(), nullptr);
    EXPECT_EQ(led.State(), lsOff);
    led.SetState(lsOn);  // a plain lamp again
    EXPECT_EQ(led.State(), lsOn);
}

TEST_F(ComLedTest, ADeletedLampIsNoLongerToldAnything) {
    FakePort p;
    int changes = 0;
    {
        // Deleted through its Qt parent while bound.
        auto* parent = new QWidget;
        auto* led = new TComLed(nullptr, parent);
        led->SetComPort(&p.port);
        led->OnChange = [&](TObject*, TLedState) { ++changes; };
        delete parent;
    }
    {
        // Deleted through its component owner while bound.
        auto* form = new TComponent;
        auto* led = new TComLed(form);
        led->SetComPort(&p.port);
        led->OnChange = [&](TObject*, TLedState) { ++changes; };
        delete form;
    }
    EXPECT_EQ(changes, 0);  // going away reports nothing
    p.port.SetConnected(true);
    p.port.SetConnected(false);
    EXPECT_EQ(changes, 0);
}

TEST_F(ComLedTest, RebindingMovesTheLinkToTheNewPort) {
    FakePort a, b;
    TComLed led;
    led.SetComPort(&a.port);
    led.SetComPort(&b.port);
    a.port.SetConnected(true);
    EXPECT_EQ(led.State(), lsOff);
    b.port.SetConnected(true);
    EXPECT_EQ(led.State(), lsOn);
    led.SetComPort(nullptr);
    EXPECT_EQ(led.State(), lsOff);
    b.port.SetConnected(false);
    b.port.SetConnected(true);
    EXPECT_EQ(led.State(), lsOff);
}

// ---------------------------------------------------------------------------------------------
// Ring

TEST_F(ComLedTest, ARingLightsTheLampForRingDurationFromTheFirstRing) {
    FakePort p;
    TComLed led;
    led.SetLedSignal(lsRing);
    led.SetComPort(&p.port);
    led.SetRingDuration(40);
    auto* timer = led.findChild<QTimer*>(QStringLiteral("ringTimer"));
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(timer->interval(), 40);
    ChangeLog changes(led);
    // Every start and stop of the timer is seen here.
    int timerSwitches = 0;
    const QPropertyNotifier watch = timer->bindableActive().addNotifier([&] { ++timerSwitches; });

    p.port.HandleRing();
    EXPECT_EQ(led.State(), lsOn);
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timerSwitches, 1);
    p.port.HandleRing();  // lit already: the ring does not lengthen it
    EXPECT_EQ(timerSwitches, 1);

    ASSERT_TRUE(ServeQtUntil([&] { return led.State() == lsOff; }));
    EXPECT_FALSE(timer->isActive());
    EXPECT_EQ(changes.Take(), (Log{"on", "on", "off"}));
}

TEST_F(ComLedTest, ANewRingDurationWhileRingingStartsTheIntervalAnew) {
    TComPort port;
    TComLed led;
    led.SetLedSignal(lsRing);
    led.SetComPort(&port);
    auto* timer = led.findChild<QTimer*>(QStringLiteral("ringTimer"));
    ASSERT_NE(timer, nullptr);
    int timerSwitches = 0;
    const QPropertyNotifier watch = timer->bindableActive().addNotifier([&] { ++timerSwitches; });

    led.SetRingDuration(1000);  // unchanged: nothing happens
    EXPECT_EQ(timerSwitches, 0);
    led.SetRingDuration(60000);  // not ringing: only the interval changes
    EXPECT_EQ(timerSwitches, 0);
    EXPECT_FALSE(timer->isActive());

    port.HandleRing();
    ASSERT_EQ(timerSwitches, 1);
    led.SetRingDuration(30);
    EXPECT_EQ(led.RingDuration(), 30);
    EXPECT_EQ(timerSwitches, 3);  // stopped and started again
    EXPECT_TRUE(timer->isActive());
    ASSERT_TRUE(ServeQtUntil([&] { return led.State() == lsOff; }));

    led.SetRingDuration(-5);
    EXPECT_EQ(led.RingDuration(), 0);
}

TEST_F(ComLedTest, ARingFromTheEventThreadReachesTheLampThroughTheQtEventLoop) {
    auto dev = std::make_unique<FakeDevice>();
    FakeDevice* fake = dev.get();
    TComPort port;
    port.SetDevice(std::move(dev));
    TComLed led;
    led.SetLedSignal(lsRing);
    led.SetRingDuration(60000);
    led.SetComPort(&port);
    port.SetConnected(true);
    ASSERT_TRUE(fake->AwaitWaiting(std::chrono::seconds(10)));
    fake->Ring();
    EXPECT_TRUE(ServeQtUntil([&] { return led.State() == lsOn; }));
    port.SetConnected(false);
}

// ---------------------------------------------------------------------------------------------
// Pictures and painting

TEST_F(ComLedTest, KindLoadsItsPicturesAndGlyphsAreWrittenOnlyForCustom) {
    TComLed led;
    led.SetKind(lkGreenLight);
    EXPECT_EQ(led.GlyphOn().Image(), Picture("LEDGREENON").Image());
    EXPECT_EQ(led.GlyphOff().Image(), Picture("LEDGREENOFF").Image());

    QImage mine(15, 15, QImage::Format_RGB32);
    mine.fill(qRgb(0, 0, 255));
    mine.setPixel(7, 7, qRgb(255, 255, 255));
    TBitmap custom(mine);
    led.SetGlyphOn(custom);  // ignored for a built-in kind
    EXPECT_EQ(led.GlyphOn().Image(), Picture("LEDGREENON").Image());
    EXPECT_FALSE(custom.Transparent());

    led.SetKind(lkCustom);  // the green pictures stay until new ones come
    EXPECT_EQ(led.GlyphOn().Image(), Picture("LEDGREENON").Image());
    led.SetGlyphOn(custom);
    EXPECT_TRUE(custom.Transparent());  // the caller's bitmap is changed too
    EXPECT_EQ(led.GlyphOn().Image(), mine);
    EXPECT_EQ(led.GlyphOff().Image(), Picture("LEDGREENOFF").Image());

    // Drawn with its bottom-left colour left out: only the white dot shows.
    led.SetState(lsOn);
    const QImage shown = Render(led);
    EXPECT_EQ(shown.pixel(12, 12), qRgb(255, 255, 255));
    EXPECT_EQ(shown.pixel(11, 12), kGround);
    EXPECT_EQ(shown.pixel(5, 5), kGround);
}

TEST_F(ComLedTest, PaintsThePictureOfItsStateCentred) {
    const struct {
        QSize size;
        int x, y;
    } cases[] = {
        {{25, 25}, 5, 5},
        {{30, 20}, 7, 2},  // halves round down
        {{15, 40}, 0, 12},
        {{10, 10}, 0, 0},  // larger than the control: from the top-left corner, clipped
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.size.width() << "x" << c.size.height());
        TComLed led;
        led.SetKind(lkBlueLight);
        led.resize(c.size);
        EXPECT_EQ(Render(led), Expected(c.size, Picture("LEDBLUEOFF"), c.x, c.y));
        led.SetState(lsOn);
        EXPECT_EQ(Render(led), Expected(c.size, Picture("LEDBLUEON"), c.x, c.y));
    }
}

TEST_F(ComLedTest, ADisabledLampShowsItsOffPicture) {
    TComLed led;
    led.SetKind(lkYellowLight);
    led.SetState(lsOn);
    const QImage lit = Expected(led.size(), Picture("LEDYELLOWON"), 5, 5);
    const QImage unlit = Expected(led.size(), Picture("LEDYELLOWOFF"), 5, 5);
    ASSERT_NE(lit, unlit);
    EXPECT_EQ(Render(led), lit);
    led.setEnabled(false);
    EXPECT_EQ(Render(led), unlit);
    EXPECT_EQ(led.State(), lsOn);
    led.setEnabled(true);
    EXPECT_EQ(Render(led), lit);
}

}  // namespace

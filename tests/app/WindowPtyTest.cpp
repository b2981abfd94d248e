// The window on a link to a controller that the test plays over a pseudo-terminal.

#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include "SpinEdit.h"
#include <QTimer>

#include "CPortCtl.h"
#include "FakeDevice.h"
#include "ImageButton.h"
#include "WindowTestSupport.h"

namespace {

using namespace windowtest;

const char* const kGreeting = "Grbl 0.9j ['$' for help]";

// Lets the event loop run for `ms`: for checks that something does NOT happen meanwhile.
void ServeFor(int ms) { ServeQtUntil([] { return false; }, std::chrono::milliseconds(ms)); }

class WindowPty : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        ASSERT_FALSE(pty_.path.empty());
        form_->ComPort1->SetPort(pty_.path);
    }
    // Connects, greets as a controller does after its reset and takes the first command off
    // the wire.
    void Connect() {
        form_->btnComConnect->click();
        ASSERT_TRUE(form_->ComPort1->Connected());
        Greet();
        ASSERT_EQ(pty_.Read(5), "F100\r");
    }
    void Greet() const { pty_.Send(std::string(kGreeting) + "\r\n"); }
    // Clicks "Connect"/"Disconnect" once now, with `queued` more clicks waiting in the event
    // queue: the lamp lets them run in the middle of the port's open or close.
    void ClickWithQueued(int queued) {
        for (int i = 0; i < queued; ++i)
            QMetaObject::invokeMethod(form_->btnComConnect, &QAbstractButton::click,
                                      Qt::QueuedConnection);
        form_->btnComConnect->click();
        ServeFor(100);  // anything left in the queue runs now
    }
    // The window's controls as they follow the port.
    void ExpectView(TLinkPhase phase) const {
        const bool open = phase != TLinkPhase::Closed;
        const TConnectionView view = ConnectionViewFor(phase);
        EXPECT_EQ(form_->LinkPhase(), phase);
        EXPECT_EQ(form_->ComPort1->Connected(), open);
        EXPECT_EQ(form_->btnComConnect->text().toStdString(), view.Caption);
        EXPECT_EQ(form_->GroupBoxMonitor->isEnabled(), view.MonitorEnabled);
        EXPECT_EQ(form_->GroupBoxManualProcessing->isEnabled(), view.ManualEnabled);
        EXPECT_EQ(form_->btnStartProcess->isEnabled(), view.StartEnabled);
        EXPECT_EQ(form_->btnStop1->isEnabled(), view.StopEnabled);
        EXPECT_EQ(form_->Timer1->isActive(), view.PollRunning);
        EXPECT_EQ(form_->ComLed1->State(), open ? lsOn : lsOff);
    }
    QStringList Labels() const {
        return {form_->labelStatus1->text(), form_->labelStatus2->text(),
                form_->labelXwDisplay->text(), form_->labelYwDisplay->text(),
                form_->labelZwDisplay->text()};
    }

    Pty pty_;
};

TEST_F(WindowPty, ConnectSendsF100AfterTheGreetingThenPollsUntilDisconnect) {
    Connect();
    EXPECT_EQ(pty_.Read(1), "?");  // the poll, after the first command
    EXPECT_EQ(MonitorLines(), (QStringList{"", kGreeting, "F100", ""}));
    EXPECT_EQ(LineColour(1), QColor(Qt::black));
    EXPECT_EQ(LineColour(2), QColor(0, 128, 0));
    EXPECT_EQ(form_->btnComConnect->text(), QStringLiteral("Disconnect"));
    for (QWidget* w : std::initializer_list<QWidget*>{form_->GroupBoxMonitor, form_->GroupBoxManualProcessing,
                                                      form_->btnStartProcess, form_->btnStop1})
        EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_EQ(form_->ComLed1->State(), lsOn);
    EXPECT_TRUE(form_->Timer1->isActive());

    pty_.Send("<Idle,MPos:0,0,0,WPos:1.000,2.000,3.000>\r\n");
    ASSERT_TRUE(ServeQtUntil([&] { return form_->labelZwDisplay->text() == "3,000"; }));
    form_->btnComConnect->click();
    EXPECT_FALSE(form_->ComPort1->Connected());
    EXPECT_EQ(form_->btnComConnect->text(), QStringLiteral("Connect"));
    EXPECT_FALSE(form_->Timer1->isActive());
    EXPECT_FALSE(form_->GroupBoxManualProcessing->isEnabled());
    EXPECT_EQ(form_->ComLed1->State(), lsOff);
    ServeFor(600);  // three poll periods: a tick would fail on the closed port and report
    EXPECT_EQ(Labels(), (QStringList{"Idle", "Idle", "1,000", "2,000", "3,000"}));
}

TEST_F(WindowPty, ReceivedLinesAreLoggedOrShownAndFocusGoesToTheManualInput) {
    Connect();
    form_->Timer1->stop();  // only the lines below on the wire
    form_->activateWindow();
    ASSERT_TRUE(ServeQtUntil([&] { return QApplication::activeWindow() == form_.get(); }));
    form_->EditManualInput->setText("G0 X1");
    form_->editFeed->setFocus();

    const QStringList afterOk{"", kGreeting, "F100", "ok", ""};
    const QStringList idle{"Idle", "Idle", "1,000", "2,000", "3,000"};
    const struct {
        std::string received;
        QStringList monitor;
        QStringList labels;
    } steps[] = {
        {"ok\r\n", afterOk, QStringList(5, " ----- ")},
        {"<Idle,MPos:1.000,2.000,3.000,WPos:1.000,2.000,3.000>\r\n", afterOk, idle},
        {"<Idle,MPos:0,0,0,WPos:1.000,2.000,3.000>\r\n<Run,WPos:-1.5,0,2>\r\n", afterOk,
         {"Busy", "Busy", "-1,5", "0", "2"}},
        {"\n", {"", kGreeting, "F100", "ok", "", ""}, {"Busy", "Busy", "-1,5", "0", "2"}},
        {"<\r\n", {"", kGreeting, "F100", "ok", "", ""}, {"Busy", "Busy", "", "", ""}},
    };
    for (const auto& step : steps) {
        pty_.Send(step.received);
        EXPECT_TRUE(ServeQtUntil([&] { return MonitorLines() == step.monitor && Labels() == step.labels; }))
            << step.received << ": " << MonitorLines().join('|').toStdString() << " / "
            << Labels().join('|').toStdString();
    }
    EXPECT_EQ(LineColour(3), QColor(Qt::black));
    EXPECT_EQ(QApplication::focusWidget(), form_->EditManualInput);
    EXPECT_EQ(form_->EditManualInput->selectedText(), QStringLiteral("G0 X1"));
}

TEST_F(WindowPty, SoftResetIsOneByteAndClearEmptiesTheMonitor) {
    Connect();
    form_->Timer1->stop();
    form_->btnSoftReset->click();
    EXPECT_EQ(pty_.Read(1), "\x18");
    EXPECT_EQ(MonitorLines(), (QStringList{"", kGreeting, "F100", ""}));
    form_->btnterminalClear->click();
    EXPECT_EQ(form_->RichEdit1->toPlainText(), QString());
    SendCommand("$$");
    EXPECT_EQ(pty_.Read(3), "$$\r");
    EXPECT_EQ(MonitorLines(), (QStringList{"$$", ""}));  // on the first line now
}

TEST_F(WindowPty, ALineCutOffByADisconnectIsNotGluedToTheNextConnection) {
    Connect();
    const std::string cut = "$24=25.000 (homing feed, mm/min";
    pty_.Send(cut);
    ASSERT_TRUE(ServeQtUntil([&] { return form_->ComDataPacket1->Buffer().size() == cut.size(); }));
    form_->btnComConnect->click();
    ASSERT_FALSE(form_->ComPort1->Connected());

    form_->btnComConnect->click();
    ASSERT_TRUE(form_->ComPort1->Connected());
    Greet();
    // Polls of the first connection may still wait in the line before the command.
    std::string wire;
    while (wire.find("F100\r") == std::string::npos && wire.size() < 64) {
        const std::string more = pty_.Read(1);
        if (more.empty()) break;
        wire += more;
    }
    EXPECT_EQ(wire.substr(wire.find_first_not_of('?')), "F100\r");
    pty_.Send("$24=25.000\r\n");
    EXPECT_TRUE(ServeQtUntil([&] { return MonitorLines().contains("$24=25.000"); }))
        << MonitorLines().join('|').toStdString();
    EXPECT_FALSE(form_->RichEdit1->toPlainText().contains("mm/min"));
}

TEST_F(WindowPty, NothingIsWrittenUntilTheControllerGreetsOrTheWaitRunsOut) {
    const struct {
        const char* what;
        bool greet;
        bool disconnectMeanwhile;
    } cases[] = {
        {"greeted", true, false},
        {"silent board", false, false},
        {"disconnected while waiting", false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        form_->btnComConnect->click();
        ExpectView(TLinkPhase::Greeting);
        // Too early for any board to have greeted: nothing on the wire, the window responsive.
        EXPECT_EQ(pty_.Read(1, 300), "");
        if (c.disconnectMeanwhile) {
            form_->btnComConnect->click();
            ExpectView(TLinkPhase::Closed);
            ServeFor(kGreetingWaitMs);  // the wait is cancelled: nothing fires later
            EXPECT_EQ(TakeReportedErrors(), std::vector<std::string>{});
            ExpectView(TLinkPhase::Closed);
            continue;
        }
        if (c.greet) Greet();
        // Greeted: at once. Not greeted: once the wait has run out, and not much earlier.
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(pty_.Read(5, c.greet ? 1000 : 2 * kGreetingWaitMs), "F100\r");
        if (!c.greet) {
            EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
        }
        EXPECT_TRUE(ServeQtUntil([&] { return form_->LinkPhase() == TLinkPhase::Ready; }));
        ExpectView(TLinkPhase::Ready);
        form_->btnComConnect->click();
        ExpectView(TLinkPhase::Closed);
        pty_.Read(64, 50);  // polls sent before the close
    }
}

// A greeting that is already waiting when the port opens is delivered in the middle of the
// open, before the window has heard that the port is open: it counts all the same, once.
TEST_F(WindowPty, AGreetingDeliveredWhileThePortOpensCountsOnce) {
    auto owned = std::make_unique<device::FakeDevice>();
    device::FakeDevice& fake = *owned;
    form_->ComPort1->SetDevice(std::move(owned));
    fake.InjectReceived(std::string(kGreeting) + "\r\n");
    // The lamp hears of the open first and lets pending events run: here, until the greeting
    // has been delivered and whatever it started has had its turn.
    form_->ComLed1->OnChange = [&](TObject*, TLedState on) {
        if (on != lsOn) return;
        ServeQtUntil([&] { return MonitorLines().contains(kGreeting); });
        ServeFor(50);
    };
    form_->btnComConnect->click();
    form_->ComLed1->OnChange = nullptr;
    ASSERT_TRUE(ServeQtUntil([&] { return form_->LinkPhase() == TLinkPhase::Ready; }));
    ServeFor(kGreetingWaitMs + 500);  // past the wait, which must not send "F100" again
    ExpectView(TLinkPhase::Ready);
    const std::string written = fake.WrittenText();
    EXPECT_EQ(written.substr(0, 5), "F100\r");
    EXPECT_EQ(written.find_first_not_of('?', 5), std::string::npos) << written;
    form_->btnComConnect->click();
}

// The device going away while connected, however it is first noticed: the link closes as
// "Disconnect" closes it, the operator is told once, in plain words, and once the device is
// back connecting again just works.
TEST_F(WindowPty, ADeviceThatGoesAwayClosesTheLinkAndIsReportedOnce) {
    using device::FakeDevice;
    enum class Gone { HangUp, PollWrite, CommandWrite, FarEndClosed };
    const struct {
        const char* what;
        Gone how;
        int error;
    } cases[] = {
        {"hang-up heard by the event thread", Gone::HangUp, EIO},
        {"status query fails", Gone::PollWrite, ENXIO},
        {"jog fails", Gone::CommandWrite, ENODEV},
        {"pseudo-terminal's far end closed", Gone::FarEndClosed, EIO},
    };
    int heard = 0;
    form_->OnLinkLost = [&](const std::string&) { ++heard; };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        heard = 0;
        FakeDevice* fake = nullptr;
        if (c.how == Gone::FarEndClosed) {
            form_->ComPort1->SetDevice(device::CreateTtyDevice());
            Connect();
        } else {
            auto owned = std::make_unique<FakeDevice>();
            fake = owned.get();
            form_->ComPort1->SetDevice(std::move(owned));
            form_->btnComConnect->click();
            fake->InjectReceived(std::string(kGreeting) + "\r\n");
            ASSERT_TRUE(ServeQtUntil([&] { return form_->LinkPhase() == TLinkPhase::Ready; }));
            EXPECT_EQ(fake->WrittenText().substr(0, 5), "F100\r");
        }
        const QStringList before = MonitorLines();
        switch (c.how) {
        case Gone::HangUp:
            form_->Timer1->stop();  // only the event thread can notice
            fake->HangUp();
            break;
        case Gone::PollWrite: fake->Fail(FakeDevice::Call::BeginWrite, c.error); break;
        case Gone::CommandWrite:
            form_->Timer1->stop();
            fake->Fail(FakeDevice::Call::BeginWrite, c.error);
            form_->btnManXplus->click();
            break;
        case Gone::FarEndClosed: pty_.Hangup(); break;
        }
        ASSERT_TRUE(ServeQtUntil([&] { return form_->LinkPhase() == TLinkPhase::Closed; }));
        form_->btnManXplus->click();  // disabled: nothing more to fail
        ServeFor(600);                // nor do ticks or deliveries report again
        EXPECT_EQ(TakeReportedErrors(),
                  std::vector<std::string>{LinkLostMessage(pty_.path, c.error)});
        EXPECT_EQ(heard, 1);
        ExpectView(TLinkPhase::Closed);
        EXPECT_EQ(MonitorLines(), before);  // the jog that failed is not logged as sent

        if (!fake) continue;  // a closed pseudo-terminal does not come back
        fake->ClearFailures();
        form_->btnComConnect->click();
        ExpectView(TLinkPhase::Greeting);
        form_->btnComConnect->click();
        ExpectView(TLinkPhase::Closed);
    }
}

TEST_F(WindowPty, ClicksThatArriveWhileTheLinkOpensOrClosesAreIgnored) {
    int warnings = 0;
    form_->ShowConnectionWarning = [&] { ++warnings; };
    for (const int queued : {1, 40}) {
        SCOPED_TRACE(queued);
        const QStringList before = MonitorLines();
        ClickWithQueued(queued);  // connect
        ExpectView(TLinkPhase::Greeting);
        Greet();
        EXPECT_EQ(pty_.Read(5), "F100\r");
        EXPECT_TRUE(ServeQtUntil([&] { return form_->Timer1->isActive(); }));
        ExpectView(TLinkPhase::Ready);
        EXPECT_EQ(MonitorLines().count("F100"), before.count("F100") + 1);

        const QStringList connected = MonitorLines();
        ClickWithQueued(queued);  // disconnect
        ExpectView(TLinkPhase::Closed);
        ServeFor(300);
        const std::string wire = pty_.Read(64, 100);  // polls sent before the close, at most
        EXPECT_EQ(wire.find_first_not_of('?'), std::string::npos) << wire;
        EXPECT_EQ(MonitorLines(), connected);  // no "F100" logged that never went out
    }
    EXPECT_EQ(warnings, 0);
}

TEST_F(WindowPty, ClosingTheWindowWhileLinesArriveClosesThePortQuietly) {
    Connect();
    std::string burst;
    for (int i = 0; i < 100; ++i) burst += "ok\r\n<Idle,MPos:0,0,0,WPos:1.000,2.000,3.000>\r\n";
    pty_.Send(burst);
    ASSERT_TRUE(ServeQtUntil([&] { return MonitorLines().size() > 4; }));  // deliveries under way
    form_->close();
    form_.reset();
    EXPECT_EQ(Form1, nullptr);
    // The device is free again.
    TComPort again;
    again.SetPort(pty_.path);
    EXPECT_NO_THROW(again.SetConnected(true));
    again.SetConnected(false);
}

}  // namespace

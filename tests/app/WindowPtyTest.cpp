// The window on a link to a controller that the test plays over a pseudo-terminal.

#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include "SpinEdit.h"
#include <QTimer>

#include "CPortCtl.h"
#include "ImageButton.h"
#include "WindowTestSupport.h"

namespace {

using namespace windowtest;

// Lets the event loop run for `ms`: for checks that something does NOT happen meanwhile.
void ServeFor(int ms) { ServeQtUntil([] { return false; }, std::chrono::milliseconds(ms)); }

class WindowPty : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        ASSERT_FALSE(pty_.path.empty());
        form_->ComPort1->SetPort(pty_.path);
    }
    // Connects and takes the first command off the wire.
    void Connect() {
        form_->btnComConnect->click();
        ASSERT_TRUE(form_->ComPort1->Connected());
        ASSERT_EQ(pty_.Read(5), "F100\r");
    }
    QStringList Labels() const {
        return {form_->labelStatus1->text(), form_->labelStatus2->text(),
                form_->labelXwDisplay->text(), form_->labelYwDisplay->text(),
                form_->labelZwDisplay->text()};
    }

    Pty pty_;
};

TEST_F(WindowPty, ConnectSendsF100FirstThenPollsUntilDisconnect) {
    Connect();
    EXPECT_EQ(pty_.Read(1), "?");  // the poll, after the first command
    EXPECT_EQ(MonitorLines(), (QStringList{"", "F100", ""}));
    EXPECT_EQ(LineColour(1), QColor(0, 128, 0));
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

    const QStringList afterOk{"", "F100", "ok", ""};
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
        {"\n", {"", "F100", "ok", "", ""}, {"Busy", "Busy", "-1,5", "0", "2"}},
        {"<\r\n", {"", "F100", "ok", "", ""}, {"Busy", "Busy", "", "", ""}},
    };
    for (const auto& step : steps) {
        pty_.Send(step.received);
        EXPECT_TRUE(ServeQtUntil([&] { return MonitorLines() == step.monitor && Labels() == step.labels; }))
            << step.received << ": " << MonitorLines().join('|').toStdString() << " / "
            << Labels().join('|').toStdString();
    }
    EXPECT_EQ(LineColour(2), QColor(Qt::black));
    EXPECT_EQ(QApplication::focusWidget(), form_->EditManualInput);
    EXPECT_EQ(form_->EditManualInput->selectedText(), QStringLiteral("G0 X1"));
}

TEST_F(WindowPty, SoftResetIsOneByteAndClearEmptiesTheMonitor) {
    Connect();
    form_->Timer1->stop();
    form_->btnSoftReset->click();
    EXPECT_EQ(pty_.Read(1), "\x18");
    EXPECT_EQ(MonitorLines(), (QStringList{"", "F100", ""}));
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

TEST_F(WindowPty, TheFarEndHangingUpGivesOneReportAtATimeNotOnePerTick) {
    Connect();
    int reports = 0, reportsWhileShown = 0;
    framework::SetDefaultErrorReport([&](const std::string&) {
        const int before = ++reports;
        // Stand in for the modal message box: its own event loop runs for five ticks.
        QEventLoop modal;
        QTimer::singleShot(1000, &modal, &QEventLoop::quit);
        modal.exec();
        reportsWhileShown += reports - before;
    });
    pty_.Hangup();
    EXPECT_TRUE(ServeQtUntil([&] { return reports == 1; }));
    // Dismissed: the poll goes on, but the same failure is not put up again.
    ServeFor(1600);
    EXPECT_EQ(reports, 1);
    EXPECT_EQ(reportsWhileShown, 0);
    EXPECT_TRUE(form_->Timer1->isActive());
    RecordErrors();
    TakeReportedErrors();
    form_->btnComConnect->click();
    EXPECT_FALSE(form_->ComPort1->Connected());
    TakeReportedErrors();  // closing a line that is gone may report as well
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

// The console window against the controller simulator, as an operator meets them: pick the
// simulator in the port list, connect, jog, set and return to the work zero, stop, load a
// file, and lose the line. Each test starts its own simulator in a private runtime directory.

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "CPortCtl.h"
#include "GCodeGrid.h"
#include "GrblsimProcess.h"
#include "ImageButton.h"
#include "SerialPorts.h"
#include "SpinEdit.h"
#include "TempDir.h"
#include "WindowTestSupport.h"

namespace {

using namespace windowtest;
using consoletest::TempDir;
using grblsimtest::Simulator;

// Motion runs this many times faster than on a machine. Slow enough that a 10 mm jog at
// 1000 mm/min (2 s on the machine) spans several of the console's 200 ms status polls.
const char* const kTimeScale = "2";
// Generous: the machine running the tests is shared.
constexpr auto kDeadline = std::chrono::seconds(20);

class EndToEnd : public WindowTest {
protected:
    void TearDown() override {
        SetSimulatorPortDir("");
        WindowTest::TearDown();
    }

    // Starts the simulator, picks its entry in the port list as an operator does and connects.
    void Start(std::vector<std::string> args = {}) {
        args.insert(args.end(), {"--time-scale", kTimeScale});
        sim_ = std::make_unique<Simulator>(args);
        ASSERT_FALSE(sim_->entry_.empty());
        SetSimulatorPortDir(sim_->dir_);
        TComComboBox& ports = *form_->ComComboBox1;
        ports.showPopup();  // the list is read as it opens
        ports.hidePopup();
        const int entry = ports.findText(QString::fromStdString(sim_->entry_));
        ASSERT_GE(entry, 0) << sim_->entry_;
        ports.setCurrentIndex(entry);
        emit ports.activated(entry);
        ASSERT_EQ(form_->ComPort1->Port(), sim_->entry_);
        form_->btnComConnect->click();
        ASSERT_TRUE(form_->ComPort1->Connected());
        ASSERT_TRUE(WaitFor([&] { return State() == "Idle"; })) << Shown();
    }

    template <typename Pred> bool WaitFor(Pred done) { return ServeQtUntil(done, kDeadline); }
    // The monitor's lines without the empty ones.
    QStringList Lines() const {
        QStringList lines = MonitorLines();
        lines.removeAll(QString());
        return lines;
    }
    bool Logged(const QString& line) const { return Lines().contains(line); }
    // The state, as both labels show it; "?" while they differ.
    QString State() const {
        const QString big = form_->labelStatus1->text();
        return big == form_->labelStatus2->text() ? big : QStringLiteral("?");
    }
    QString X() const { return form_->labelXwDisplay->text(); }
    QStringList Position() const {
        return {X(), form_->labelYwDisplay->text(), form_->labelZwDisplay->text()};
    }
    // What the window shows, for failure messages.
    std::string Shown() const {
        return (State() + " " + Position().join(' ') + " | " + Lines().join('|')).toStdString();
    }

    // Sets the jog distance and feed.
    void JogBy(double mm, int feed = 1000) {
        form_->editManualmm->SetValue(mm);
        form_->editFeed->SetValue(feed);
    }
    // Presses `button` and follows the labels: "Busy" on the way, at an X between the two
    // ends, then "Idle" at X = `to`.
    void Move(QAbstractButton* button, const QString& to) {
        const QString from = X();
        button->click();
        EXPECT_TRUE(WaitFor([&] { return State() == "Busy" && X() != from && X() != to; }))
            << button->objectName().toStdString() << ": " << Shown();
        EXPECT_TRUE(WaitFor([&] { return State() == "Idle" && X() == to; }))
            << button->objectName().toStdString() << ": " << Shown();
    }

    static std::size_t Reports() {
        std::lock_guard lock(Errors().mutex);
        return Errors().messages.size();
    }

    std::unique_ptr<Simulator> sim_;
};

const QStringList kAtZero{"0,000", "0,000", "0,000"};

// The basics in either dialect: the 1.1 controller reports machine positions and sends the
// work offset only every few reports, yet the window shows the same work positions.
class Dialects : public EndToEnd, public ::testing::WithParamInterface<const char*> {};

TEST_P(Dialects, ConnectJogSetZeroAndReturnHome) {
    ASSERT_NO_FATAL_FAILURE(Start({"--dialect", GetParam()}));
    const QString banner = QStringLiteral("Grbl %1 ['$' for help]").arg(GetParam());
    ASSERT_TRUE(WaitFor([&] { return Logged("ok"); })) << Shown();
    const QStringList lines = Lines();
    EXPECT_TRUE(lines.contains(banner)) << Shown();
    EXPECT_LT(lines.indexOf("F100"), lines.indexOf("ok")) << Shown();
    EXPECT_EQ(Position(), kAtZero);
    EXPECT_FALSE(form_->btnGoHome->isEnabled());

    JogBy(10);
    Move(form_->btnManXplus, "10,000");
    EXPECT_EQ(Lines().last(), "ok");  // the jog's

    form_->btnSetZero->click();
    EXPECT_TRUE(form_->btnGoHome->isEnabled());
    EXPECT_TRUE(WaitFor([&] { return Position() == kAtZero; })) << Shown();

    // Away from the new zero and back: "Home / Zero" goes to the work zero, 10 mm from the
    // machine's.
    Move(form_->btnManXplus, "10,000");
    Move(form_->btnGoHome, "0,000");
    EXPECT_EQ(Position(), kAtZero);
}

INSTANTIATE_TEST_SUITE_P(Grbl, Dialects, ::testing::Values("0.9j", "1.1h"));

TEST_F(EndToEnd, EmergencyStopHoldsAndResetsAndUnlockingMakesItUsableAgain) {
    ASSERT_NO_FATAL_FAILURE(Start());
    JogBy(100);
    form_->btnManXplus->click();
    ASSERT_TRUE(WaitFor([&] { return State() == "Busy"; })) << Shown();
    form_->btnStop2->click();
    // Held and reset in the move: the controller raises its alarm, and takes nothing during
    // the half second before it greets again; then it stays locked until unlocked. The
    // console's "F100" waits for that greeting (sent at once, it would be lost) and is
    // refused by the lock.
    EXPECT_TRUE(WaitFor([&] {
        return Logged("['$H'|'$X' to unlock]") && form_->LinkPhase() == TLinkPhase::Ready;
    })) << Shown();
    EXPECT_TRUE(WaitFor([&] { return Logged("error: Alarm lock"); })) << Shown();
    const QStringList sinceAlarm = Lines().mid(Lines().lastIndexOf("ALARM: Abort during cycle"));
    EXPECT_FALSE(sinceAlarm.contains("ok")) << Shown();
    EXPECT_GT(sinceAlarm.indexOf("F100"), sinceAlarm.indexOf("Grbl 0.9j ['$' for help]"))
        << Shown();
    const QStringList lines = Lines();
    EXPECT_EQ(lines.count("Grbl 0.9j ['$' for help]"), 2) << Shown();
    for (const char* line : {"ALARM: Abort during cycle", "['$H'|'$X' to unlock]",
                             "Not-Stop, System-Reset. Bitte Nullpunkt neu setzten"})
        EXPECT_TRUE(lines.contains(line)) << line;
    EXPECT_FALSE(form_->btnGoHome->isEnabled());

    form_->btnSendX->click();
    EXPECT_TRUE(WaitFor([&] { return Logged("[Caution: Unlocked]") && State() == "Idle"; }))
        << Shown();
    // Stopped short of the 100 mm.
    const double stoppedAt = X().replace(',', '.').toDouble();
    EXPECT_GT(stoppedAt, 0);
    EXPECT_LT(stoppedAt, 90);

    JogBy(10);
    Move(form_->btnManXplus, QString::number(stoppedAt + 10, 'f', 3).replace('.', ','));
}

TEST_F(EndToEnd, LoadingAFileShowsItAndSendsNothing) {
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_TRUE(WaitFor([&] { return Logged("ok"); })) << Shown();
    const TempDir dir;
    const std::string path =
        dir.File("sample.nc", "N1 G71\r\nG0 X0 Y0 ; start\r\nG1 X10 F300\r\nM30\r\n");
    const QStringList before = Lines();
    AnswerFileDialog([&](QFileDialog& d) {
        ChooseFile(d, QString::fromStdString(path));
        static_cast<QDialog&>(d).accept();
    });
    form_->JvXPButton6->click();
    const TGCodeGrid& grid = *form_->JvStringGrid1;
    ASSERT_EQ(grid.RowCount(), 5);
    EXPECT_EQ(grid.Cells(0, 1), "N1 G71");
    EXPECT_EQ(grid.Cells(0, 2), "G0 X0 Y0 ");
    EXPECT_EQ(grid.Cells(1, 2), " start");
    EXPECT_EQ(grid.Cells(0, 4), "M30");
    // The link goes on as before: polls answered (the labels, blanked here, show the next
    // report), nothing else sent.
    form_->labelStatus1->setText("-");
    form_->labelStatus2->setText("-");
    EXPECT_TRUE(WaitFor([&] { return State() == "Idle"; })) << Shown();
    EXPECT_EQ(Lines(), before);
}

// A board that resets when the port opens hears nothing in its boot loader: the console waits
// for its greeting, so "F100" arrives, and a Z jog, which carries no feed of its own, runs.
TEST_F(EndToEnd, ABoardThatResetsOnOpenGetsF100AfterItsGreetingAndJogsZ) {
    ASSERT_NO_FATAL_FAILURE(Start({"--boot-delay", "1"}));
    ASSERT_TRUE(WaitFor([&] { return Logged("ok"); })) << Shown();
    const QStringList lines = Lines();
    const auto greeting = lines.indexOf("Grbl 0.9j ['$' for help]");
    ASSERT_GE(greeting, 0) << Shown();
    EXPECT_LT(greeting, lines.indexOf("F100")) << Shown();
    EXPECT_LT(lines.indexOf("F100"), lines.indexOf("ok")) << Shown();

    JogBy(1);
    form_->btnManZplus->click();
    EXPECT_TRUE(WaitFor([&] {
        return State() == "Idle" && form_->labelZwDisplay->text() == "1,000";
    })) << Shown();
    for (const QString& line : Lines())
        EXPECT_FALSE(line.startsWith("error")) << line.toStdString();
}

TEST_F(EndToEnd, TheControllerHangingUpIsReportedOnceAndTheWindowRecovers) {
    ASSERT_NO_FATAL_FAILURE(Start({"--fault", "hangup:2"}));  // the jog is the second line
    ASSERT_TRUE(WaitFor([&] { return Logged("ok"); })) << Shown();
    JogBy(1);
    form_->btnManXplus->click();
    ASSERT_TRUE(WaitFor([] { return Reports() > 0; })) << Shown();
    // The link is closed at once, as "Disconnect" closes it; later ticks and clicks find
    // nothing to report.
    EXPECT_FALSE(form_->ComPort1->Connected());
    EXPECT_EQ(form_->btnComConnect->text(), "Connect");
    EXPECT_FALSE(form_->GroupBoxManualProcessing->isEnabled());
    EXPECT_FALSE(form_->Timer1->isActive());
    EXPECT_EQ(form_->ComLed1->State(), lsOff);
    form_->btnManXplus->click();
    ServeQtUntil([] { return false; }, std::chrono::milliseconds(1000));
    EXPECT_EQ(TakeReportedErrors(),
              std::vector<std::string>{LinkLostMessage(form_->ComPort1->Port(), EIO)});

    // The simulator's entry leads to its new terminal: connecting again just works.
    form_->RichEdit1->clear();
    form_->btnComConnect->click();
    ASSERT_TRUE(form_->ComPort1->Connected());
    EXPECT_TRUE(WaitFor([&] { return Logged("Grbl 0.9j ['$' for help]") && Logged("ok"); }))
        << Shown();
}

}  // namespace

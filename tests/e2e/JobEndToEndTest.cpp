// Running a file from the window against the controller simulator, in both dialects: to the
// end, paused and resumed, stopped at a line the controller refuses, and cut off by the
// controller hanging up.

#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>

#include "CPortCtl.h"
#include "GCodeGrid.h"
#include "GrblsimProcess.h"
#include "ImageButton.h"
#include "Job.h"
#include "JobRunner.h"
#include "SerialPorts.h"
#include "ToolpathWindow.h"
#include "TempDir.h"
#include "WindowTestSupport.h"

namespace {

using namespace windowtest;
using consoletest::TempDir;
using grblsimtest::Simulator;
using job::RowState;

constexpr auto kDeadline = std::chrono::seconds(30);

class JobEndToEnd : public WindowTest, public ::testing::WithParamInterface<const char*> {
protected:
    void TearDown() override {
        SetSimulatorPortDir("");
        WindowTest::TearDown();
    }

    void Start(const char* timeScale, std::vector<std::string> args = {}) {
        args.insert(args.end(), {"--dialect", GetParam(), "--time-scale", timeScale});
        sim_ = std::make_unique<Simulator>(args);
        ASSERT_FALSE(sim_->entry_.empty());
        SetSimulatorPortDir(sim_->dir_);
        TComComboBox& ports = *form_->ComComboBox1;
        ports.showPopup();
        ports.hidePopup();
        const int entry = ports.findText(QString::fromStdString(sim_->entry_));
        ASSERT_GE(entry, 0) << sim_->entry_;
        ports.setCurrentIndex(entry);
        emit ports.activated(entry);
        form_->btnComConnect->click();
        ASSERT_TRUE(form_->ComPort1->Connected());
        ASSERT_TRUE(WaitFor([&] { return Logged("ok") && State() == "Idle"; })) << Shown();
    }

    // Loads `lines` into the grid as the file dialog would; returns the file's path.
    std::string Load(const std::vector<std::string>& lines) {
        std::string text;
        for (const std::string& l : lines)
            text += l + "\r\n";
        const std::string path = dir_.File("job.nc", text);
        TGCodeGrid::UpdateScope update(*form_->JvStringGrid1);
        form_->JvStringGrid1->LoadCsvFile(path, ';', '"', true);
        form_->JvStringGrid1->ShowAsGCodeTable();
        return path;
    }

    template <typename Pred> bool WaitFor(Pred done) { return ServeQtUntil(done, kDeadline); }
    QStringList Lines() const {
        QStringList lines = MonitorLines();
        lines.removeAll(QString());
        return lines;
    }
    bool Logged(const QString& line) const { return Lines().contains(line); }
    bool LoggedStarting(const QString& head) const {
        for (const QString& l : Lines())
            if (l.startsWith(head)) return true;
        return false;
    }
    QString State() const { return form_->labelStatus1->text(); }
    QStringList Position() const {
        return {form_->labelXwDisplay->text(), form_->labelYwDisplay->text(),
                form_->labelZwDisplay->text()};
    }
    std::string Shown() const {
        return (State() + " " + Position().join(' ') + " | " + Lines().join('|')).toStdString();
    }
    const job::Job& Job() { return form_->JobRunner().Job(); }

    TempDir dir_;
    std::unique_ptr<Simulator> sim_;
};

// Straight moves with comments and empty lines; the last one ends at 12.5, -3.2, -1.
std::vector<std::string> Moves(int count) {
    std::vector<std::string> lines = {"(a test pocket)", "G21 G90 ; millimetres", "", "G1 F6000"};
    for (int i = 0; i < count; ++i)
        lines.push_back("G1 X" + std::to_string(i % 10) + " Y" + std::to_string(i % 7) +
                        (i % 5 == 0 ? " ; pass" : ""));
    lines.push_back("G1 X12.5 Y-3.2 Z-1");
    return lines;
}

TEST_P(JobEndToEnd, RunsToTheEndAtTheFilesLastPosition) {
    ASSERT_NO_FATAL_FAILURE(Start("50"));
    const std::vector<std::string> file = Moves(120);
    const std::string path = Load(file);
    // The toolpath window shows the same file: the job draws its progress there and takes its
    // remaining time from the path's estimate.
    TToolpathWindow& toolpath = *form_->Toolpath();
    toolpath.LoadFile(path);
    ASSERT_TRUE(WaitFor([&] { return !toolpath.Loading() && toolpath.Path(); }));
    const int oksBefore = Lines().count("ok");
    form_->btnStartProcess->click();
    const job::RowTimeEstimate& estimate = form_->JobRunner().Estimate;
    ASSERT_TRUE(estimate.SecondsBefore);
    EXPECT_DOUBLE_EQ(estimate.total, toolpath.Path()->estimate.total);
    EXPECT_DOUBLE_EQ(estimate.SecondsBefore(0), 0.0);
    EXPECT_DOUBLE_EQ(estimate.SecondsBefore(file.size()), estimate.total);
    EXPECT_FALSE(form_->btnStartProcess->isEnabled());
    EXPECT_FALSE(form_->EditManualInput->isEnabled());
    EXPECT_TRUE(form_->btnSoftReset->isEnabled());
    EXPECT_TRUE(form_->btnStop2->isEnabled());
    EXPECT_FALSE(form_->ComComboBox1->isEnabled());
    ASSERT_TRUE(WaitFor([&] { return !Job().Active(); })) << Shown();
    EXPECT_TRUE(LoggedStarting(QStringLiteral("Job beendet: %1 Zeilen in ").arg(file.size())))
        << Shown();
    EXPECT_TRUE(WaitFor([&] {
        return Position() == QStringList{"12,500", "-3,200", "-1,000"} && State() == "Idle";
    })) << Shown();
    for (std::size_t row = 0; row < file.size(); ++row) {
        const bool empty = job::CleanLine(file[row]).empty();
        EXPECT_EQ(Job().Row(row), empty ? RowState::Skipped : RowState::Acknowledged) << row;
    }
    EXPECT_EQ(toolpath.RowsDone(), file.size());
    // The monitor got the start and the end, not every answer.
    EXPECT_EQ(Lines().count("ok"), oksBefore) << Shown();
    EXPECT_TRUE(form_->btnStartProcess->isEnabled());
    EXPECT_TRUE(form_->EditManualInput->isEnabled());
    EXPECT_TRUE(form_->ComComboBox1->isEnabled());
}

TEST_P(JobEndToEnd, PausesAndResumes) {
    ASSERT_NO_FATAL_FAILURE(Start("4"));
    Load({"G21 G90", "G1 F600", "G1 X20", "G1 X0", "G1 X12.5 Y-3.2 Z-1"});
    form_->btnStartProcess->click();
    ASSERT_TRUE(WaitFor([&] { return State() == "Busy"; })) << Shown();
    form_->btnJobPause->click();
    EXPECT_FALSE(form_->btnJobPause->isEnabled());
    EXPECT_TRUE(form_->btnJobResume->isEnabled());
    // Held: the position comes to rest and stays there.
    QString x;
    ASSERT_TRUE(WaitFor([&] {
        const QString now = form_->labelXwDisplay->text();
        const bool still = now == x;
        x = now;
        ServeQtUntil([] { return false; }, std::chrono::milliseconds(300));
        return still;
    })) << Shown();
    ServeQtUntil([] { return false; }, std::chrono::milliseconds(600));
    EXPECT_EQ(form_->labelXwDisplay->text(), x);
    EXPECT_TRUE(Job().Active());
    form_->btnJobResume->click();
    ASSERT_TRUE(WaitFor([&] { return !Job().Active(); })) << Shown();
    EXPECT_TRUE(LoggedStarting("Job beendet: 5 Zeilen in ")) << Shown();
    EXPECT_TRUE(WaitFor([&] {
        return Position() == QStringList{"12,500", "-3,200", "-1,000"};
    })) << Shown();
}

TEST_P(JobEndToEnd, AnUnsupportedLineHoldsTheJobAndStopEndsIt) {
    ASSERT_NO_FATAL_FAILURE(Start("20"));
    Load({"G21 G90", "G1 F3000 X5", "G5 X1 ; not a code the controller knows", "G1 X10", "G1 X20",
          "G1 X30"});
    form_->btnStartProcess->click();
    ASSERT_TRUE(WaitFor([&] { return LoggedStarting("Fehler in Zeile 3: "); })) << Shown();
    EXPECT_EQ(Job().Row(2), RowState::Error);
    EXPECT_EQ(Job().GetPhase(), job::Job::Phase::ErrorHold);
    EXPECT_TRUE(form_->btnJobResume->isEnabled());
    EXPECT_FALSE(form_->btnJobPause->isEnabled());
    form_->btnJobStop->click();
    ASSERT_TRUE(WaitFor([&] { return !Job().Active(); })) << Shown();
    EXPECT_TRUE(LoggedStarting("Job abgebrochen bei Zeile ")) << Shown();
    // Reset once the machine stood: no alarm, and the controller greets again.
    EXPECT_TRUE(WaitFor([&] {
        return Lines().count(QStringLiteral("Grbl %1 ['$' for help]").arg(GetParam())) == 2;
    })) << Shown();
    EXPECT_FALSE(LoggedStarting("ALARM")) << Shown();
    // "F100" again once the controller has greeted, and taken: a known feed for the jogs.
    EXPECT_TRUE(WaitFor([&] {
        const QStringList lines = Lines();
        const auto since = lines.mid(
            lines.lastIndexOf(QStringLiteral("Grbl %1 ['$' for help]").arg(GetParam())));
        return form_->LinkPhase() == TLinkPhase::Ready && since.indexOf("F100") > 0 &&
               since.indexOf("ok", since.indexOf("F100")) > 0;
    })) << Shown();
    // Held at the error: the lines after it never moved the machine there.
    EXPECT_NE(form_->labelXwDisplay->text(), "30,000");
    EXPECT_FALSE(form_->btnGoHome->isEnabled());
}

TEST_P(JobEndToEnd, AFaultyLineKeepsTheJobFromStarting) {
    ASSERT_NO_FATAL_FAILURE(Start("20"));
    Load({"G21 G90", "G1 X" + std::string(90, '1') + " ; too long once cleaned", "G1 X1"});
    form_->btnStartProcess->click();
    EXPECT_FALSE(Job().Active());
    EXPECT_TRUE(LoggedStarting("Job nicht gestartet: Zeile 2 ist zu lang (93 Zeichen")) << Shown();
    EXPECT_TRUE(form_->btnStartProcess->isEnabled());
    // Nothing went out: the position stays and no answer comes.
    ServeQtUntil([] { return false; }, std::chrono::milliseconds(500));
    EXPECT_EQ(Lines().count("ok"), 1) << Shown();
}

TEST_P(JobEndToEnd, TheEmergencyStopEndsTheJobAtOnce) {
    ASSERT_NO_FATAL_FAILURE(Start("2"));
    Load(Moves(200));
    form_->btnStartProcess->click();
    ASSERT_TRUE(WaitFor([&] { return State() == "Busy"; })) << Shown();
    form_->btnStop1->click();
    EXPECT_FALSE(Job().Active());
    EXPECT_FALSE(form_->btnGoHome->isEnabled());
    // The stop's own sequence follows as ever, after the job's note; "F100" once the reset
    // controller has greeted, and only then the controls that write lines again.
    QStringList lines = Lines();
    const int note = lines.indexOf(QRegularExpression("^Job durch Not-Stop beendet bei Zeile .*"));
    ASSERT_GE(note, 0) << Shown();
    EXPECT_EQ(lines.mid(note + 1),
              (QStringList{"!", "Not-Stop, System-Reset. Bitte Nullpunkt neu setzten"}))
        << Shown();
    EXPECT_FALSE(form_->btnStartProcess->isEnabled());
    ASSERT_TRUE(WaitFor([&] { return form_->LinkPhase() == TLinkPhase::Ready; })) << Shown();
    lines = Lines();
    EXPECT_GT(lines.lastIndexOf("F100"),
              lines.lastIndexOf(QStringLiteral("Grbl %1 ['$' for help]").arg(GetParam())))
        << Shown();
    EXPECT_TRUE(form_->btnStartProcess->isEnabled());
    EXPECT_TRUE(form_->EditManualInput->isEnabled());
    EXPECT_EQ(Job().Row(150), RowState::Pending);
}

TEST_P(JobEndToEnd, TheControllerHangingUpEndsTheJobWithOneReport) {
    // F100 of the connect is the first line, so the job gets eight through.
    ASSERT_NO_FATAL_FAILURE(Start("2", {"--fault", "hangup:9"}));
    Load(Moves(200));
    form_->btnStartProcess->click();
    ASSERT_TRUE(WaitFor([&] { return !Job().Active(); })) << Shown();
    ServeQtUntil([] { return false; }, std::chrono::milliseconds(600));
    int ends = 0;
    for (const QString& l : Lines())
        ends += l.startsWith("Job beendet, Verbindung zur Steuerung verloren");
    EXPECT_EQ(ends, 1) << Shown();
    // One dialog: the link's, which closed the port.
    EXPECT_EQ(TakeReportedErrors().size(), 1u);
    EXPECT_FALSE(form_->ComPort1->Connected());
    EXPECT_EQ(form_->btnComConnect->text(), "Connect");
    // The rows show how far it got.
    EXPECT_NE(Job().Row(1), RowState::Pending);
    EXPECT_EQ(Job().Row(100), RowState::Pending);
    // The job gave its controls back before the link took them.
    EXPECT_FALSE(form_->btnStartProcess->isEnabled());
    EXPECT_FALSE(form_->GroupBoxManualProcessing->isEnabled());
    EXPECT_TRUE(form_->ComComboBox1->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(Grbl, JobEndToEnd, ::testing::Values("0.9j", "1.1h"),
                         [](const auto& info) {
                             return std::string(info.param[0] == '0' ? "Grbl09j" : "Grbl11h");
                         });

} // namespace

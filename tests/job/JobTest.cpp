// The job against a controller played by the test: it keeps a receive buffer, a planner of
// moves and a machine that holds and resumes, and answers in its own time, like the firmware.
#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <stdexcept>

#include "Job.h"
#include "JobLine.h"

using namespace job;

namespace {

enum class Dialect { V09j, V11h };

struct FileLines : LineSource {
    std::vector<std::string> lines;
    std::size_t LineCount() const override { return lines.size(); }
    std::string Line(std::size_t i) const override { return lines.at(i); }
};

// The file of every scenario: moves with comments, empty and comment-only lines, and three
// settings writes in the middle.
FileLines TestFile() {
    FileLines f;
    for (int i = 0; i < 400; ++i) {
        std::string line;
        if (i % 50 == 7)
            line = "";
        else if (i % 50 == 8)
            line = "(comment only)";
        else if (i == 100)
            line = "$110=500";
        else if (i == 101)
            line = "G10 L20 P1 X0 Y0";
        else if (i == 102)
            line = "G28.1";
        else
            line = "G1 X" + std::to_string(i) + " Y" + std::to_string(i % 7) + " F1000 ; step";
        f.lines.push_back(line);
    }
    return f;
}

class FakeGrbl : public Output {
public:
    static constexpr std::size_t kRxSize = 128;
    static constexpr int kPlannerBlocks = 15;

    explicit FakeGrbl(Dialect d) : dialect_(d) {}

    // Replies other than "ok" by the line's text: "error:N", "ALARM:N" or "GREETING".
    std::map<std::string, std::string> special;
    bool dead = false; // every write fails

    std::string realTime;
    std::vector<std::string> taken; // lines the parser took, in order
    std::vector<Notice> notices;
    std::size_t maxRx = 0;
    std::size_t writesAfterAlarm = 0;
    bool resetWhileMoving = false;
    std::deque<std::string> out; // lines on their way to the job

    // Seconds to parse a line and to run one planned move.
    double parseSeconds = 0.002, moveSeconds = 0.006;

    void Prefill(const std::string& line) {
        rx_ += line;
        ++unanswered_;
    }

    void WriteLine(std::string_view bytes) override {
        if (dead) throw std::runtime_error("Write failed");
        ASSERT_FALSE(bytes.empty());
        ASSERT_EQ(bytes.back(), '\r');
        for (std::size_t start = 0; start < bytes.size();) {
            const std::size_t end = bytes.find('\r', start);
            Arrive(bytes.substr(start, end + 1 - start));
            start = end + 1;
        }
    }

    void Arrive(std::string_view bytes) {
        if (alarm_) ++writesAfterAlarm;
        EXPECT_FALSE(settingsOpen_) << "a line went beside a settings write: " << bytes;
        const std::string line(bytes.substr(0, bytes.size() - 1));
        if (WritesSettings(line)) {
            EXPECT_TRUE(rx_.empty() && unanswered_ == 0) << "settings write not alone: " << line;
            settingsOpen_ = true;
        }
        rx_ += bytes;
        ++unanswered_;
        maxRx = std::max(maxRx, rx_.size());
        ASSERT_LE(rx_.size(), kRxSize - 1) << "receive buffer overrun";
    }

    void WriteRealTime(char byte) override {
        if (dead) throw std::runtime_error("Write failed");
        realTime += byte;
        if (byte == '!') {
            if (!held_) decel_ = blocks_ > 0 ? 0.05 : 0.0;
            held_ = true;
        } else if (byte == '~') {
            held_ = false;
        } else if (byte == 0x18) {
            resetWhileMoving = resetWhileMoving || (blocks_ > 0 && (!held_ || decel_ > 0));
            Reset();
        }
    }

    void Notify(const Notice& n) override { notices.push_back(n); }

    void Step(double dt, double now) {
        if (alarm_) return;
        if (blocks_ > 0 && (!held_ || decel_ > 0)) {
            travelled_ += 1;
            if (held_) {
                decel_ = std::max(0.0, decel_ - dt);
            } else if ((moveLeft_ -= dt) <= 0) {
                --blocks_;
                moveLeft_ = moveSeconds;
            }
        }
        const auto end = rx_.find('\r');
        if (end == std::string::npos || now < nextParse_ || blocks_ >= kPlannerBlocks) return;
        nextParse_ = now + parseSeconds;
        const std::string line = rx_.substr(0, end);
        rx_.erase(0, end + 1);
        taken.push_back(line);
        const auto it = special.find(line);
        const std::string reply = it == special.end() ? "ok" : it->second;
        if (reply == "GREETING") {
            Reset();
        } else if (reply.starts_with("ALARM:")) {
            out.push_back(dialect_ == Dialect::V11h ? reply : "ALARM: Hard/soft limit");
            alarm_ = true;
            rx_.clear();
            blocks_ = 0;
        } else if (reply.starts_with("error:")) {
            out.push_back(dialect_ == Dialect::V11h ? reply + "\r"
                                                    : "error: Unsupported command\r");
        } else {
            if (line.starts_with("G1")) {
                if (blocks_++ == 0) moveLeft_ = moveSeconds;
            }
            out.push_back("ok\r");
        }
    }

    void Query() {
        std::string state;
        if (alarm_)
            state = "Alarm";
        else if (held_)
            state = dialect_ == Dialect::V09j ? "Hold" : decel_ > 0 ? "Hold:1" : "Hold:0";
        else
            state = blocks_ > 0 ? "Run" : "Idle";
        const std::string pos = std::to_string(travelled_) + ".000,0.000,0.000";
        out.push_back(dialect_ == Dialect::V09j
                          ? "<" + state + ",MPos:" + pos + ",WPos:" + pos + ">\r"
                          : "<" + state + "|MPos:" + pos + "|FS:0,0>\r");
    }

    // A reply leaves the controller's books as it reaches the job.
    void Delivered(const std::string& line) {
        const Reply r = ClassifyReply(line);
        if (r.kind == ReplyKind::Ok || r.kind == ReplyKind::Error) {
            --unanswered_;
            if (unanswered_ == 0) settingsOpen_ = false;
        }
        if (r.kind == ReplyKind::Alarm) alarm_ = true;
    }

private:
    void Reset() {
        rx_.clear();
        blocks_ = 0;
        held_ = false;
        decel_ = 0;
        unanswered_ = 0;
        settingsOpen_ = false;
        out.push_back("\r");
        out.push_back(dialect_ == Dialect::V11h ? "Grbl 1.1h ['$' for help]\r"
                                                : "Grbl 0.9j ['$' for help]\r");
    }

    Dialect dialect_;
    std::string rx_;
    int unanswered_ = 0;
    bool settingsOpen_ = false;
    int blocks_ = 0;
    double moveLeft_ = 0;
    bool held_ = false;
    double decel_ = 0;
    bool alarm_ = false;
    long travelled_ = 0;
    double nextParse_ = 0;
};

enum class Do { Pause, Resume, Stop, LinkLost, Die };
struct Action {
    double at;
    Do what;
};
enum class OnError { Nothing, Continue, Stop };

struct Scenario {
    const char* name;
    Dialect dialect;
    std::map<std::size_t, std::string> special; // row -> reply
    std::vector<Action> actions;
    OnError onError;
    EndReason end;
    std::string realTime;
    bool foreign = false; // a line of the window's is still unanswered at the start
};

void PrintTo(const Scenario& s, std::ostream* os) {
    *os << s.name;
}

const Clock::time_point kT0 = Clock::time_point{} + std::chrono::hours(1);

Clock::time_point At(int ms) {
    return kT0 + std::chrono::milliseconds(ms);
}

// Runs the job against the fake in 1 ms steps, with the window's 200 ms status poll, until
// it ends.
void Drive(Job& job, FakeGrbl& fake, const Scenario& s) {
    std::size_t errorsSeen = 0;
    int answerErrorAt = -1;
    for (int ms = 0; ms < 120'000 && job.Active(); ++ms) {
        fake.Step(0.001, ms / 1000.0);
        for (const Action& a : s.actions) {
            if (static_cast<int>(a.at * 1000) != ms) continue;
            switch (a.what) {
            case Do::Pause:
                job.Pause(At(ms));
                break;
            case Do::Resume:
                job.Resume(At(ms));
                break;
            case Do::Stop:
                job.Stop(At(ms));
                break;
            case Do::LinkLost:
                job.LinkLost(At(ms));
                job.LinkLost(At(ms));
                break;
            case Do::Die:
                fake.dead = true;
                break;
            }
        }
        if (ms % 200 == 0) fake.Query();
        while (!fake.out.empty()) {
            const std::string line = fake.out.front();
            fake.out.pop_front();
            fake.Delivered(line);
            job.LineReceived(line, At(ms));
        }
        std::size_t errors = 0;
        for (const Notice& n : fake.notices)
            errors += n.kind == Notice::Error;
        if (errors > errorsSeen) {
            errorsSeen = errors;
            answerErrorAt = ms + 100; // the operator takes a moment
        }
        if (ms == answerErrorAt) {
            if (s.onError == OnError::Continue) job.Resume(At(ms));
            if (s.onError == OnError::Stop) job.Stop(At(ms));
        }
        job.Tick(At(ms));
    }
}

class JobScenario : public ::testing::TestWithParam<Scenario> {};

TEST_P(JobScenario, RunsLikeTheController) {
    const Scenario& s = GetParam();
    const FileLines file = TestFile();
    FakeGrbl fake(s.dialect);
    for (const auto& [row, reply] : s.special)
        fake.special[CleanLine(file.lines[row])] = reply;
    Job job(fake);
    std::size_t lastDone = 0;
    bool doneInOrder = true;
    job.OnRowsDone = [&](std::size_t done) {
        doneInOrder = doneInOrder && done > lastDone;
        lastDone = done;
    };
    std::vector<std::size_t> foreign;
    if (s.foreign) {
        fake.Prefill("F100\r");
        foreign.push_back(5);
    }
    ASSERT_TRUE(job.Start(file, kT0, foreign));
    Drive(job, fake, s);

    ASSERT_FALSE(job.Active()) << "the job never ended";
    std::vector<Notice> ended;
    for (const Notice& n : fake.notices)
        if (n.kind == Notice::Ended) ended.push_back(n);
    ASSERT_EQ(ended.size(), 1u) << "one report of the end";
    EXPECT_EQ(ended[0].reason, s.end);
    EXPECT_EQ(fake.realTime, s.realTime);
    EXPECT_FALSE(fake.resetWhileMoving) << "the reset came before the machine stood";
    EXPECT_GE(fake.maxRx, 100u) << "the receive buffer was never filled";
    EXPECT_TRUE(doneInOrder);
    EXPECT_EQ(fake.writesAfterAlarm, 0u);

    // The controller got exactly the file's lines, cleaned, in order: all of them for a job
    // that ran to the end, otherwise the first ones.
    std::vector<std::string> expected;
    if (s.foreign) expected.push_back("F100");
    for (const std::string& line : file.lines)
        if (!CleanLine(line).empty()) expected.push_back(CleanLine(line));
    ASSERT_LE(fake.taken.size(), expected.size());
    for (std::size_t i = 0; i < fake.taken.size(); ++i)
        ASSERT_EQ(fake.taken[i], expected[i]) << i;
    if (s.end == EndReason::Completed) {
        EXPECT_EQ(fake.taken.size(), expected.size());
        EXPECT_EQ(lastDone, file.lines.size());
    } else {
        EXPECT_LT(fake.taken.size(), expected.size());
    }

    // Rows: every special row carries its outcome; a finished job leaves no row open.
    for (const auto& [row, reply] : s.special) {
        if (reply.starts_with("error:")) {
            EXPECT_EQ(job.Row(row), RowState::Error) << row;
        } else {
            EXPECT_EQ(job.Row(row), RowState::Sent) << row;
            EXPECT_EQ(job.Row(row + 60), RowState::Pending) << "unsent rows are dropped";
        }
    }
    for (std::size_t row = 0; row < file.lines.size(); ++row) {
        const RowState st = job.Row(row);
        const bool empty = CleanLine(file.lines[row]).empty();
        if (empty && row < lastDone) {
            EXPECT_EQ(st, RowState::Skipped) << row;
        }
        if (s.end == EndReason::Completed && !s.special.count(row) && !empty) {
            EXPECT_EQ(st, RowState::Acknowledged) << row;
        }
    }
    const Progress p = job.GetProgress(At(200'000));
    EXPECT_EQ(p.total, file.lines.size());
    EXPECT_EQ(p.done, lastDone);
    EXPECT_GT(p.elapsed, 0);
}

const std::string kReset(1, '\x18');

INSTANTIATE_TEST_SUITE_P(
    Job, JobScenario,
    ::testing::Values(
        Scenario{
            "RunsToTheEnd11h", Dialect::V11h, {}, {}, OnError::Nothing, EndReason::Completed, ""},
        Scenario{
            "RunsToTheEnd09j", Dialect::V09j, {}, {}, OnError::Nothing, EndReason::Completed, ""},
        Scenario{"WindowLineAnsweredFirst",
                 Dialect::V11h,
                 {},
                 {},
                 OnError::Nothing,
                 EndReason::Completed,
                 "",
                 true},
        Scenario{"ErrorThenContinue11h",
                 Dialect::V11h,
                 {{200, "error:20"}, {230, "error:33"}},
                 {},
                 OnError::Continue,
                 EndReason::Completed,
                 "!~!~"},
        Scenario{"ErrorThenContinue09j",
                 Dialect::V09j,
                 {{200, "error:20"}},
                 {},
                 OnError::Continue,
                 EndReason::Completed,
                 "!~"},
        Scenario{"ErrorThenStop",
                 Dialect::V11h,
                 {{200, "error:20"}},
                 {},
                 OnError::Stop,
                 EndReason::Stopped,
                 "!!" + kReset},
        Scenario{"PauseAndResume",
                 Dialect::V11h,
                 {},
                 {{0.3, Do::Pause}, {0.8, Do::Resume}},
                 OnError::Nothing,
                 EndReason::Completed,
                 "!~"},
        Scenario{"Stop11h",
                 Dialect::V11h,
                 {},
                 {{0.5, Do::Stop}},
                 OnError::Nothing,
                 EndReason::Stopped,
                 "!" + kReset},
        Scenario{"Stop09j",
                 Dialect::V09j,
                 {},
                 {{0.5, Do::Stop}},
                 OnError::Nothing,
                 EndReason::Stopped,
                 "!" + kReset},
        Scenario{"StopWhilePaused",
                 Dialect::V11h,
                 {},
                 {{0.3, Do::Pause}, {0.6, Do::Stop}},
                 OnError::Nothing,
                 EndReason::Stopped,
                 "!!" + kReset},
        Scenario{
            "Alarm", Dialect::V11h, {{150, "ALARM:1"}}, {}, OnError::Nothing, EndReason::Alarm, ""},
        Scenario{"Alarm09j",
                 Dialect::V09j,
                 {{150, "ALARM:1"}},
                 {},
                 OnError::Nothing,
                 EndReason::Alarm,
                 ""},
        Scenario{"GreetingMidJob",
                 Dialect::V11h,
                 {{150, "GREETING"}},
                 {},
                 OnError::Nothing,
                 EndReason::Reset,
                 ""},
        Scenario{"WriteFails",
                 Dialect::V11h,
                 {},
                 {{0.4, Do::Die}},
                 OnError::Nothing,
                 EndReason::LinkLost,
                 ""},
        Scenario{"LinkLost",
                 Dialect::V11h,
                 {},
                 {{0.4, Do::LinkLost}},
                 OnError::Nothing,
                 EndReason::LinkLost,
                 ""}),
    [](const ::testing::TestParamInfo<Scenario>& info) { return std::string(info.param.name); });

TEST(Job, RefusesAFileWithAFaultyLineAndWritesNothing) {
    FileLines file;
    file.lines = {
        "G1 X1",        "G1 X2 ; " + std::string(200, 'c'),      "G1 X" + std::string(90, '1'),
        "G1 X\xc3\xa4", "(umlaut in a comment: \xc3\xa4) G1 X3", "G1 X4 !"};
    FakeGrbl fake(Dialect::V11h);
    Job job(fake);
    EXPECT_FALSE(job.Start(file, kT0));
    EXPECT_FALSE(job.Active());
    std::vector<std::size_t> rows;
    for (const Notice& n : fake.notices) {
        EXPECT_EQ(n.kind, Notice::Refused);
        rows.push_back(n.row);
    }
    EXPECT_EQ(rows, (std::vector<std::size_t>{2, 3, 5}));
    EXPECT_TRUE(fake.taken.empty());
    EXPECT_EQ(fake.maxRx, 0u);
    EXPECT_EQ(NoticeText(fake.notices[0]).rfind("Job nicht gestartet: Zeile 3 ", 0), 0u);
}

TEST(Job, AnEmptyFileEndsOnceTheMachineIdles) {
    FileLines file;
    file.lines = {"", "; nothing", "%"};
    FakeGrbl fake(Dialect::V11h);
    Job job(fake);
    ASSERT_TRUE(job.Start(file, kT0));
    EXPECT_EQ(job.GetPhase(), Job::Phase::Finishing);
    job.LineReceived("<Idle|MPos:0.000,0.000,0.000>\r", At(200));
    EXPECT_TRUE(job.Active());
    job.LineReceived("<Idle|MPos:0.000,0.000,0.000>\r", At(400));
    EXPECT_FALSE(job.Active());
    EXPECT_EQ(job.Row(2), RowState::Skipped);
}

TEST(Job, StopResetsAnywayWhenTheControllerNeverReports) {
    FileLines file = TestFile();
    FakeGrbl fake(Dialect::V11h);
    Job job(fake);
    ASSERT_TRUE(job.Start(file, kT0));
    job.Stop(At(10));
    job.Tick(At(10) + Job::kStopWait - std::chrono::milliseconds(1));
    EXPECT_TRUE(job.Active());
    job.Tick(At(10) + Job::kStopWait);
    EXPECT_FALSE(job.Active());
    EXPECT_EQ(fake.realTime, "!" + kReset);
}

} // namespace

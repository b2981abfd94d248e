// The simulated controller's protocol, driven directly in machine time: what each version
// answers to what a console sends, and the buffer and planner rules a streaming sender
// relies on.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "GrblEngine.h"

namespace {

using grblsim::Dialect;
using grblsim::GrblEngine;

struct Exchange {
    double at;  // machine seconds
    std::string send;
    std::string reply;
};

struct Transcript {
    const char* name;
    Dialect dialect;
    std::vector<Exchange> steps;
};

const std::string kBanner09 = "\r\nGrbl 0.9j ['$' for help]\r\n";
const std::string kBanner11 = "\r\nGrbl 1.1h ['$' for help]\r\n";
const std::string kIdle09 = "<Idle,MPos:0.000,0.000,0.000,WPos:0.000,0.000,0.000>\r\n";

std::vector<Transcript> Transcripts() {
    using D = Dialect;
    return {
        {"connect", D::Grbl09j, {{0, "F100\r", "ok\r\n"}, {0, "?", kIdle09}, {0, "\r", "ok\r\n"}}},
        {"errors09",
         D::Grbl09j,
         {{0, "$H\r", "error: Setting disabled\r\n"},
          {0, "G2 X1\r", "error: Unsupported command\r\n"},
          {0, "G0 G1 X1\r", "error: Modal group violation\r\n"},
          {0, "G1 X1\r", "error: Undefined feed rate\r\n"},
          {0, "X1 X2\r", "error: Invalid gcode ID:25\r\n"},
          {0, "1\r", "error: Expected command letter\r\n"},
          {0, "$G1\r", "error: Invalid statement\r\n"},
          {0, "$Q\r", "error: Bad number format\r\n"},
          {0, "$J=X1 F100\r", "error: Bad number format\r\n"},  // no jogging before 1.1
          {0, std::string(90, 'X') + "\r", "error: Line overflow\r\n"}}},
        {"errors11",
         D::Grbl11h,
         {{0, "$H\r", "error:5\r\n"},
          {0, "G2 X1\r", "error:20\r\n"},
          {0, "G1 X1\r", "error:22\r\n"},
          {0, "$G1\r", "error:3\r\n"},
          {0, "$Q\r", "error:2\r\n"},
          {0, "$J X1 F100\r", "error:3\r\n"}}},
        {"queries09",
         D::Grbl09j,
         {{0, "$G\r", "[G0 G54 G17 G21 G90 G94 M0 M5 M9 T0 F0. S0.]\r\nok\r\n"},
          {0, "$I\r", "[0.9j.20160726:]\r\nok\r\n"},
          {0, "$N\r", "$N0=\r\n$N1=\r\nok\r\n"},
          {0, "$C\r", "[Enabled]\r\nok\r\n"},
          {0, "G0 X5\r", "ok\r\n"},
          {0, "$C\r", "[Disabled]\r\nok\r\n" + kBanner09},
          {0, "?", kIdle09}}},
        {"queries11",
         D::Grbl11h,
         {{0, "$G\r", "[GC:G0 G54 G17 G21 G90 G94 M5 M9 T0 F0 S0]\r\nok\r\n"},
          {0, "$I\r", "[VER:1.1h.20190830:]\r\n[OPT:V,15,128]\r\nok\r\n"},
          // Overrides, safety door, spindle stop and coolant toggles never reach a line.
          {0, "$\x90\x84\x85\x9e\xa0\xa1G\r",
           "[GC:G0 G54 G17 G21 G90 G94 M5 M9 T0 F0 S0]\r\nok\r\n"},
          {0, "$C\r", "[MSG:Enabled]\r\nok\r\n"}}},
        // 10 mm at 600 mm/min, limited to the 500 mm/min maximum, accelerating at 10 mm/s^2:
        // 1.25 mm (1.252 in whole steps) after 0.5 s, there after 2.03 s.
        {"motion09",
         D::Grbl09j,
         {{0, "G91 F600 G1 X10\r", "ok\r\n"},
          {0.5, "?", "<Run,MPos:1.252,0.000,0.000,WPos:1.252,0.000,0.000>\r\n"},
          {2.5, "?", "<Idle,MPos:10.000,0.000,0.000,WPos:10.000,0.000,0.000>\r\n"},
          {2.5, "G92 X0 Y0 Z0\r", "ok\r\n"},
          {2.5, "?", "<Idle,MPos:10.000,0.000,0.000,WPos:0.000,0.000,0.000>\r\n"}}},
        // A reset while moving loses the position: alarm, banner, and G-code is refused
        // until $X.
        {"abort09",
         D::Grbl09j,
         {{0, "G1 X10 F300\r", "ok\r\n"},
          {0.5, "!\r", "ok\r\n"},
          {0.5, "\x18",
           "ALARM: Abort during cycle\r\n" + kBanner09 + "['$H'|'$X' to unlock]\r\n"},
          {0.6, "F100\r", "error: Alarm lock\r\n"},
          {0.6, "$X\r", "[Caution: Unlocked]\r\nok\r\n"},
          {0.6, "F100\r", "ok\r\n"}}},
        {"abort11",
         D::Grbl11h,
         {{0, "G1 X10 F300\r", "ok\r\n"},
          {0.1, "$J=X1 F100\r", "error:8\r\n"},  // not while a job runs
          {0.5, "\x18", "ALARM:3\r\n" + kBanner11 + "[MSG:'$H'|'$X' to unlock]\r\n"},
          {0.6, "$J=X1 F100\r", "error:8\r\n"},  // nor in alarm
          {0.6, "$X\r", "[MSG:Caution: Unlocked]\r\nok\r\n"}}},
        // The work offset comes with the first report and again right after it changes;
        // overrides follow one report later.
        {"wco11",
         D::Grbl11h,
         {{0, "?", "<Idle|MPos:0.000,0.000,0.000|FS:0,0|WCO:0.000,0.000,0.000>\r\n"},
          {0, "?", "<Idle|MPos:0.000,0.000,0.000|FS:0,0|Ov:100,100,100>\r\n"},
          {0, "?", "<Idle|MPos:0.000,0.000,0.000|FS:0,0>\r\n"},
          {0, "G92 X-2.5\r", "ok\r\n"},
          {0, "?", "<Idle|MPos:0.000,0.000,0.000|FS:0,0|WCO:2.500,0.000,0.000>\r\n"},
          {0, "M3 S1200 G1 X1 F300\r", "ok\r\n"},
          {0.1, "?", "<Run|MPos:0.052,0.000,0.000|FS:60,1200>\r\n"}}},
        // Feed hold at 2 mm/s stops 0.2 mm further on; resume runs to the end.
        {"hold11",
         D::Grbl11h,
         {{0, "G1 X10 F300\r", "ok\r\n"},
          {0.2, "!", ""},
          {0.2, "?", "<Hold:1|MPos:0.200,0.000,0.000|FS:120,0|WCO:0.000,0.000,0.000>\r\n"},
          {2, "?", "<Hold:0|MPos:0.400,0.000,0.000|FS:0,0|Ov:100,100,100>\r\n"},
          {2, "~", ""},
          {10, "?", "<Idle|MPos:10.000,0.000,0.000|FS:0,0>\r\n"}}},
        // A jog runs like that move, locks out G-code, and a jog cancel stops it where the
        // hold would have: the rest is dropped and the parser keeps its modes.
        {"jog11",
         D::Grbl11h,
         {{0, "$J=G91 X10 F300\r", "ok\r\n"},
          {0, "$J=X1\r", "error:22\r\n"},
          {0, "$J=M3 X1 F100\r", "error:16\r\n"},
          {0, "G0 X0\r", "error:9\r\n"},
          {0.2, "?", "<Jog|MPos:0.200,0.000,0.000|FS:120,0|WCO:0.000,0.000,0.000>\r\n"},
          {0.2, "\x85", ""},
          {2, "?", "<Idle|MPos:0.400,0.000,0.000|FS:0,0|Ov:100,100,100>\r\n"},
          {2, "$G\r", "[GC:G0 G54 G17 G21 G90 G94 M5 M9 T0 F0 S0]\r\nok\r\n"},
          {2, "$J=G91 X1 F300\r", "ok\r\n"},
          {5, "?", "<Idle|MPos:1.400,0.000,0.000|FS:0,0>\r\n"}}},
        // G53 jogs in machine coordinates; a feed hold ends a jog as the jog cancel does.
        {"jogHold11",
         D::Grbl11h,
         {{0, "G92 Y-5\r", "ok\r\n"},
          {0, "$J=G53 Y1 F300\r", "ok\r\n"},
          {5, "?", "<Idle|MPos:0.000,1.000,0.000|FS:0,0|WCO:0.000,5.000,0.000>\r\n"},
          {5, "$J=G91 Y10 F300\r", "ok\r\n"},
          {5.2, "!", ""},
          {7, "?", "<Idle|MPos:0.000,1.400,0.000|FS:0,0|Ov:100,100,100>\r\n"}}},
    };
}

class TranscriptTest : public ::testing::TestWithParam<Transcript> {};

TEST_P(TranscriptTest, RepliesAsTheFirmwareDoes) {
    const Transcript& t = GetParam();
    GrblEngine engine(t.dialect);
    engine.Boot(0);
    EXPECT_EQ(engine.TakeOutput(), t.dialect == Dialect::Grbl09j ? kBanner09 : kBanner11);
    for (const Exchange& e : t.steps) {
        engine.Advance(e.at);
        (void)engine.TakeOutput();  // what became due before the request is not its answer
        engine.Receive(e.send, e.at);
        EXPECT_EQ(engine.TakeOutput(), e.reply) << "after sending " << testing::PrintToString(e.send)
                                                << " at " << e.at << " s";
    }
}

INSTANTIATE_TEST_SUITE_P(Dialects, TranscriptTest, ::testing::ValuesIn(Transcripts()),
                         [](const auto& info) { return std::string(info.param.name); });

int CountOks(const std::string& text) {
    int n = 0;
    for (std::size_t at = text.find("ok\r\n"); at != std::string::npos;
         at = text.find("ok\r\n", at + 1))
        ++n;
    return n;
}

// Short moves, sent as a sender that counts characters sends them: the first 15 fill the
// planner and are answered at once; the 16th is read but answered only when the first move
// ends; bytes beyond the 128-byte receive buffer are lost while the controller waits.
TEST(GrblEngine, AnswersAMoveWhenItIsPlannedAndDropsWhatOverflowsTheBuffer) {
    GrblEngine engine(Dialect::Grbl09j);
    engine.Boot(0);
    (void)engine.TakeOutput();
    for (int i = 1; i <= 16; ++i) engine.Receive("G1X" + std::to_string(i) + "F500\n", 0);
    EXPECT_EQ(CountOks(engine.TakeOutput()), 15);
    EXPECT_EQ(engine.GetState(), GrblEngine::State::Run);

    engine.Receive(std::string(200, ' '), 0);
    EXPECT_EQ(engine.RxBufferUsed(), GrblEngine::kRxBufferSize);

    const double firstEnds = engine.NextEvent();
    ASSERT_GT(firstEnds, 0);
    engine.Advance(firstEnds * 0.99);
    EXPECT_EQ(CountOks(engine.TakeOutput()), 0);
    engine.Advance(firstEnds);
    EXPECT_EQ(CountOks(engine.TakeOutput()), 1);

    // Everything runs to its end without a client asking.
    for (double next = engine.NextEvent(); next >= 0; next = engine.NextEvent())
        engine.Advance(next);
    EXPECT_EQ(engine.GetState(), GrblEngine::State::Idle);
    EXPECT_DOUBLE_EQ(engine.MachinePosition()[0], 16.0);
}

// A jog cancel drops every queued jog block and the jog line that waited for the planner;
// that line is still answered, so a sender counting characters stays in step.
TEST(GrblEngine, CancelsQueuedJogsAndAnswersTheOneThatWaited) {
    GrblEngine engine(Dialect::Grbl11h);
    engine.Boot(0);
    (void)engine.TakeOutput();
    for (int i = 0; i < 16; ++i) engine.Receive("$J=G91X1F500\n", 0);
    EXPECT_EQ(CountOks(engine.TakeOutput()), 15);

    engine.Receive("\x85", 0.1);
    for (double next = engine.NextEvent(); next >= 0; next = engine.NextEvent())
        engine.Advance(next);
    EXPECT_EQ(engine.TakeOutput(), "ok\r\n");
    EXPECT_EQ(engine.GetState(), GrblEngine::State::Idle);
    EXPECT_NEAR(engine.MachinePosition()[0], 0.1, 1e-9);  // 1 mm/s after 0.1 s, stopping
}

// A dwell waits for the moves before it, then for its own time.
TEST(GrblEngine, AnswersADwellWhenItHasPassed) {
    GrblEngine engine(Dialect::Grbl11h);
    engine.Boot(0);
    (void)engine.TakeOutput();
    engine.Receive("G4 P1.5\n", 0);
    EXPECT_EQ(engine.TakeOutput(), "");
    EXPECT_DOUBLE_EQ(engine.NextEvent(), 1.5);
    engine.Advance(1.5);
    EXPECT_EQ(engine.TakeOutput(), "ok\r\n");
}

}  // namespace

// The simulated controller's protocol, driven directly in machine time: what each version
// answers to what a console sends, and the buffer and planner rules a streaming sender
// relies on.

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <string>
#include <vector>

#include "ProcessLocale.h"
#include "GrblEngine.h"

namespace {

using grblsim::Dialect;
using grblsim::GrblEngine;
using grblsim::Vec3;

// A decimal-comma locale for the span of a test, the old one restored after it.
class GermanLocale : public testsupport::ProcessLocaleScope {
public:
    GermanLocale() : ProcessLocaleScope(testsupport::kGermanLocale) {}
    bool Active() const { return Switched(); }
};

struct Exchange {
    double at; // machine seconds
    std::string send;
    std::string reply;
};

struct Transcript {
    const char* name;
    Dialect dialect;
    std::vector<Exchange> steps;
    double probeZ = std::nan(""); // the work surface's machine Z, if there is one
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
          {0, "G2 X1\r", "error: Undefined feed rate\r\n"},
          {0, "G2 X1 F100\r", "error: Invalid gcode ID:35\r\n"},
          {0, "G5\r", "error: Unsupported command\r\n"},
          {0, "G0 G1 X1\r", "error: Invalid gcode ID:24\r\n"}, // two owners of the axis words
          {0, "G17 G18\r", "error: Modal group violation\r\n"},
          {0, "G1 X1\r", "error: Undefined feed rate\r\n"},
          {0, "X1 X2\r", "error: Invalid gcode ID:25\r\n"},
          {0, "1\r", "error: Expected command letter\r\n"},
          {0, "$G1\r", "error: Invalid statement\r\n"},
          {0, "$Q\r", "error: Bad number format\r\n"},
          {0, "$J=X1 F100\r", "error: Bad number format\r\n"}, // no jogging before 1.1
          // 0.9j answers at the 80th character and reads the rest as a line of its own.
          {0, std::string(90, 'X') + "\r",
           "error: Line overflow\r\nerror: Bad number format\r\n"}}},
        {"errors11",
         D::Grbl11h,
         {{0, "$H\r", "error:5\r\n"},
          {0, "G2 X1\r", "error:22\r\n"},
          {0, "G0 G1 X1\r", "error:24\r\n"},
          {0, "G17 G18\r", "error:21\r\n"},
          {0, "G4\r", "error:28\r\n"},
          {0, std::string(90, 'X') + "\r", "error:11\r\n"},
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
          {0.5, "\x18", "ALARM: Abort during cycle\r\n"},
          // Half a second of silence: what comes meanwhile is lost.
          {0.9, "F100\r?", ""},
          {1.0, "F100\r", kBanner09 + "['$H'|'$X' to unlock]\r\nerror: Alarm lock\r\n"},
          {1.0, "$X\r", "[Caution: Unlocked]\r\nok\r\n"},
          {1.0, "F100\r", "ok\r\n"}}},
        {"abort11",
         D::Grbl11h,
         {{0, "G1 X10 F300\r", "ok\r\n"},
          {0.1, "$J=X1 F100\r", "error:8\r\n"}, // not while a job runs
          {0.5, "\x18", "ALARM:3\r\n"},
          {1.0, "$J=X1 F100\r", kBanner11 + "[MSG:'$H'|'$X' to unlock]\r\nerror:8\r\n"},
          {1.0, "$X\r", "[MSG:Caution: Unlocked]\r\nok\r\n"}}},
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
        // Offsets and settings memory: G10, G28.1 and the G92 offset in $#; startup lines run
        // after every reset; $RST=* forgets it all.
        {"memory11",
         D::Grbl11h,
         {{0, "G10 L2 P2 X1 Y2 Z3\r", "ok\r\n"},
          {0, "G92 X-1\r", "ok\r\n"},
          {0, "$#\r",
           "[G54:0.000,0.000,0.000]\r\n[G55:1.000,2.000,3.000]\r\n[G56:0.000,0.000,0.000]\r\n"
           "[G57:0.000,0.000,0.000]\r\n[G58:0.000,0.000,0.000]\r\n[G59:0.000,0.000,0.000]\r\n"
           "[G28:0.000,0.000,0.000]\r\n[G30:0.000,0.000,0.000]\r\n[G92:1.000,0.000,0.000]\r\n"
           "[TLO:0.000]\r\n[PRB:0.000,0.000,0.000:0]\r\nok\r\n"},
          {0, "$N0=G20G55\r", "ok\r\n"},
          {0, "$N1=G5\r", "error:20\r\n"},
          {0, "$N\r", "$N0=G20G55\r\n$N1=\r\nok\r\n"},
          {0, "\x18", kBanner11 + ">G20G55:ok\r\n"},
          {0, "$G\r", "[GC:G0 G55 G17 G20 G90 G94 M5 M9 T0 F0 S0]\r\nok\r\n"},
          {0, "?", "<Idle|MPos:0.000,0.000,0.000|FS:0,0|WCO:1.000,2.000,3.000>\r\n"},
          {0, "$12=0.5\r", "ok\r\n"},
          {0, "$RST=*\r", "[MSG:Restoring defaults]\r\nok\r\n" + kBanner11},
          {0, "$N\r", "$N0=\r\n$N1=\r\nok\r\n"},
          {0, "$RST=x\r", "error:3\r\n"}}},
        {"startup09",
         D::Grbl09j,
         {{0, "$N0=G91\r", "ok\r\n"},
          {0, "\x18", kBanner09 + "G91ok\r\n"},
          {0, "$G\r", "[G0 G54 G17 G21 G91 G94 M0 M5 M9 T0 F0. S0.]\r\nok\r\n"}}},
        // Check mode parses everything and moves nothing; leaving it resets.
        {"check11",
         D::Grbl11h,
         {{0, "$C\r", "[MSG:Enabled]\r\nok\r\n"},
          {0, "G2 X10 I5 F100\r", "ok\r\n"},
          {0, "G2 X0 I1\r", "error:33\r\n"},
          {0, "G38.2 Z-1 M0\r", "ok\r\n"},
          {0, "M30\r", "[MSG:Pgm End]\r\nok\r\n"},
          {0, "?", "<Check|MPos:0.000,0.000,0.000|FS:0,0|WCO:0.000,0.000,0.000>\r\n"},
          {0, "$C\r", "[MSG:Disabled]\r\nok\r\n" + kBanner11}}},
        // A program pause holds after the moves before it until cycle start; its line is
        // answered then.
        {"pause11",
         D::Grbl11h,
         {{0, "G1 X1 F600 M0\r", ""},
          {1, "?", "<Hold:0|MPos:1.000,0.000,0.000|FS:0,0|WCO:0.000,0.000,0.000>\r\n"},
          {1, "~", "ok\r\n"},
          {1, "?", "<Idle|MPos:1.000,0.000,0.000|FS:0,0|Ov:100,100,100>\r\n"}}},
        // Probing a surface at Z -2: at 2 mm/s the machine stops 0.2 mm past the contact;
        // a probe that starts touching, or touches nothing, raises its alarm.
        {"probe11",
         D::Grbl11h,
         {{0, "G38.2 Z-5 F120\r", ""},
          {2, "?",
           "[PRB:0.000,0.000,-2.000:1]\r\nok\r\n"
           "<Idle|MPos:0.000,0.000,-2.200|FS:0,0|WCO:0.000,0.000,0.000>\r\n"},
          {2, "G38.2 Z-3\r", "ALARM:4\r\nok\r\n"},
          {2, "G0 Z0\r", "error:9\r\n"},
          {2, "$X\r", "[MSG:Caution: Unlocked]\r\nok\r\n"},
          {2, "G38.4 Z0\r", ""},
          {4, "?",
           "[PRB:0.000,0.000,-2.000:1]\r\nok\r\n"
           "<Idle|MPos:0.000,0.000,-1.800|FS:0,0|Ov:100,100,100>\r\n"},
          {4, "G38.3 Z-1\r", ""},
          {6, "G38.2 Z0\r", "[PRB:0.000,0.000,-1.000:0]\r\nok\r\n"},
          {8, "$G\r",
           "ALARM:5\r\n[PRB:0.000,0.000,-1.000:0]\r\nok\r\n"
           "[GC:G38.2 G54 G17 G21 G90 G94 M5 M9 T0 F120 S0]\r\nok\r\n"}},
         -2.0},
        {"probe09",
         D::Grbl09j,
         {{0, "G38.2 Z-1 F120\r", ""},
          {2, "?",
           "ALARM: Probe fail\r\n[PRB:0.000,0.000,0.000:0]\r\nok\r\n"
           "<Alarm,MPos:0.000,0.000,-1.000,WPos:0.000,0.000,-1.000>\r\n"}}},
    };
}

class TranscriptTest : public ::testing::TestWithParam<Transcript> {};

TEST_P(TranscriptTest, RepliesAsTheFirmwareDoes) {
    const Transcript& t = GetParam();
    GrblEngine engine(t.dialect);
    if (!std::isnan(t.probeZ)) engine.SetProbeSurface(t.probeZ);
    engine.Boot(0);
    EXPECT_EQ(engine.TakeOutput(), t.dialect == Dialect::Grbl09j ? kBanner09 : kBanner11);
    for (const Exchange& e : t.steps) {
        // What became due since the last request comes first.
        engine.Advance(e.at);
        std::string got = engine.TakeOutput();
        engine.Receive(e.send, e.at);
        got += engine.TakeOutput();
        EXPECT_EQ(got, e.reply) << "after sending " << testing::PrintToString(e.send) << " at "
                                << e.at << " s";
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

// Short moves, sent as a sender that counts characters sends them: as many as the planner
// holds (17 blocks in 0.9j, 15 in 1.1h) are answered at once; the next is read but answered
// only when the first move ends; bytes beyond the 128-byte receive buffer are lost while the
// controller waits.
TEST(GrblEngine, AnswersAMoveWhenItIsPlannedAndDropsWhatOverflowsTheBuffer) {
    for (const auto& [dialect, depth] :
         {std::pair{Dialect::Grbl09j, 17}, std::pair{Dialect::Grbl11h, 15}}) {
        GrblEngine engine(dialect);
        engine.Boot(0);
        (void)engine.TakeOutput();
        for (int i = 1; i <= depth + 1; ++i)
            engine.Receive("G1X" + std::to_string(i) + "F500\n", 0);
        EXPECT_EQ(CountOks(engine.TakeOutput()), depth);
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
        EXPECT_DOUBLE_EQ(engine.MachinePosition()[0], depth + 1.0);
    }
}

// A jog cancel drops every queued jog block and the jog line that waited for the planner;
// that line is still answered, so a sender counting characters stays in step.
TEST(GrblEngine, CancelsQueuedJogsAndAnswersTheOneThatWaited) {
    GrblEngine engine(Dialect::Grbl11h);
    engine.Boot(0);
    (void)engine.TakeOutput();
    for (int i = 0; i < 16; ++i)
        engine.Receive("$J=G91X1F500\n", 0);
    EXPECT_EQ(CountOks(engine.TakeOutput()), 15);

    engine.Receive("\x85", 0.1);
    for (double next = engine.NextEvent(); next >= 0; next = engine.NextEvent())
        engine.Advance(next);
    EXPECT_EQ(engine.TakeOutput(), "ok\r\n");
    EXPECT_EQ(engine.GetState(), GrblEngine::State::Idle);
    EXPECT_NEAR(engine.MachinePosition()[0], 0.1, 1e-9); // 1 mm/s after 0.1 s, stopping
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

} // namespace

namespace {

// Sends `lines` as a sender that waits for each answer, letting machine time run between;
// returns the replies and the machine time when the last answer came.
int CountAnswers(const std::string& text) {
    int n = CountOks(text);
    for (std::size_t at = text.find("error"); at != std::string::npos;
         at = text.find("error", at + 1))
        ++n;
    return n;
}

std::string Stream(GrblEngine& engine, const std::vector<std::string>& lines, double& t) {
    std::string replies;
    for (const std::string& line : lines) {
        const int answered = CountAnswers(replies);
        engine.Receive(line + "\n", t);
        for (;;) {
            replies += engine.TakeOutput();
            if (CountAnswers(replies) > answered) break;
            const double next = engine.NextEvent();
            if (next < 0) break; // nothing would ever answer: the caller's checks fail
            t = next;
            engine.Advance(t);
        }
    }
    return replies;
}

// A small CAM-style program with arcs in every plane, inches, offsets and a dwell: every line
// is accepted, the machine ends where the program leaves it, and it takes at least the time
// its feeds allow.
TEST(GrblEngine, RunsACamFileWithArcsToItsEnd) {
    const GermanLocale german; // every number read and written stays locale-free
    ASSERT_TRUE(german.Active()) << "the de_DE.UTF-8 locale is not generated here";
    const std::vector<std::string> program = {"%",
                                              "(pocket)",
                                              "G21 G90 G17 G94 G54",
                                              "G10 L2 P1 X10 Y10 Z0",
                                              "M3 S10000",
                                              "G0 Z5",
                                              "G0 X0 Y0",
                                              "G1 Z-1 F120",
                                              "G2 X10 Y0 I5 J0 F600",
                                              "G3 X0 Y0 R5",
                                              "G2 X0 Y0 I5 J0",
                                              "G18 G2 X10 Z-1 I5 K0",
                                              "G17 G91 G1 X-5 Y5",
                                              "G90 G4 P0.2",
                                              "G20 G0 Z0.5",
                                              "M5 M30"};
    for (const Dialect d : {Dialect::Grbl09j, Dialect::Grbl11h}) {
        GrblEngine engine(d);
        engine.Boot(0);
        (void)engine.TakeOutput();
        double t = 0;
        std::vector<std::string> withoutPercent(program.begin() + 1, program.end());
        const std::string replies = Stream(engine, withoutPercent, t);
        EXPECT_EQ(replies.find("error"), std::string::npos) << replies;
        EXPECT_EQ(CountOks(replies), static_cast<int>(withoutPercent.size()));
        EXPECT_NE(replies.find("Pgm End"), std::string::npos);
        // Work (5, 5, 12.7) plus the G54 offset.
        const Vec3 end = engine.MachinePosition();
        EXPECT_NEAR(end[0], 15, 1e-9);
        EXPECT_NEAR(end[1], 15, 1e-9);
        EXPECT_NEAR(end[2], 12.7, 1e-9);
        EXPECT_EQ(engine.GetState(), GrblEngine::State::Idle);
        // Three half and full circles of 5 mm radius at 600 mm/min take 0.5 s per half turn
        // at least, the rapids at 500 mm/min and the dwell on top.
        EXPECT_GT(t, 5 * 3.1416 * 5 / 10.0);
        EXPECT_LT(t, 60);
    }
}

// The settings memory outlives a power-up (a client opening the port); the G92 offset and
// the position do not.
TEST(GrblEngine, KeepsItsSettingsMemoryAcrossPowerUps) {
    GrblEngine engine(Dialect::Grbl11h);
    engine.Boot(0);
    double t = 0;
    Stream(engine, {"$110=1000", "G10L2P1X3", "$N0=G20", "G21", "G92X7", "G0X1"}, t);
    for (double next = engine.NextEvent(); next >= 0; next = engine.NextEvent())
        engine.Advance(next);
    engine.Boot(t + 1);
    EXPECT_EQ(engine.TakeOutput(), "\r\nGrbl 1.1h ['$' for help]\r\n>G20:ok\r\n");
    EXPECT_EQ(engine.MachinePosition(), (Vec3{}));
    const std::string replies = Stream(engine, {"$$", "$#"}, t);
    EXPECT_NE(replies.find("$110=1000.000\r\n"), std::string::npos);
    EXPECT_NE(replies.find("[G54:3.000,0.000,0.000]"), std::string::npos);
    EXPECT_NE(replies.find("[G92:0.000,0.000,0.000]"), std::string::npos);
}

} // namespace

namespace {

// The machine follows GRBL's planner on arcs and short segments too: a full circle at 300
// mm/min keeps its feed through the gentle corners of its 111 chords (ramps only at its ends);
// a line of 0.1 mm segments runs only as fast as the blocks in the planner allow stopping
// within, sqrt(2 a (depth - 1) 0.1 mm), less in 1.1h (15 blocks) than in 0.9j (17).
TEST(GrblEngine, FollowsThePlannerOnArcsAndShortSegments) {
    {
        GrblEngine engine(Dialect::Grbl11h);
        engine.Boot(0);
        double t = 0;
        Stream(engine, {"G2 X0 Y0 I5 F300"}, t);
        for (double next = engine.NextEvent(); next >= 0; next = engine.NextEvent()) {
            t = next;
            engine.Advance(next);
        }
        const double chords = 111 * 2 * 5 * std::sin(3.14159265358979 / 111);
        EXPECT_NEAR(t, (chords - 2.5) / 5 + 1.0, 0.01); // 0.5 s and 1.25 mm for each ramp
    }
    for (const auto& [dialect, depth] :
         {std::pair{Dialect::Grbl09j, 17}, std::pair{Dialect::Grbl11h, 15}}) {
        GrblEngine engine(dialect);
        engine.Boot(0);
        double t = 0;
        Stream(engine, {"G91"}, t);
        // Once the planner is full each line is answered as a block ends: in the steady
        // middle of the line, between the 40th and the 80th answer.
        double t40 = 0, x40 = 0;
        for (int i = 1; i <= 100; ++i) {
            Stream(engine, {"G1 X0.1 F600"}, t);
            if (i == 40) {
                t40 = t;
                x40 = engine.MachinePosition()[0];
            }
            if (i == 80) {
                const double speed = (engine.MachinePosition()[0] - x40) / (t - t40);
                const double expected = std::sqrt(2 * 10 * (depth - 1) * 0.1); // mm/s
                EXPECT_GT(speed, expected * 0.99) << "depth " << depth;
                EXPECT_LT(speed, expected * 1.03) << "depth " << depth;
            }
        }
    }
}

} // namespace

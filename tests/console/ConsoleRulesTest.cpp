// The console's rules, without a window: status reports, channel texts, connection states
// and the gate that keeps the poll from stacking error reports.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <ostream>
#include <stdexcept>
#include <string>

#include "ChannelText.h"
#include "ConnectionView.h"
#include "ReportGate.h"
#include "StatusReport.h"

// Readable failures: the five texts, not the object's bytes.
static void PrintTo(const TStatusTexts& t, std::ostream* os) {
    *os << '{' << t.State1 << '|' << t.State2 << '|' << t.X << '|' << t.Y << '|' << t.Z << '}';
}

namespace {

const TStatusTexts kStart{" ----- ", " ----- ", " ----- ", " ----- ", " ----- "};

struct StatusCase {
    const char* what;
    TStatusTexts before;
    std::string line;
    TStatusTexts after;
};

TEST(StatusReport, EveryLineGivesItsDefinedTexts) {
    const TStatusTexts busy{"Busy", "Busy", "9", "9", "9"};
    const StatusCase cases[] = {
        {"worked example", kStart, "<Idle,MPos:1.000,2.000,3.000,WPos:1.000,2.000,3.000>\r",
         {"Idle", "Idle", "1,000", "2,000", "3,000"}},
        {"running", kStart, "<Run,MPos:5.000,0.000,-1.500,WPos:5.000,0.000,-1.500>\r",
         {"Busy", "Busy", "5,000", "0,000", "-1,500"}},
        {"unknown state keeps the state", busy,
         "<Hold,MPos:0.000,0.000,0.000,WPos:2.500,0.000,0.000>\r",
         {"Busy", "Busy", "2,500", "0,000", "0,000"}},
        {"unknown state at start", kStart,
         "<Hold,MPos:0.000,0.000,0.000,WPos:2.500,0.000,0.000>\r",
         {" ----- ", " ----- ", "2,500", "0,000", "0,000"}},
        {"fields after the position", kStart,
         "<Idle,MPos:0.000,0.000,0.000,WPos:0.000,0.000,0.000,Buf:0,RX:0>\r",
         {"Idle", "Idle", "0,000", "0,000", "0,000,Buf:0,RX:0"}},
        {"no W", busy, "<Idle>\r", {"Idle", "Idle", "", "", "e"}},
        {"no >", kStart, "<Idle,MPos:1,2,3,WPos:1.5,2.5,3.5\r",
         {"Idle", "Idle", "1,5", "2,5", ""}},
        {"< alone", busy, "<", {"Busy", "Busy", "", "", ""}},
        {"more digits", kStart, "<Run,MPos:0,0,0,WPos:-123.4567,0.1,7>",
         {"Busy", "Busy", "-123,4567", "0,1", "7"}},
        {"case counts", busy, "<idle,WPos:1,2,3>", {"Busy", "Busy", "1", "2", "3"}},
        {"one comma only", kStart, "<Run,WPos:4.2,5>", {"Busy", "Busy", "4,2", "", "4,2,5"}},
        {"a bar after the > is no bar form", kStart,
         "<Idle,MPos:0.000,0.000,0.000,WPos:1.000,2.000,3.000>|\r",
         {"Idle", "Idle", "1,000", "2,000", "3,000"}},
    };
    for (const StatusCase& c : cases) {
        // A comma report neither reads nor changes a kept offset.
        TWorkOffset offset{{100, 200, 300}, true};
        EXPECT_EQ(ParseStatusReport(c.before, c.line, offset), c.after) << c.what;
        EXPECT_EQ(offset.Axes[0], 100) << c.what;
    }
}

// GRBL 1.1 reports one after another, the offset carried from line to line.
TEST(StatusReport, BarReportsShowTheWorkPosition) {
    const TStatusTexts idle0{"Idle", "Idle", "0,000", "0,000", "0,000"};
    const StatusCase steps[] = {
        {"no offset yet: positions stay", kStart, "<Idle|MPos:1.000,2.000,3.000|FS:0,0>\r",
         {"Idle", "Idle", " ----- ", " ----- ", " ----- "}},
        {"offset arrives", kStart,
         "<Idle|MPos:1.000,2.000,3.000|FS:0,0|WCO:1.000,-2.000,0.500>\r",
         {"Idle", "Idle", "0,000", "4,000", "2,500"}},
        {"offset kept", idle0, "<Jog|MPos:11.000,2.000,3.000|FS:1000,0|Ov:100,100,100>\r",
         {"Busy", "Busy", "10,000", "4,000", "2,500"}},
        {"every place kept", idle0, "<Run|MPos:0.99999999,-2.000,0.500|FS:0,0>",
         {"Busy", "Busy", "-0,00000001", "0,000", "0,000"}},
        {"inches keep four places", idle0, "<Hold:0|MPos:1.2345,2.000,0.5|FS:0,0>",
         {"Idle", "Idle", "0,2345", "4,000", "0,000"}},
        {"WPos as reported", idle0, "<Idle|WPos:-1.500,2.000,3.000|FS:0,0>",
         {"Idle", "Idle", "-1,500", "2,000", "3,000"}},
        {"more axes: X, Y, Z", idle0, "<Idle|WPos:1.000,2.000,3.000,4.000|FS:0,0>",
         {"Idle", "Idle", "1,000", "2,000", "3,000"}},
        {"garbled position stays", idle0, "<Run|MPos:1.0x0,2.000,3.000|FS:0,0>",
         {"Busy", "Busy", "0,000", "0,000", "0,000"}},
        {"two axes only", idle0, "<Idle|MPos:5.000,6.000|FS:0,0>", idle0},
        {"cut off before >", idle0, "<Alarm|MPos:5.000,6.000,7.000\r", idle0},
        {"garbled offset ignored", idle0, "<Idle|MPos:1.000,-2.000,0.500|WCO:a,b,c>", idle0},
        {"Jog is no state in the comma form", idle0, "<Jog,MPos:0,0,0,WPos:0,0,0>",
         {"Idle", "Idle", "0", "0", "0"}},
        {"the offset's places count", idle0, "<Idle|MPos:0,0.25,-1|WCO:0.5,0,0.125>",
         {"Idle", "Idle", "-0,5", "0,25", "-1,125"}},
        {"no negative zero", idle0, "<Idle|MPos:-0.000,0,0|WCO:0.000,0,0>",
         {"Idle", "Idle", "0,000", "0", "0"}},
    };
    TWorkOffset offset;
    for (const StatusCase& c : steps)
        EXPECT_EQ(ParseStatusReport(c.before, c.line, offset), c.after) << c.what;
}

TEST(StatusReport, OnlyTwoHundredCharactersAfterTheTagCount) {
    const std::string longX(300, '1');
    TWorkOffset offset;
    const TStatusTexts shown =
        ParseStatusReport(kStart, "<Idle,WPos:" + longX + ",2,3>", offset);
    EXPECT_EQ(shown.X, "");  // no comma within reach
    EXPECT_EQ(shown.Z, "");
}

TEST(ChannelText, WireAndMonitorForms) {
    EXPECT_EQ(WireLine("$$"), "$$\r");
    EXPECT_EQ(WireLine(""), "\r");
    EXPECT_EQ(MonitorEntry("F100"), "F100\r\n");

    const struct {
        std::string line;
        bool status;
    } routes[] = {{"<Idle>", true}, {"<", true}, {"", false}, {" <Idle>", false}, {"ok\r", false}};
    for (const auto& r : routes) EXPECT_EQ(IsStatusReport(r.line), r.status) << r.line;

    const struct {
        std::string entry, shown;
    } lines[] = {
        {"ok\r\r\n", "ok\n"},           // the controller's CR before the logged CR LF
        {"\r\n", "\n"},                 // a bare LF received
        {"a\rb\r\n", "a\nb\n"},         // a lone CR breaks the line
        {"a\nb", "a\nb"},
        {std::string("\0x\xff\r\n", 5), std::string("\0x\xff\n", 4)},  // every byte kept
    };
    for (const auto& l : lines) EXPECT_EQ(MonitorLines(l.entry), l.shown);
}

TEST(ChannelText, ATypedLineGoesOutOnlyAsOnePrintableAsciiLineThatFits) {
    const struct {
        std::string typed;
        const char* refused;  // what the message names, or null: sent unchanged
    } cases[] = {
        {"G0 X-5 (ok?) ~!", nullptr},
        {"", nullptr},
        {"G0 X\u22125", "\"\u2212\""},          // typographic minus
        {"G0\u00a0X10", "\"\u00a0\""},         // no-break space
        {"(Fr\u00e4sen) G0", "\"\u00e4\""},
        {"G1 X1 \U0001F600", "\"\U0001F600\""},
        {"G0 X10\r\nG0 Y20", "0x0D"},           // pasted with its line break
        {"G0 Y20\n", "0x0A"},
        {"G0 X1\x18", "0x18"},                   // would reset the controller
        {std::string("G0\0X1", 5), "0x00"},
        {"G0\tX1", "0x09"},
        {"G0 X1\x7f", "0x7F"},
        {std::string(79, 'G'), nullptr},         // the controller's line buffer, full
        {std::string(80, 'G'), "80 characters"},
    };
    for (const auto& c : cases) {
        if (!c.refused) {
            EXPECT_EQ(TypedLine(c.typed), c.typed);
            continue;
        }
        try {
            TypedLine(c.typed);
            ADD_FAILURE() << c.typed << " was let through";
        } catch (const Exception& e) {
            EXPECT_NE(e.Message().find(c.refused), std::string::npos) << e.Message();
        }
    }
}

TEST(ConnectionView, OnlyAGreetedLinkTakesCommandsAndAnOpenOneCanBeClosed) {
    EXPECT_EQ(ConnectionViewFor(TLinkPhase::Ready),
              (TConnectionView{"Disconnect", true, true, true, true, true}));
    EXPECT_EQ(ConnectionViewFor(TLinkPhase::Greeting),
              (TConnectionView{"Disconnect", true, false, false, false, false}));
    EXPECT_EQ(ConnectionViewFor(TLinkPhase::Closed),
              (TConnectionView{"Connect", false, false, false, false, false}));
}

TEST(ConnectionView, TheGreetingIsTheLineThatBeginsWithGrbl) {
    const struct {
        std::string line;
        bool greeting;
    } cases[] = {
        {"Grbl 0.9j ['$' for help]\r", true},
        {"Grbl 1.1h ['$' for help]\r", true},
        {std::string("\0\xff\x80Grbl 1.1h ['$' for help]\r", 28), true},  // reset noise first
        {"\r", false},
        {"Grbl", false},
        {"Grbl1.1h", false},
        {"grbl 1.1h", false},
        {" Grbl 1.1h", false},  // printable: not noise, so not a greeting
        {"[MSG:Grbl 1.1h]", false},
        {"ok\r", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsGreeting(c.line), c.greeting) << c.line;
}

TEST(ConnectionView, AGoneDeviceIsToldInPlainWordsWithTheSystemsDescription) {
    for (const int gone : {EIO, ENXIO, ENODEV}) EXPECT_TRUE(IsDeviceGone(gone)) << gone;
    for (const int other : {0, -1, EAGAIN, ETIMEDOUT, EBUSY, EACCES, ENOENT})
        EXPECT_FALSE(IsDeviceGone(other)) << other;
    // The system's text in whatever language the process runs in.
    const std::string message = LinkLostMessage("/dev/ttyUSB0", ENXIO);
    EXPECT_EQ(message, "The connection to /dev/ttyUSB0 was lost: " +
                           std::string(std::strerror(ENXIO)) +
                           ". Check the cable and the controller, then connect again.");
}

TEST(ReportGate, ARunWhileItsReportIsOnScreenIsSkipped) {
    TReportGate gate;
    int runs = 0, reports = 0, runsDuringReport = 0;
    framework::SetDefaultErrorReport([&](const std::string& message) {
        ++reports;
        EXPECT_EQ(message, "gone");
        EXPECT_TRUE(gate.ReportOnScreen());
        // What the modal report's own event loop would do: the action fires again.
        const int before = runs;
        gate.Run([&] { ++runs; });
        runsDuringReport += runs - before;
    });
    gate.Run([&] { ++runs; throw std::runtime_error("gone"); });
    EXPECT_EQ(reports, 1);
    EXPECT_EQ(runsDuringReport, 0);
    EXPECT_FALSE(gate.ReportOnScreen());
    gate.Run([&] { ++runs; });  // dismissed: the action runs again
    EXPECT_EQ(runs, 2);
    framework::SetDefaultErrorReport(nullptr);
}

TEST(ReportGate, AFailureIsReportedOnceUntilASuccessOrARearm) {
    TReportGate gate;
    int reports = 0;
    framework::SetDefaultErrorReport([&](const std::string&) { ++reports; });
    enum Step { Fail, Succeed, Rearm };
    const struct {
        Step step;
        int reports;  // so far
    } steps[] = {{Fail, 1},    {Fail, 1}, {Fail, 1}, {Succeed, 1}, {Fail, 2},
                 {Rearm, 2},   {Fail, 3}, {Fail, 3}, {Rearm, 3},   {Succeed, 3}, {Fail, 4}};
    int runs = 0;
    for (const auto& s : steps) {
        if (s.step == Rearm)
            gate.Rearm();
        else
            gate.Run([&, fail = s.step == Fail] {
                ++runs;
                if (fail) throw std::runtime_error("gone");
            });
        EXPECT_EQ(reports, s.reports) << "after step " << &s - steps;
    }
    EXPECT_EQ(runs, 9);  // failures that are not reported still try again
    framework::SetDefaultErrorReport(nullptr);
}

}  // namespace

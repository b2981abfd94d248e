// The rules for one line of a job: cleaning, the checks before a start, settings writes and
// what a controller line is.
#include <gtest/gtest.h>

#include "GrblTexts.h"
#include "Job.h"
#include "JobLine.h"

using namespace job;

TEST(JobLine, CleanLine) {
    struct Case {
        const char* raw;
        const char* cleaned;
    } cases[] = {
        {"G1 X10 Y5 ; move to start", "G1X10Y5"},
        {"  G0\tX0 (rapid) Y1 ", "G0X0Y1"},
        {"(only a comment)", ""},
        {"G1 X1 (unclosed comment", "G1X1"},
        {"; whole line", ""},
        {"", ""},
        {"   \t ", ""},
        {"%", ""},
        {" % ", ""},
        {"G1 X1 % Y2", "G1X1%Y2"},
        {"$100 = 250", "$100=250"},
        {"G1 X1\r", "G1X1"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CleanLine(c.raw), c.cleaned) << c.raw;
}

TEST(JobLine, CheckLine) {
    const ControllerLimits limits;
    const std::string longest(limits.longestLine, 'X');
    struct Case {
        std::string cleaned;
        std::optional<LineFault> fault;
    } cases[] = {
        {"G1X10", std::nullopt},
        {longest, std::nullopt},
        {longest + "1", LineFault::TooLong},
        {"G1X\xc3\xa4", LineFault::NotAscii},
        {"G1X\x01", LineFault::NotAscii},
        {"G1X\x7f", LineFault::NotAscii},
        {"G1X1!", LineFault::RealTimeByte},
        {"G1~X1", LineFault::RealTimeByte},
        {"?", LineFault::RealTimeByte},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CheckLine(c.cleaned, limits), c.fault) << c.cleaned;
}

TEST(JobLine, WritesSettings) {
    struct Case {
        const char* cleaned;
        bool settings;
    } cases[] = {
        {"$100=250", true},   {"$n0=G54", true},       {"$N", true},         {"$RST=*", true},
        {"$I=machine", true}, {"$J=G91X1F100", false}, {"$H", false},        {"$X", false},
        {"$$", false},        {"G10L2P1X0", true},     {"G10L20P1X0", true}, {"g10l20p0x0", true},
        {"G10L1P1Z2", false}, {"G10", false},          {"G28.1", true},      {"G30.1", true},
        {"G28", false},       {"G30", false},          {"G1X28.1", false},   {"G0L2", false},
        {"G1X10L20", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(WritesSettings(c.cleaned), c.settings) << c.cleaned;
}

TEST(JobLine, ClassifyReply) {
    struct Case {
        const char* line;
        ReplyKind kind;
        int code;
    } cases[] = {
        {"ok\r", ReplyKind::Ok, 0},
        {"ok", ReplyKind::Ok, 0},
        {"okay", ReplyKind::Other, 0},
        {"error:20\r", ReplyKind::Error, 20},
        {"error: Unsupported command\r", ReplyKind::Error, 20},
        {"error: Invalid gcode ID:33\r", ReplyKind::Error, 33},
        {"error: Bad number format", ReplyKind::Error, 2},
        {"error: something new", ReplyKind::Error, 0},
        {"ALARM:1\r", ReplyKind::Alarm, 1},
        {"ALARM: Abort during cycle\r", ReplyKind::Alarm, 3},
        {"ALARM: Hard/soft limit", ReplyKind::Alarm, 1},
        {"Grbl 1.1h ['$' for help]\r", ReplyKind::Greeting, 0},
        {"Grbl 0.9j ['$' for help]", ReplyKind::Greeting, 0},
        {"<Idle|MPos:0.000,0.000,0.000|FS:0,0>\r", ReplyKind::Status, 0},
        {"[MSG:Pgm End]\r", ReplyKind::Message, 0},
        {"", ReplyKind::Other, 0},
    };
    for (const Case& c : cases) {
        const Reply r = ClassifyReply(c.line);
        EXPECT_EQ(r.kind, c.kind) << c.line;
        EXPECT_EQ(r.code, c.code) << c.line;
    }
}

TEST(JobLine, StatusStateAndPosition) {
    struct Case {
        const char* report;
        const char* state;
        const char* position;
    } cases[] = {
        {"<Hold:0|MPos:1.000,2.000,3.000|FS:0,0>", "Hold:0", "1.000,2.000,3.000"},
        {"<Hold,MPos:1.000,2.000,3.000,WPos:1.000,2.000,3.000>", "Hold", "1.000,2.000,3.000"},
        {"<Idle>", "Idle", ""},
        {"ok", "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(StatusState(c.report), c.state) << c.report;
        EXPECT_EQ(StatusPosition(c.report), c.position) << c.report;
    }
}

TEST(JobLine, PlainWordsForEveryDocumentedCode) {
    // Every code the controller documents has words; a code it does not have has none, and
    // its reply still reaches the operator.
    for (int code : {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17, 20,
                     21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38})
        EXPECT_FALSE(ErrorText(code).empty()) << code;
    for (int code = 1; code <= 9; ++code)
        EXPECT_FALSE(AlarmText(code).empty()) << code;
    EXPECT_TRUE(ErrorText(99).empty());
    EXPECT_EQ(DescribeError(99, "99"), "error:99");
    EXPECT_EQ(DescribeError(20, "20"), std::string(ErrorText(20)) + " (error:20)");
}

TEST(JobLine, DurationAndRemaining) {
    EXPECT_EQ(FormatDuration(0), "0:00:00");
    EXPECT_EQ(FormatDuration(3723.4), "1:02:03");
    Progress p;
    p.total = 100;
    EXPECT_FALSE(RemainingSeconds(p, nullptr)); // nothing done yet
    p.done = 25;
    p.executing = 25;
    p.elapsed = 10;
    EXPECT_DOUBLE_EQ(*RemainingSeconds(p, nullptr), 30);
    RowTimeEstimate estimate{[](std::size_t row) { return 2.0 * static_cast<double>(row); }, 200};
    EXPECT_DOUBLE_EQ(*RemainingSeconds(p, &estimate), 150);
}

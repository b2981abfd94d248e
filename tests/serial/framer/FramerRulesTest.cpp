// The framing rules as one table: settings, the chunks that arrive, and the packets and
// discards that must come out ("|" marks the end of each chunk), with what stays buffered.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "ComDataPacket.h"
#include "FramerTestSupport.h"

using namespace std::string_literals;
using framer_test::Feed;
using framer_test::Recorder;

namespace {

struct RuleCase {
    std::string name;
    std::function<void(TComDataPacket&, std::vector<std::string>& log)> setup;
    std::vector<std::string> chunks;
    std::vector<std::string> expected;
    std::string buffered;
    bool open;
};

void PrintTo(const RuleCase& c, std::ostream* os) { *os << c.name; }

void Lines(TComDataPacket& f, std::vector<std::string>&) { f.SetStopString("\n"); }

const std::string kStatus = "<Idle,MPos:0.000,0.000,0.000,WPos:0.000,0.000,0.000>";

std::vector<RuleCase> Cases() {
    std::vector<RuleCase> cases = {
        {"OneLineLosesItsLfKeepsItsCr", Lines, {"ok\r\n"}, {"P:ok\r", "|"}, "", true},
        {"TwoLinesInOneChunkComeInOrder",
         Lines,
         {kStatus + "\r\nok\r\n"},
         {"P:" + kStatus + "\r", "P:ok\r", "|"},
         "",
         true},
        {"LineAcrossChunksComesWhenItsLfArrives",
         Lines,
         {"o", "k\r", "\nerror:9\r\nA"},
         {"|", "|", "P:ok\r", "P:error:9\r", "|"},
         "A",
         true},
        {"BareLfIsAnEmptyPacket", Lines, {"\n"}, {"P:", "|"}, "", true},
        {"LineLongerThanTheLimitIsStillDelivered",
         Lines,
         {std::string(1499, 'a') + "\n" + std::string(500, 'b')},
         {"P:" + std::string(1499, 'a'), "|"},
         std::string(500, 'b'),
         true},
        {"LimitAppliesToWhatRemainsAfterTheScan",
         [](TComDataPacket& f, auto&) {
             f.SetStopString("\n");
             f.SetMaxBufferSize(8);
         },
         {"abcdefgh\n", "1234567", "8"},
         {"P:abcdefgh", "|", "|", "D:12345678", "|"},
         "",
         false},
        {"NoStopRuleEachChunkIsAPacketWhateverTheStartString",
         [](TComDataPacket& f, auto&) { f.SetStartString("<"); },
         {"ab<c", "d"},
         {"P:ab<c", "|", "P:d", "|"},
         "",
         false},
        {"BytesBeforeTheStartAreDiscardedAndMarkersStripped",
         [](TComDataPacket& f, auto&) {
             f.SetStartString("<");
             f.SetStopString(">");
         },
         {"ok\r\n<Idle>\r\n", "x<"},
         {"D:ok\r\n", "P:Idle", "|", "D:\r\nx", "|"},
         "<",
         true},
        {"IncludeStringsKeepsTheMarkers",
         [](TComDataPacket& f, auto&) {
             f.SetStartString("<");
             f.SetStopString(">");
             f.SetIncludeStrings(true);
         },
         {"ok\r\n<Idle>\r\n"},
         {"D:ok\r\n", "P:<Idle>", "|"},
         "\r\n",
         false},
        {"CaseInsensitiveMarkersKeepTheReceivedCase",
         [](TComDataPacket& f, auto&) {
             f.SetCaseInsensitive(true);
             f.SetStartString("ok");
             f.SetStopString("\n");
             f.SetIncludeStrings(true);
         },
         {"xOK1\n"},
         {"D:x", "P:OK1\n", "|"},
         "",
         false},
        {"CaseInsensitiveMarkersAreStrippedWhateverTheirCase",
         [](TComDataPacket& f, auto&) {
             f.SetCaseInsensitive(true);
             f.SetStartString("ok");
             f.SetStopString("end");
         },
         {"xOk1EnD", "oK2eNd"},
         {"D:x", "P:1", "|", "P:2", "|"},
         "",
         false},
        {"CaseSensitiveStartIgnoresOtherCase",
         [](TComDataPacket& f, auto&) {
             f.SetStartString("ok");
             f.SetStopString("\n");
         },
         {"OK1\nok2\n"},
         {"D:OK1\n", "P:2", "|"},
         "",
         false},
        {"SizeCutsFixedPackets",
         [](TComDataPacket& f, auto&) { f.SetSize(4); },
         {"abcdefghij"},
         {"P:abcd", "P:efgh", "|"},
         "ij",
         true},
        {"SizeWinsOverAStopStringInside",
         [](TComDataPacket& f, auto&) {
             f.SetSize(10);
             f.SetStopString("\n");
         },
         {"ab\ncdefghijk"},
         {"P:ab\ncdefghi", "|"},
         "jk",
         true},
        {"StopStringEndsAPacketShorterThanSize",
         [](TComDataPacket& f, auto&) {
             f.SetSize(10);
             f.SetStopString("\n");
         },
         {"ab\n", "cdefghijk"},
         {"P:ab", "|", "|"},
         "cdefghijk",
         true},
        {"StartStringCountsTowardsSize",
         [](TComDataPacket& f, auto&) {
             f.SetStartString("<");
             f.SetSize(3);
         },
         {"x<ab<cd"},
         {"D:x", "P:ab", "P:cd", "|"},
         "",
         false},
        {"OnlyTheFirstStopOccurrenceIsStripped",
         [](TComDataPacket& f, auto&) {
             f.SetSize(6);
             f.SetStopString(";");
         },
         {"a;bcd;", "abcde;"},
         {"P:a;bcd;", "|", "P:abcde", "|"},
         "",
         true},
        {"StopIsNotSearchedInsideTheStartsPlace",
         [](TComDataPacket& f, auto&) {
             f.SetStartString("ab");
             f.SetStopString("b");
         },
         {"abxb"},
         {"P:x", "|"},
         "",
         false},
        {"StopStringSplitAcrossChunks",
         [](TComDataPacket& f, auto&) { f.SetStopString("\r\n"); },
         {"ab\r", "\ncd"},
         {"|", "P:ab", "|"},
         "cd",
         true},
        {"StartStringSplitAcrossChunks",
         [](TComDataPacket& f, auto&) {
             f.SetStartString("<<");
             f.SetStopString(">");
         },
         {"xx<", "<ab>"},
         {"|", "D:xx", "P:ab", "|"},
         "",
         false},
        {"OverlappingStopCandidates",
         [](TComDataPacket& f, auto&) { f.SetStopString("aab"); },
         {"xaa", "aab", "aaab"},
         {"|", "P:xaa", "|", "P:a", "|"},
         "",
         true},
        {"NulIsAnOrdinaryByte", Lines, {"a\0b\n"s, "\0\n"s}, {"P:a\0b"s, "|", "P:\0"s, "|"}, "",
         true},
        {"NulAsStopString",
         [](TComDataPacket& f, auto&) { f.SetStopString("\0"s); },
         {"x\0y\0z"s},
         {"P:x", "P:y", "|"},
         "z",
         true},
        {"NoLimitLetsTheBufferGrow",
         [](TComDataPacket& f, auto&) {
             f.SetStopString("\n");
             f.SetMaxBufferSize(0);
         },
         {std::string(3000, 'x'), std::string(3000, 'y')},
         {"|", "|"},
         std::string(3000, 'x') + std::string(3000, 'y'),
         true},
        {"CustomStartZeroFindsNoStartUntilTheLimit",
         [](TComDataPacket& f, auto&) {
             f.SetStopString("\n");
             f.SetMaxBufferSize(6);
             f.OnCustomStart = [](TObject*, const std::string&, std::int32_t& pos) { pos = 0; };
         },
         {"ab\n", "cdef"},
         {"|", "D:ab\ncdef", "|"},
         "",
         false},
        {"CustomHandlersSeeTheWholeBufferAndAreAskedOnceMoreWhenEmpty",
         [](TComDataPacket& f, std::vector<std::string>& log) {
             f.SetStopString("\n");
             f.OnCustomStart = [&log](TObject*, const std::string& s, std::int32_t&) {
                 log.push_back("S:" + s);
             };
             f.OnCustomStop = [&log](TObject*, const std::string& s, std::int32_t&) {
                 log.push_back("E:" + s);
             };
         },
         {"a\nb\n"},
         {"S:a\nb\n", "E:a\nb\n", "P:a", "S:b\n", "E:b\n", "P:b", "S:", "E:", "|"},
         "",
         true},
        {"CustomStopLengthCountsFromTheFirstByte",
         [](TComDataPacket& f, auto&) {
             f.OnCustomStop = [](TObject*, const std::string& s, std::int32_t& pos) {
                 const auto at = s.find('|');
                 pos = at == std::string::npos ? 0 : static_cast<std::int32_t>(at) + 1;
             };
         },
         {"ab|c", "d|"},
         {"P:ab|", "|", "P:cd|", "|"},
         "",
         true},
        {"CustomStopPositionBeyondTheBufferIsClamped",
         [](TComDataPacket& f, auto&) {
             f.OnCustomStop = [](TObject*, const std::string& s, std::int32_t& pos) {
                 pos = s.find('!') == std::string::npos ? 0 : 100;
             };
         },
         {"abc", "!"},
         {"|", "P:abc!", "|"},
         "",
         true},
        {"CustomStopOnAnEmptyBufferCutsNothing",
         [](TComDataPacket& f, auto&) {
             f.OnCustomStop = [](TObject*, const std::string&, std::int32_t& pos) { pos = 2; };
         },
         {"abcde", "f"},
         {"P:ab", "P:cd", "P:e", "|", "P:f", "|"},
         "",
         true},
        {"CustomStartPositionBeyondTheBufferDiscardsItAll",
         [](TComDataPacket& f, auto&) {
             f.SetStopString("\n");
             f.OnCustomStart = [](TObject*, const std::string&, std::int32_t& pos) {
                 pos = 100;
             };
         },
         {"abc", "d\n"},
         {"D:abc", "|", "P:d", "D:", "|"},
         "",
         true},
        {"CustomStartStopIsSearchedBehindTheStartsLength",
         [](TComDataPacket& f, auto&) {
             f.SetStartString("<");
             f.SetStopString(">");
             f.OnCustomStart = [](TObject*, const std::string&, std::int32_t& pos) { pos = 1; };
         },
         {"a>b>", ">x>"},
         {"P:a", "P:b", "|", "P:>x>", "|"},
         "",
         true},
        {"CustomStartMinusOneHandsOverToTheStartString",
         [](TComDataPacket& f, auto&) {
             f.SetStartString("<");
             f.SetStopString(">");
             f.OnCustomStart = [](TObject*, const std::string&, std::int32_t&) {};
         },
         {"z<a>"},
         {"D:z", "P:a", "|"},
         "",
         false},
    };

    // 1030 bytes without LF in chunks of 10: the chunk that first brings the buffer to 1024
    // or more discards all of it; the next LF ends a packet of only the later bytes.
    RuleCase limit{"UnfinishedLineDiscardedAtTheDefaultLimit", Lines, {}, {}, "", true};
    for (int i = 0; i < 103; ++i) {
        limit.chunks.push_back(std::string(10, static_cast<char>('a' + i % 26)));
        if (i < 102) limit.expected.push_back("|");
    }
    std::string all;
    for (const std::string& c : limit.chunks) all += c;
    limit.expected.push_back("D:" + all);
    limit.expected.push_back("|");
    limit.chunks.push_back("yz\n");
    limit.expected.push_back("P:yz");
    limit.expected.push_back("|");
    cases.push_back(limit);
    return cases;
}

class FramerRules : public ::testing::TestWithParam<RuleCase> {};

TEST_P(FramerRules, DeliversAsTheRulesSay) {
    const RuleCase& c = GetParam();
    TComDataPacket framer;
    Recorder rec;
    rec.Listen(framer);
    c.setup(framer, rec.events);
    for (const std::string& chunk : c.chunks) {
        Feed(framer, chunk);
        rec.events.push_back("|");
    }
    EXPECT_EQ(rec.events, c.expected);
    EXPECT_EQ(std::string(framer.Buffer()), c.buffered);
    EXPECT_EQ(framer.PacketOpen(), c.open);
}

INSTANTIATE_TEST_SUITE_P(Table, FramerRules, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return info.param.name; });

}  // namespace

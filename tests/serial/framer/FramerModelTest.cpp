// Properties over many inputs:
//  - where the rules do not depend on how bytes are grouped (no size limit reached, no fixed
//    size together with a stop string, no custom search), cutting the same stream into
//    chunks at any boundary gives the same packets and discards;
//  - for random settings, streams, chunkings, property writes and handlers that raise or
//    re-enter, the framer hands out exactly what the naive reference framer does, with the
//    same buffer visible inside every handler.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "ComDataPacket.h"
#include "FramerTestSupport.h"
#include "ReferenceFramer.h"

using namespace std::string_literals;
using framer_test::Feed;
using framer_test::Recorder;

namespace {

// --- any chunking gives the same result ---

struct Outcome {
    std::vector<std::string> events;
    std::string buffered;
    bool open = false;
    bool operator==(const Outcome&) const = default;
};

void PrintTo(const Outcome& o, std::ostream* os) {
    *os << ::testing::PrintToString(o.events) << " buffered "
        << ::testing::PrintToString(o.buffered) << (o.open ? " open" : " closed");
}

struct SplitCase {
    const char* name;
    std::function<void(TComDataPacket&)> setup;
    std::string stream;
};

void PrintTo(const SplitCase& c, std::ostream* os) { *os << c.name; }

Outcome RunChunks(const SplitCase& c, const std::vector<std::string>& chunks) {
    TComDataPacket framer;
    c.setup(framer);
    Recorder rec;
    rec.Listen(framer);
    for (const std::string& chunk : chunks) Feed(framer, chunk);
    return {rec.events, std::string(framer.Buffer()), framer.PacketOpen()};
}

std::string RandomLines(std::uint32_t seed, std::size_t bytes) {
    std::mt19937 rng(seed);
    const std::string alphabet = "ok<>Idle,MPos:0.123\r\n\n\n"s + '\0';
    std::string s;
    while (s.size() < bytes) s += alphabet[rng() % alphabet.size()];
    return s;
}

std::vector<SplitCase> SplitCases() {
    return {
        {"GrblLines", [](TComDataPacket& f) { f.SetStopString("\n"); },
         "ok\r\n<Idle|WPos:1.000,2.000,0.000>\r\nerror:9\r\n\nALARM:1\r\n"
         "Grbl 1.1h ['$' for help]\r\npartial"},
        {"CrLfStopWithLoneCrAndLf", [](TComDataPacket& f) { f.SetStopString("\r\n"); },
         "a\rb\nc\r\n\r\r\n\n\r\nd"},
        {"StartAndStop",
         [](TComDataPacket& f) {
             f.SetStartString("<");
             f.SetStopString(">");
         },
         "ok\r\n<Idle>\r\n<Run>x<<a>>tail<"},
        {"StartAndStopIncluded",
         [](TComDataPacket& f) {
             f.SetStartString("<");
             f.SetStopString(">");
             f.SetIncludeStrings(true);
         },
         "ok\r\n<Idle>\r\n<Run>x<<a>>tail<"},
        {"CaseInsensitiveMarkers",
         [](TComDataPacket& f) {
             f.SetCaseInsensitive(true);
             f.SetStartString("ok");
             f.SetStopString("\r\n");
         },
         "xxOK a\r\nok b\r\nOk\r\nKo\r\noK"},
        {"TwoByteStartAndStop",
         [](TComDataPacket& f) {
             f.SetStartString("<<");
             f.SetStopString(">>");
         },
         "a<b<<c>d>>e<<<>>>f<<>>"},
        {"OverlappingStopCandidates", [](TComDataPacket& f) { f.SetStopString("aab"); },
         "aaabaabxaaab aabaa"},
        {"StopEqualsStart",
         [](TComDataPacket& f) {
             f.SetStartString("|");
             f.SetStopString("|");
         },
         "x|a||b|c|||"},
        {"SizeOnly", [](TComDataPacket& f) { f.SetSize(5); }, "abcdefghijklmnopq"},
        {"SizeAfterStart",
         [](TComDataPacket& f) {
             f.SetStartString("<");
             f.SetSize(3);
         },
         "x<abcd<ef<g"},
        {"NulBytes", [](TComDataPacket& f) { f.SetStopString("\0"s); }, "a\0\0b\0c"s},
        {"LongRandomLinesNoLimit",
         [](TComDataPacket& f) {
             f.SetStopString("\n");
             f.SetMaxBufferSize(0);
         },
         RandomLines(7, 1500)},
        {"LongRandomStartStopNoLimit",
         [](TComDataPacket& f) {
             f.SetStartString("<");
             f.SetStopString(">");
             f.SetMaxBufferSize(0);
         },
         RandomLines(8, 1500)},
    };
}

class FramerSplit : public ::testing::TestWithParam<SplitCase> {};

TEST_P(FramerSplit, AnyChunkingGivesTheSameResult) {
    const SplitCase& c = GetParam();
    const std::string& s = c.stream;
    const Outcome whole = RunChunks(c, {s});
    ASSERT_FALSE(whole.events.empty());

    for (std::size_t k = 0; k <= s.size(); ++k)
        ASSERT_EQ(RunChunks(c, {s.substr(0, k), s.substr(k)}), whole) << "split at " << k;

    std::vector<std::string> bytes;
    for (char ch : s) bytes.emplace_back(1, ch);
    EXPECT_EQ(RunChunks(c, bytes), whole) << "one byte at a time";

    std::mt19937 rng(42);
    for (int round = 0; round < 50; ++round) {
        std::vector<std::string> chunks;
        for (std::size_t at = 0; at < s.size();) {
            const std::size_t n = std::min<std::size_t>(rng() % 7, s.size() - at);
            chunks.push_back(s.substr(at, n));
            at += n;
        }
        ASSERT_EQ(RunChunks(c, chunks), whole) << "round " << round;
    }
}

INSTANTIATE_TEST_SUITE_P(Streams, FramerSplit, ::testing::ValuesIn(SplitCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// --- the framer against the reference ---

struct Step {
    enum Kind { Chunk, Start, Stop, Size, Case, Include, Limit, Reset } kind = Chunk;
    std::string text;
    std::int32_t value = 0;
};

struct Script {
    std::string start, stop;
    std::int32_t size = 0;
    std::int32_t limit = 1024;
    bool include = false;
    bool caseInsensitive = false;
    int customStart = 0;  // 0: no handler; otherwise one of the searches below
    int customStop = 0;
    std::vector<Step> steps;
};

std::string Pick(std::mt19937& rng, const std::string& from, std::size_t maxLen) {
    std::string s;
    const std::size_t n = rng() % (maxLen + 1);
    for (std::size_t i = 0; i < n; ++i) s += from[rng() % from.size()];
    return s;
}

Script MakeScript(std::uint32_t seed) {
    std::mt19937 rng(seed);
    const std::string bytes = "ab<>\n\rABXTWFRZ"s + '\0';
    const std::string markers = "ab<>\nA"s + '\0';
    Script sc;
    if (rng() % 2) sc.start = Pick(rng, markers, 2);
    if (rng() % 4) sc.stop = Pick(rng, markers, 2);
    if (rng() % 3 == 0) sc.size = static_cast<std::int32_t>(rng() % 7);
    const std::int32_t limits[] = {0, 1, 3, 6, 10, 20, 1024};
    sc.limit = limits[rng() % 7];
    sc.include = rng() % 2;
    sc.caseInsensitive = rng() % 2;
    if (rng() % 3 == 0) sc.customStart = 1 + static_cast<int>(rng() % 5);
    if (rng() % 3 == 0) sc.customStop = 1 + static_cast<int>(rng() % 5);
    const int steps = 1 + static_cast<int>(rng() % 10);
    for (int i = 0; i < steps; ++i) {
        Step st;
        if (rng() % 10 < 7) {
            st.kind = Step::Chunk;
            st.text = Pick(rng, bytes, 16);
        } else {
            st.kind = static_cast<Step::Kind>(1 + rng() % 7);
            st.text = Pick(rng, markers, 2);
            st.value = static_cast<std::int32_t>(rng() % 8) - 1;
        }
        sc.steps.push_back(st);
    }
    return sc;
}

void FeedAny(TComDataPacket& f, const std::string& s) { Feed(f, s); }
void FeedAny(ReferenceFramer& f, const std::string& s) { f.AppendChunk(s); }

// Runs a script and logs every callback with the buffer and packet state it saw.
template <typename Framer>
std::vector<std::string> RunScript(const Script& sc) {
    Framer f;
    std::vector<std::string> log;
    const auto state = [&f] {
        return "[" + std::string(f.Buffer()) + (f.PacketOpen() ? "]open" : "]closed");
    };
    f.SetStartString(sc.start);
    f.SetStopString(sc.stop);
    f.SetSize(sc.size);
    f.SetMaxBufferSize(sc.limit);
    f.SetIncludeStrings(sc.include);
    f.SetCaseInsensitive(sc.caseInsensitive);
    f.OnPacket = [&](TObject*, const std::string& s) {
        log.push_back("P:" + s + state());
        if (s.find('W') != std::string::npos) f.SetStopString(f.StopString() == "\n" ? ">" : "\n");
        if (s.find('F') != std::string::npos) f.AppendChunk("f\n");
        if (s.find('T') != std::string::npos) throw std::runtime_error("packet " + s);
    };
    f.OnDiscard = [&](TObject*, const std::string& s) {
        log.push_back("D:" + s + state());
        if (s.size() % 3 == 1 && s.find('X') != std::string::npos)
            throw std::runtime_error("discard " + s);
    };
    if (sc.customStart) {
        f.OnCustomStart = [&, mode = sc.customStart](TObject*, const std::string& s,
                                                      std::int32_t& pos) {
            log.push_back("S:" + s + state());
            const auto b = s.find('b');
            switch (mode) {
            case 1: pos = b == std::string::npos ? 0 : static_cast<std::int32_t>(b) + 1; break;
            case 2: if (s.find('Z') != std::string::npos) pos = 0; break;
            case 3: pos = 3; break;
            case 4: pos = static_cast<std::int32_t>(s.size()) + 2; break;
            default: pos = -5; break;
            }
        };
    }
    if (sc.customStop) {
        f.OnCustomStop = [&, mode = sc.customStop](TObject*, const std::string& s,
                                                    std::int32_t& pos) {
            log.push_back("E:" + s + state());
            const auto g = s.find('>');
            switch (mode) {
            case 1: pos = g == std::string::npos ? 0 : static_cast<std::int32_t>(g) + 1; break;
            case 2: pos = 2; break;
            case 3: if (s.size() >= 4) pos = 3; break;
            case 4: if (s.find('X') != std::string::npos) pos = 1000; break;
            default:
                if (s.find('R') != std::string::npos) f.ResetBuffer();
                break;
            }
        };
    }
    for (const Step& st : sc.steps) {
        try {
            switch (st.kind) {
            case Step::Chunk: FeedAny(f, st.text); break;
            case Step::Start: f.SetStartString(st.text); break;
            case Step::Stop: f.SetStopString(st.text); break;
            case Step::Size: f.SetSize(st.value); break;
            case Step::Case: f.SetCaseInsensitive(st.value % 2 != 0); break;
            case Step::Include: f.SetIncludeStrings(st.value % 2 != 0); break;
            case Step::Limit: f.SetMaxBufferSize(st.value * 3); break;
            case Step::Reset: f.ResetBuffer(); break;
            }
        } catch (const std::exception& e) {
            log.push_back(std::string("raised ") + e.what());
        }
        log.push_back("=" + state());
    }
    return log;
}

TEST(FramerModel, MatchesTheReferenceOnRandomScripts) {
    std::size_t callbacks = 0;
    for (std::uint32_t seed = 0; seed < 4000; ++seed) {
        const Script sc = MakeScript(seed);
        const std::vector<std::string> expected = RunScript<ReferenceFramer>(sc);
        const std::vector<std::string> actual = RunScript<TComDataPacket>(sc);
        for (const std::string& entry : expected)
            if (entry[0] != '=') ++callbacks;
        if (actual == expected) continue;
        std::size_t i = 0;
        while (i < actual.size() && i < expected.size() && actual[i] == expected[i]) ++i;
        ADD_FAILURE() << "seed " << seed << ": first difference at entry " << i << "\n  expected "
                      << (i < expected.size() ? ::testing::PrintToString(expected[i]) : "<end>")
                      << "\n  actual   "
                      << (i < actual.size() ? ::testing::PrintToString(actual[i]) : "<end>");
        break;
    }
    EXPECT_GT(callbacks, 20000u);  // the scripts really exercise the framer
}

}  // namespace

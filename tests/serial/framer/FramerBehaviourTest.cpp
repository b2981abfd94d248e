// What handlers see while they run, what happens when they raise, and what property writes
// do to collected bytes.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "ComDataPacket.h"
#include "FramerTestSupport.h"

using framer_test::Feed;
using framer_test::Recorder;

namespace {

struct HandlerFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

TEST(FramerDefaults, AsTheConsoleFindsThem) {
    TComDataPacket framer;
    EXPECT_EQ(framer.ComPort(), nullptr);
    EXPECT_EQ(framer.MaxBufferSize(), 1024);
    EXPECT_EQ(framer.Size(), 0);
    EXPECT_EQ(framer.StartString(), "");
    EXPECT_EQ(framer.StopString(), "");
    EXPECT_FALSE(framer.IncludeStrings());
    EXPECT_FALSE(framer.CaseInsensitive());
    EXPECT_FALSE(framer.PacketOpen());
    EXPECT_TRUE(framer.Buffer().empty());
    EXPECT_FALSE(framer.HasStopRule());
}

TEST(FramerHandlers, HaveTheFramerAsSender) {
    TComDataPacket framer;
    framer.SetStopString("\n");
    std::vector<TObject*> senders;
    framer.OnPacket = [&](TObject* s, const std::string&) { senders.push_back(s); };
    framer.OnDiscard = [&](TObject* s, const std::string&) { senders.push_back(s); };
    framer.OnCustomStart = [&](TObject* s, const std::string&, std::int32_t&) {
        senders.push_back(s);
    };
    framer.OnCustomStop = [&](TObject* s, const std::string&, std::int32_t&) {
        senders.push_back(s);
    };
    Feed(framer, "a\nb");
    framer.ResetBuffer();
    ASSERT_EQ(senders.size(), 6u);  // start, stop, packet, start, stop, discard
    for (TObject* s : senders) EXPECT_EQ(s, &framer);
}

// Each packet handler finds the buffer already cut behind its packet and the packet closed.
TEST(FramerHandlers, PacketHandlerSeesOnlyTheBytesBehindItsPacket) {
    TComDataPacket framer;
    framer.SetStopString("\n");
    std::vector<std::string> seen;
    framer.OnPacket = [&](TObject*, const std::string& s) {
        seen.push_back(s + "|" + std::string(framer.Buffer()) + "|" +
                       (framer.PacketOpen() ? "open" : "closed"));
    };
    Feed(framer, "<Idle>\r\nok\r\npar");
    const std::vector<std::string> expected = {"<Idle>\r|ok\r\npar|closed", "ok\r|par|closed"};
    EXPECT_EQ(seen, expected);
}

// Bytes before a start are removed before their handler runs; the packet is already open.
TEST(FramerHandlers, DiscardBeforeTheStartSeesTheBufferFromTheStart) {
    TComDataPacket framer;
    framer.SetStartString("<");
    framer.SetStopString(">");
    std::vector<std::string> seen;
    framer.OnDiscard = [&](TObject*, const std::string& s) {
        seen.push_back(s + "|" + std::string(framer.Buffer()) + "|" +
                       (framer.PacketOpen() ? "open" : "closed"));
    };
    Feed(framer, "junk<ab");
    EXPECT_EQ(seen, std::vector<std::string>{"junk|<ab|open"});
}

// A whole-buffer discard hands the bytes over first and empties the buffer afterwards.
TEST(FramerHandlers, WholeBufferDiscardSeesTheBufferStillThere) {
    TComDataPacket framer;
    framer.SetStopString("\n");
    framer.SetMaxBufferSize(4);
    std::vector<std::string> seen;
    framer.OnDiscard = [&](TObject*, const std::string& s) {
        seen.push_back(s + "|" + std::string(framer.Buffer()) + "|" +
                       (framer.PacketOpen() ? "open" : "closed"));
    };
    Feed(framer, "abcd");
    EXPECT_EQ(seen, std::vector<std::string>{"abcd|abcd|open"});
    EXPECT_TRUE(framer.Buffer().empty());
    EXPECT_FALSE(framer.PacketOpen());
}

// --- handlers that raise ---

// The packet already handed out is gone, the rest stays buffered, and the limit is still
// tested on the way out.
TEST(FramerExceptions, PacketHandlerRaisingStillRunsTheLimitTest) {
    TComDataPacket framer;
    framer.SetStopString("\n");
    framer.SetMaxBufferSize(4);
    Recorder rec;
    rec.Listen(framer);
    framer.OnPacket = [&](TObject*, const std::string& s) {
        rec.events.push_back("P:" + s);
        throw HandlerFailure("packet");
    };
    EXPECT_THROW(Feed(framer, "a\nbcdef"), HandlerFailure);
    EXPECT_EQ(rec.events, (std::vector<std::string>{"P:a", "D:bcdef"}));
    EXPECT_TRUE(framer.Buffer().empty());
    EXPECT_FALSE(framer.PacketOpen());
}

TEST(FramerExceptions, BytesNotYetCutWaitForTheNextChunk) {
    TComDataPacket framer;
    framer.SetStopString("\n");
    Recorder rec;
    bool fail = true;
    framer.OnPacket = [&](TObject*, const std::string& s) {
        rec.events.push_back("P:" + s);
        if (fail) throw HandlerFailure("packet");
    };
    EXPECT_THROW(Feed(framer, "a\nb\nc"), HandlerFailure);
    EXPECT_EQ(std::string(framer.Buffer()), "b\nc");
    EXPECT_FALSE(framer.PacketOpen());
    fail = false;
    Feed(framer, "\n");
    EXPECT_EQ(rec.events, (std::vector<std::string>{"P:a", "P:b", "P:c"}));
}

// Deep in a chunk of many packets, a raise still leaves the rest buffered and tested.
TEST(FramerExceptions, RaiseAfterManyPacketsLeavesTheRestForTheLimit) {
    TComDataPacket framer;
    framer.SetStopString("\n");
    framer.SetMaxBufferSize(10);
    std::string chunk;
    for (int i = 0; i < 1000; ++i) chunk += "x\n";
    int packets = 0;
    std::string discarded;
    framer.OnPacket = [&](TObject*, const std::string&) {
        if (++packets == 600) throw HandlerFailure("packet");
    };
    framer.OnDiscard = [&](TObject*, const std::string& s) { discarded += s; };
    EXPECT_THROW(framer.AppendChunk(chunk), HandlerFailure);
    EXPECT_EQ(packets, 600);
    EXPECT_EQ(discarded.size(), 800u);  // the 400 lines not yet cut
    EXPECT_TRUE(framer.Buffer().empty());
}

TEST(FramerExceptions, DiscardHandlerRaisingStillEmptiesTheBuffer) {
    TComDataPacket framer;
    framer.SetStopString("\n");
    framer.OnDiscard = [](TObject*, const std::string&) { throw HandlerFailure("discard"); };
    Feed(framer, "abc");
    ASSERT_TRUE(framer.PacketOpen());
    EXPECT_THROW(framer.ResetBuffer(), HandlerFailure);
    EXPECT_TRUE(framer.Buffer().empty());
    EXPECT_FALSE(framer.PacketOpen());
}

// When the packet handler raises and the limit's discard raises too, the later one leaves.
TEST(FramerExceptions, DiscardRaisingInTheLimitTestReplacesThePacketError) {
    TComDataPacket framer;
    framer.SetStopString("\n");
    framer.SetMaxBufferSize(3);
    framer.OnPacket = [](TObject*, const std::string&) { throw HandlerFailure("packet"); };
    framer.OnDiscard = [](TObject*, const std::string&) { throw std::logic_error("discard"); };
    EXPECT_THROW(Feed(framer, "a\nbcd"), std::logic_error);
    EXPECT_TRUE(framer.Buffer().empty());
    // And the framer goes on afterwards.
    framer.OnPacket = nullptr;
    framer.OnDiscard = nullptr;
    Recorder rec;
    rec.Listen(framer);
    Feed(framer, "e\n");
    EXPECT_EQ(rec.events, std::vector<std::string>{"P:e"});
}

TEST(FramerExceptions, CustomSearchRaisingKeepsTheBytes) {
    TComDataPacket framer;
    framer.SetStopString("\n");
    framer.SetMaxBufferSize(6);
    Recorder rec;
    rec.Listen(framer);
    framer.OnCustomStart = [](TObject*, const std::string&, std::int32_t&) {
        throw HandlerFailure("start");
    };
    EXPECT_THROW(Feed(framer, "ab\n"), HandlerFailure);
    EXPECT_EQ(std::string(framer.Buffer()), "ab\n");
    EXPECT_THROW(Feed(framer, "cde"), HandlerFailure);  // now at the limit
    EXPECT_EQ(rec.events, std::vector<std::string>{"D:ab\ncde"});
    framer.OnCustomStart = nullptr;
    framer.OnCustomStop = [](TObject*, const std::string&, std::int32_t&) {
        throw HandlerFailure("stop");
    };
    EXPECT_THROW(Feed(framer, "x\n"), HandlerFailure);
    EXPECT_EQ(std::string(framer.Buffer()), "x\n");
    EXPECT_TRUE(framer.PacketOpen());
}

// --- property writes ---

struct WriteCase {
    const char* name;
    std::function<void(TComDataPacket&)> write;
    bool discards;
};

void PrintTo(const WriteCase& c, std::ostream* os) { *os << c.name; }

class FramerWrites : public ::testing::TestWithParam<WriteCase> {};

// The framer starts with StartString "<", StopString "end", Size 8, case-sensitive, and holds
// an open packet "<abc".
TEST_P(FramerWrites, DiscardOnlyWhenARuleChanges) {
    const WriteCase& c = GetParam();
    TComDataPacket framer;
    framer.SetStartString("<");
    framer.SetStopString("end");
    framer.SetSize(8);
    Recorder rec;
    rec.Listen(framer);
    Feed(framer, "<abc");
    ASSERT_TRUE(framer.PacketOpen());
    c.write(framer);
    if (c.discards) {
        EXPECT_EQ(rec.events, std::vector<std::string>{"D:<abc"});
        EXPECT_TRUE(framer.Buffer().empty());
        EXPECT_FALSE(framer.PacketOpen());
    } else {
        EXPECT_TRUE(rec.events.empty());
        EXPECT_EQ(std::string(framer.Buffer()), "<abc");
        EXPECT_TRUE(framer.PacketOpen());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, FramerWrites,
    ::testing::Values(
        WriteCase{"SameStartString", [](TComDataPacket& f) { f.SetStartString("<"); }, false},
        WriteCase{"NewStartString", [](TComDataPacket& f) { f.SetStartString("["); }, true},
        WriteCase{"SameStopString", [](TComDataPacket& f) { f.SetStopString("end"); }, false},
        WriteCase{"NewStopString", [](TComDataPacket& f) { f.SetStopString("\n"); }, true},
        WriteCase{"StopStringDiffersOnlyInCase",
                  [](TComDataPacket& f) { f.SetStopString("END"); }, true},
        WriteCase{"SameSize", [](TComDataPacket& f) { f.SetSize(8); }, false},
        WriteCase{"NewSize", [](TComDataPacket& f) { f.SetSize(9); }, true},
        WriteCase{"SameCaseInsensitive",
                  [](TComDataPacket& f) { f.SetCaseInsensitive(false); }, false},
        WriteCase{"NewCaseInsensitive", [](TComDataPacket& f) { f.SetCaseInsensitive(true); },
                  true},
        WriteCase{"IncludeStrings", [](TComDataPacket& f) { f.SetIncludeStrings(true); },
                  false},
        WriteCase{"MaxBufferSize", [](TComDataPacket& f) { f.SetMaxBufferSize(2); }, false},
        WriteCase{"ResetBuffer", [](TComDataPacket& f) { f.ResetBuffer(); }, true},
        WriteCase{"RulesChangedWhileLoading",
                  [](TComDataPacket& f) {
                      f.BeginLoading();
                      f.SetStartString("[");
                      f.SetStopString("]");
                      f.SetSize(2);
                      f.SetCaseInsensitive(true);
                      f.Loaded();
                      EXPECT_EQ(f.StartString(), "[");
                      EXPECT_EQ(f.StopString(), "]");
                      EXPECT_EQ(f.Size(), 2);
                      EXPECT_TRUE(f.CaseInsensitive());
                  },
                  false}),
    [](const auto& info) { return std::string(info.param.name); });

// The written rules act from the next scan: a new stop string is searched for at once.
TEST(FramerWritesAct, NewStopStringIsUsedForTheNextChunk) {
    TComDataPacket framer;
    framer.SetStopString(";");
    Recorder rec;
    rec.Listen(framer);
    Feed(framer, "ab");
    framer.SetStopString("\n");
    Feed(framer, "c;d\n");
    EXPECT_EQ(rec.events, (std::vector<std::string>{"D:ab", "P:c;d"}));
}

// Line framing opens the next packet at once, with nothing buffered. Switching to start/stop
// framing must not continue that packet: the bytes before the first start are junk.
TEST(FramerWritesAct, NewRulesStartAfreshAlsoWithNothingBuffered) {
    TComDataPacket framer;
    framer.SetStopString("\n");
    Recorder rec;
    rec.Listen(framer);
    Feed(framer, "ok\n");
    ASSERT_TRUE(framer.PacketOpen());
    ASSERT_TRUE(framer.Buffer().empty());
    framer.SetStartString("<");
    framer.SetStopString(">");
    EXPECT_FALSE(framer.PacketOpen());
    Feed(framer, "ok\r\n<Idle>");
    EXPECT_EQ(rec.events, (std::vector<std::string>{"P:ok", "D:ok\r\n", "P:Idle"}));
}

TEST(FramerWritesAct, EachRuleWriteClosesAnEmptyOpenPacket) {
    const std::vector<std::function<void(TComDataPacket&)>> writes = {
        [](TComDataPacket& f) { f.SetStartString("<"); },
        [](TComDataPacket& f) { f.SetStopString("\r\n"); },
        [](TComDataPacket& f) { f.SetSize(4); },
        [](TComDataPacket& f) { f.SetCaseInsensitive(true); },
    };
    for (std::size_t i = 0; i < writes.size(); ++i) {
        TComDataPacket framer;
        framer.SetStopString("\n");
        Recorder rec;
        rec.Listen(framer);
        Feed(framer, "a\n");
        ASSERT_TRUE(framer.PacketOpen());
        writes[i](framer);
        EXPECT_FALSE(framer.PacketOpen()) << "write " << i;
        EXPECT_EQ(rec.events, std::vector<std::string>{"P:a"}) << "write " << i;
    }
}

// Rules written while loading keep the buffered bytes, and are applied to all of them, also
// to the part that was already searched under the old rules.
TEST(FramerWritesAct, RulesWrittenWhileLoadingApplyToBytesAlreadyBuffered) {
    TComDataPacket framer;
    framer.SetStopString(";");
    framer.SetStartString("<");
    Recorder rec;
    rec.Listen(framer);
    Feed(framer, "x[ab\ncd");  // no start found yet
    Feed(framer, "<ef\n");     // start found; the stop is looked for behind it
    ASSERT_EQ(rec.events, std::vector<std::string>{"D:x[ab\ncd"});
    framer.BeginLoading();
    framer.SetStopString("\n");
    framer.SetCaseInsensitive(true);
    framer.Loaded();
    Feed(framer, "g");
    EXPECT_EQ(rec.events, (std::vector<std::string>{"D:x[ab\ncd", "P:ef"}));
    EXPECT_EQ(std::string(framer.Buffer()), "g");
}

TEST(FramerWritesAct, StartWrittenWhileLoadingIsLookedForFromTheFirstByte) {
    TComDataPacket framer;
    framer.SetStopString("\n");
    framer.SetStartString("<");
    Recorder rec;
    rec.Listen(framer);
    Feed(framer, "a[b");  // no start yet
    framer.BeginLoading();
    framer.SetStartString("[");
    framer.Loaded();
    Feed(framer, "c\n");
    EXPECT_EQ(rec.events, (std::vector<std::string>{"D:a", "P:bc"}));
}

TEST(FramerWritesAct, LimitLoweredActsAtTheNextScan) {
    TComDataPacket framer;
    framer.SetStopString("\n");
    Recorder rec;
    rec.Listen(framer);
    Feed(framer, "abcdef");
    framer.SetMaxBufferSize(4);
    EXPECT_TRUE(rec.events.empty());
    Feed(framer, "g");
    EXPECT_EQ(rec.events, std::vector<std::string>{"D:abcdefg"});
}

TEST(FramerReset, EmptyBufferFiresNothingAndKeepsThePacketOpen) {
    TComDataPacket framer;
    framer.SetStopString("\n");
    Recorder rec;
    rec.Listen(framer);
    Feed(framer, "a\n");  // leaves an open packet with an empty buffer
    ASSERT_TRUE(framer.PacketOpen());
    rec.events.clear();
    framer.ResetBuffer();
    EXPECT_TRUE(rec.events.empty());
    EXPECT_TRUE(framer.PacketOpen());
}

// A handler may change the rules while the framer is cutting: the rest of the chunk goes to
// OnDiscard and framing starts afresh under the new rules.
TEST(FramerReentry, PacketHandlerChangingTheStopString) {
    TComDataPacket framer;
    framer.SetStopString("\n");
    Recorder rec;
    rec.Listen(framer);
    framer.OnPacket = [&](TObject*, const std::string& s) {
        rec.events.push_back("P:" + s);
        if (s == "switch") framer.SetStopString(";");
    };
    Feed(framer, "a\nswitch\nb\nc;d;");
    EXPECT_EQ(rec.events, (std::vector<std::string>{"P:a", "P:switch", "D:b\nc;d;"}));
    Feed(framer, "e;");
    EXPECT_EQ(rec.events.back(), "P:e");
}

// A handler that feeds the framer again: the nested scan cuts from the front of the buffer,
// so it delivers the bytes already waiting before the new ones, and the outer handler's
// packet string is left intact meanwhile.
TEST(FramerReentry, PacketHandlerFeedingMoreBytes) {
    TComDataPacket framer;
    framer.SetStopString("\n");
    std::vector<std::string> log;
    framer.OnPacket = [&](TObject*, const std::string& s) {
        log.push_back("in:" + s);
        if (s == "outer") Feed(framer, "nested\n");
        log.push_back("out:" + s);
    };
    Feed(framer, "outer\nlast\n");
    const std::vector<std::string> expected = {"in:outer", "in:last",    "out:last",
                                               "in:nested", "out:nested", "out:outer"};
    EXPECT_EQ(log, expected);
}

// A chunk of 100,000 lines is cut in a loop: every packet handler runs at the same stack
// depth, where a recursive scan would go a frame deeper for each line.
TEST(FramerScale, ManyPacketsInOneChunkDoNotDeepenTheStack) {
    TComDataPacket framer;
    framer.SetStopString("\n");
    std::string chunk;
    for (int i = 0; i < 100000; ++i) chunk += "ok\r\n";
    std::size_t packets = 0;
    std::uintptr_t lowest = UINTPTR_MAX;
    std::uintptr_t highest = 0;
    framer.OnPacket = [&](TObject*, const std::string& s) {
        const auto frame = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
        lowest = std::min(lowest, frame);
        highest = std::max(highest, frame);
        if (s == "ok\r") ++packets;
    };
    Feed(framer, chunk);
    EXPECT_EQ(packets, 100000u);
    EXPECT_LT(highest - lowest, 1024u);
    EXPECT_TRUE(framer.Buffer().empty());
}

}  // namespace

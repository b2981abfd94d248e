// Handlers that close, reopen or free the port, or change its links, in the middle of the
// port's own work: opening, closing, and the event steps under each delivery method.

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <memory>

#include "PortTestSupport.h"

namespace {

using namespace porttest;
using Strings = std::vector<std::string>;

const Strings kCloseSteps = {"link:CTSLine(off)", "link:DSRLine(off)", "link:RLSDLine(off)",
                             "CTSChange(off)",    "DSRChange(off)",    "RLSDChange(off)",
                             "BeforeClose",       "link:Connection(off)", "AfterClose"};

Strings Concat(Strings a, const Strings& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A handler run by a delivery closes the port, or frees it. The close completes (the thread
// is reaped once the step has returned), each close hook fires once, nothing hangs.
TEST(Reentry, CloseOrFreeFromInsideAnEventStep) {
    for (const TSyncMethod sync : {smThreadSync, smNone, smWindowSync}) {
        for (const bool free : {false, true}) {
            SCOPED_TRACE(std::to_string(sync) + (free ? " free" : " close"));
            Watchdog watchdog;
            auto p = std::make_unique<FakePort>();
            TComPort& port = p->port;
            port.SetSyncMethod(sync);
            port.SetEvents({evRxChar});
            std::atomic<int> beforeClose{0}, afterClose{0};
            std::atomic<bool> done{false};
            port.OnBeforeClose = [&](TObject*) { ++beforeClose; };
            port.OnAfterClose = [&](TObject*) { ++afterClose; };
            port.OnRxChar = [&](TObject*, std::int32_t) {
                // Freeing the port frees this handler too: work from the stack afterwards.
                std::atomic<bool>& finished = done;
                if (free)
                    p.reset();
                else
                    p->port.SetConnected(false);
                finished = true;
            };
            port.SetConnected(true);
            p->fake->InjectReceived("x");
            ASSERT_TRUE(ServeUntil([&] { return done.load(); }));
            if (!free) {
                ASSERT_TRUE(ServeUntil([&] { return p->port.State() == psClosed; }));
                EXPECT_FALSE(p->fake->IsOpen());
                EXPECT_EQ(p->port.EventThread(), nullptr);
                p->port.SetConnected(true);  // and it opens again
                EXPECT_TRUE(p->port.Connected());
                p->port.OnBeforeClose = p->port.OnAfterClose = nullptr;
                p.reset();
            }
            EXPECT_EQ(beforeClose.load(), 1);
            EXPECT_EQ(afterClose.load(), 1);
        }
    }
}

// A close requested while an outer close waits for the event thread (here: by the step that
// the wait serves) is part of that close: no hook or broadcast fires twice.
TEST(Reentry, ACloseDuringACloseFiresEveryHookOnce) {
    Watchdog watchdog;
    FakePort p;
    Recorder r(p.port);
    p.port.OnRxChar = [&](TObject*, std::int32_t) { p.port.SetConnected(false); };
    p.port.SetConnected(true);
    r.Take();
    p.fake->InjectReceived("x");
    ASSERT_TRUE(p.fake->AwaitWakeUps(1, 10s));  // the batch waits to be handed over
    p.port.SetConnected(false);
    Strings log = r.Take();
    std::erase(log, "link:RxActivity(on)");
    EXPECT_EQ(log, kCloseSteps);
    EXPECT_EQ(p.port.State(), psClosed);
}

// A close asked for by a handler while the port opens: before the device is up the open
// stops there; after it, the port closes and the rest of the open does not run. No error, no
// half-open port. The link's case is a double click on "Connect" served by a lamp that pumps
// messages while it lights up.
TEST(Reentry, ACloseDuringTheOpenLeavesThePortClosed) {
    struct Case {
        const char* where;
        Strings expected;
    };
    const Case cases[] = {
        {"BeforeOpen", {"BeforeOpen"}},
        {"link", Concat({"BeforeOpen", "link:Connection(on)"}, kCloseSteps)},
        {"AfterOpen", Concat({"BeforeOpen", "link:Connection(on)", "AfterOpen"}, kCloseSteps)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.where);
        FakePort p;
        Recorder r(p.port);
        TComLink lamp;
        p.port.AttachLink(&lamp);
        auto click = [&] { p.port.SetConnected(!p.port.Connected()); };
        const std::string where = c.where;
        if (where == "BeforeOpen")
            p.port.OnBeforeOpen = [&](TObject*) {
                r.Log("BeforeOpen");
                p.port.SetConnected(false);
            };
        if (where == "link")
            lamp.OnConnection = [&](TObject*, bool on) {
                if (on) click();
            };
        if (where == "AfterOpen")
            p.port.OnAfterOpen = [&](TObject*) {
                r.Log("AfterOpen");
                click();
            };
        EXPECT_NO_THROW(p.port.SetConnected(true));
        EXPECT_EQ(r.Take(), c.expected);
        EXPECT_EQ(p.port.State(), psClosed);
        EXPECT_FALSE(p.port.Connected());
        EXPECT_FALSE(p.fake->IsOpen());
        EXPECT_EQ(p.port.EventThread(), nullptr);
        p.port.DetachLink(&lamp);
    }
}

// Bytes taken by a handler between the count and the read are not handed on as zero bytes:
// the block holds exactly what the read returned, and nothing is handed on for none.
TEST(Reentry, AShortReadDeliversExactlyTheBytesRead) {
    struct Case {
        std::int32_t takenByHandler;
        Strings expected;
    };
    const Case cases[] = {
        {2, {"RxBuf(llo)", "link:RxData(llo)"}},
        {5, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.takenByHandler);
        FakePort p;
        p.port.SetEvents({});
        p.port.SetConnected(true);
        Recorder r(p.port, true);
        TComLink greedy;
        bool took = false;
        greedy.OnRxActivity = [&](TObject*, bool on) {
            if (!on || took) return;
            took = true;
            std::uint8_t buf[8];
            p.port.ReadBlock(buf, c.takenByHandler);
        };
        p.port.AttachLink(&greedy);
        p.fake->InjectReceived("hello");
        r.Take();
        p.port.HandleRxChar();
        Strings log = r.Take();
        std::erase_if(log, [](const std::string& e) { return e.starts_with("link:RxActivity"); });
        EXPECT_EQ(log, c.expected);
        p.port.DetachLink(&greedy);
    }
}

// A listener freed by a handler that runs during the read (OnRxBuf here) is never called;
// the links still attached get the bytes.
TEST(Reentry, ALinkFreedDuringTheReadIsNotCalled) {
    FakePort p;
    p.port.SetEvents({});
    p.port.SetConnected(true);
    Strings log;
    auto doomed = std::make_unique<TComLink>();
    doomed->OnRxData = [&](TObject*, const std::uint8_t*, std::int32_t) { log.push_back("doomed"); };
    TComLink survivor;
    survivor.OnRxData = [&](TObject*, const std::uint8_t* b, std::int32_t n) {
        log.push_back(std::string(reinterpret_cast<const char*>(b), std::size_t(n)));
    };
    p.port.AttachLink(doomed.get());
    p.port.AttachLink(&survivor);
    p.port.OnRxBuf = [&](TObject*, const std::uint8_t*, std::int32_t) {
        p.port.DetachLink(doomed.get());
        doomed.reset();
    };
    p.fake->InjectReceived("hello");
    p.port.HandleRxChar();
    EXPECT_EQ(log, Strings{"hello"});
    p.port.DetachLink(&survivor);
}

// No descriptors left for the event thread: the open fails as a whole with the port's error,
// the device is closed again and no open hook ran past the failure.
TEST(Reentry, AnEventThreadThatCannotStartFailsTheOpen) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer runtime itself needs descriptors to report";
#endif
    FakePort p;
    Recorder r(p.port);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    // Use up every descriptor below a limit just above the ones open now.
    std::vector<int> filler;
    rlimit tight = saved;
    tight.rlim_cur = 0;
    for (int fd = 0; fd < 4096; ++fd)
        if (::fcntl(fd, F_GETFD) != -1) tight.rlim_cur = rlim_t(fd) + 2;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    for (int fd; (fd = ::dup(0)) >= 0;) filler.push_back(fd);
    const int exhausted = errno;
    ExpectComError([&] { p.port.SetConnected(true); }, 1, "Unable to open com port (Error: 24)",
                   24);
    for (int fd : filler) ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(exhausted, EMFILE);
    EXPECT_FALSE(p.port.Connected());
    EXPECT_EQ(p.port.State(), psClosed);
    EXPECT_FALSE(p.fake->IsOpen());
    EXPECT_EQ(r.Take(), Strings{"BeforeOpen"});
    p.fake->ClearCalls();
    p.port.SetConnected(true);  // with descriptors back, it opens
    EXPECT_TRUE(p.port.Connected());
    p.port.SetConnected(false);
}

}  // namespace

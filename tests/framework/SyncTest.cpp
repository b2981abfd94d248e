#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <chrono>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Errors.h"
#include "Sync.h"

using namespace std::chrono_literals;
using framework::CheckSynchronize;

namespace {

// A one-shot flag another thread can wait for (bounded, so a fault fails instead of hanging).
class Flag {
public:
    void Set() {
        {
            std::lock_guard lock(m_);
            set_ = true;
        }
        cv_.notify_all();
    }
    bool Wait(std::chrono::seconds limit = 10s) {
        std::unique_lock lock(m_);
        return cv_.wait_for(lock, limit, [&] { return set_; });
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool set_ = false;
};

// True once thread `tid` of this process is seen asleep in the kernel (state S in /proc).
bool AwaitAsleep(pid_t tid) {
    const auto until = std::chrono::steady_clock::now() + 10s;
    const std::string path = "/proc/self/task/" + std::to_string(tid) + "/stat";
    while (std::chrono::steady_clock::now() < until) {
        std::ifstream in(path);
        std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const auto paren = stat.rfind(')');
        if (paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] == 'S')
            return true;
        std::this_thread::yield();
    }
    return false;
}

// Serves handed-over calls on this (the main) thread until `done` holds.
template <typename Pred>
void ServeUntil(Pred done) {
    while (!done()) CheckSynchronize(50ms);
}

TEST(Synchronize, RunsTheCallOnTheMainThreadAndBlocksTheWorker) {
    std::atomic<bool> ranOnMain{false};
    std::atomic<bool> workerPassed{false};
    std::thread worker([&] {
        framework::Synchronize([&] { ranOnMain = framework::IsMainThread(); });
        workerPassed = true;
    });
    ServeUntil([&] { return workerPassed.load(); });
    worker.join();
    EXPECT_TRUE(ranOnMain);
}

TEST(Synchronize, HandsTheExceptionBackToTheWorker) {
    std::string caught;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        try {
            framework::Synchronize([] { throw Exception("from the GUI thread"); });
        } catch (const Exception& e) {
            caught = e.Message();
        }
        done = true;
    });
    ServeUntil([&] { return done.load(); });
    worker.join();
    EXPECT_EQ(caught, "from the GUI thread");
}

TEST(Synchronize, OnTheMainThreadRunsDirectly) {
    int calls = 0;
    framework::Synchronize([&] { ++calls; });
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(CheckSynchronize());
}

TEST(Synchronize, WakeHookIsCalledForEachQueuedCall) {
    std::atomic<int> wakes{0};
    framework::SetWakeMainThread([&] { ++wakes; });
    std::atomic<bool> done{false};
    std::thread worker([&] {
        framework::Synchronize([] {});
        framework::Synchronize([] {});
        done = true;
    });
    ServeUntil([&] { return done.load(); });
    worker.join();
    framework::SetWakeMainThread(nullptr);
    EXPECT_EQ(wakes.load(), 2);
}

// A worker that hands calls over until told to stop, like a port's event thread.
class Pump : public framework::TThread {
public:
    std::atomic<int> served{0};
    std::atomic<bool> stop{false};

protected:
    void Execute() override {
        while (!stop) Synchronize([this] { ++served; });
    }
};

TEST(TThread, WaitForOnTheMainThreadServesCallsSoItCannotDeadlock) {
    Pump pump;
    pump.Start();
    ServeUntil([&] { return pump.served.load() >= 3; });
    // The worker is blocked in (or about to enter) a handed-over call while we wait for it.
    pump.stop = true;
    pump.WaitFor();
    EXPECT_TRUE(pump.Finished());
    EXPECT_FALSE(pump.FatalException());
}

class Thrower : public framework::TThread {
protected:
    void Execute() override {
        Synchronize([] { throw std::runtime_error("step failed"); });
    }
};

TEST(TThread, AnExceptionFromAHandedOverCallEndsTheThreadQuietly) {
    Thrower t;
    t.Start();
    t.WaitFor();
    ASSERT_TRUE(t.FatalException());
    EXPECT_THROW(std::rethrow_exception(t.FatalException()), std::runtime_error);
}

// The GUI thread asleep in CheckSynchronize is woken by the hand-over itself: no wake hook is
// installed, and the wait is long enough that a lost wake-up hangs the test. The largest wait
// means no limit, not a deadline in the past.
TEST(Synchronize, WakesTheMainThreadAsleepInCheckSynchronize) {
    for (const std::chrono::milliseconds wait :
         {std::chrono::milliseconds(std::chrono::hours(1)), std::chrono::milliseconds::max()}) {
        SCOPED_TRACE(wait.count());
        const pid_t mainTid = ::gettid();
        std::atomic<bool> ranOnMain{false};
        std::atomic<bool> sawMainAsleep{false};
        std::atomic<bool> done{false};
        std::thread worker([&] {
            sawMainAsleep = AwaitAsleep(mainTid);
            framework::Synchronize([&] { ranOnMain = framework::IsMainThread(); });
            done = true;
        });
        EXPECT_TRUE(CheckSynchronize(wait));
        ServeUntil([&] { return done.load(); });  // releases the worker if the wait failed
        worker.join();
        EXPECT_TRUE(sawMainAsleep);
        EXPECT_TRUE(ranOnMain);
    }
}

// A wake-up hook that throws hands its error to the worker and leaves nothing queued behind:
// the entry lived in the worker's frame.
TEST(Synchronize, AThrowingWakeHookLeavesNoEntryBehind) {
    framework::SetWakeMainThread([] { throw std::runtime_error("no event loop"); });
    std::atomic<bool> threw{false};
    bool ran = false;
    std::thread worker([&] {
        try {
            framework::Synchronize([&] { ran = true; });
        } catch (const std::runtime_error&) {
            threw = true;
        }
    });
    worker.join();
    framework::SetWakeMainThread(nullptr);
    EXPECT_TRUE(threw);
    EXPECT_FALSE(CheckSynchronize()) << "a dangling entry was left in the queue";
    EXPECT_FALSE(ran);
}

// Two workers queued at once: each is released by its own call, the first as soon as its call
// has run (while the second call still runs) and the second not before its call has run.
TEST(Synchronize, EachWorkerIsReleasedByItsOwnCall) {
    std::mutex m;
    std::condition_variable cv;
    int queued = 0;
    framework::SetWakeMainThread([&] {
        std::lock_guard lock(m);
        ++queued;
        cv.notify_all();
    });
    auto awaitQueued = [&](int n) {
        std::unique_lock lock(m);
        return cv.wait_for(lock, 10s, [&] { return queued >= n; });
    };
    Flag firstBack;
    std::atomic<bool> secondBack{false};
    bool firstBackSeenBySecondCall = false;
    bool secondBackSeenBySecondCall = true;
    std::thread first([&] {
        framework::Synchronize([] {});
        firstBack.Set();
    });
    ASSERT_TRUE(awaitQueued(1));
    std::thread second([&] {
        framework::Synchronize([&] {
            firstBackSeenBySecondCall = firstBack.Wait();
            secondBackSeenBySecondCall = secondBack.load();
        });
        secondBack = true;
    });
    ASSERT_TRUE(awaitQueued(2));
    EXPECT_TRUE(CheckSynchronize());  // runs both, in queue order
    first.join();
    second.join();
    framework::SetWakeMainThread(nullptr);
    EXPECT_TRUE(firstBackSeenBySecondCall);
    EXPECT_FALSE(secondBackSeenBySecondCall);
    EXPECT_TRUE(secondBack);
}

class EndsOnceMainSleeps : public framework::TThread {
public:
    explicit EndsOnceMainSleeps(pid_t mainTid) : mainTid_(mainTid) {}
    std::atomic<bool> sawMainAsleep{false};

protected:
    void Execute() override { sawMainAsleep = AwaitAsleep(mainTid_); }

private:
    pid_t mainTid_;
};

// WaitFor on the main thread sleeps until the thread ends, and the end alone wakes it.
TEST(TThread, WaitForOnTheMainThreadIsWokenByTheEnd) {
    EndsOnceMainSleeps t(::gettid());
    t.Start();
    t.WaitFor();
    EXPECT_TRUE(t.Finished());
    EXPECT_TRUE(t.sawMainAsleep);
    EXPECT_FALSE(CheckSynchronize());
}

TEST(MessageTarget, SendFromAWorkerReturnsOnceHandlingHasStarted) {
    Flag senderBack;
    bool senderBackSeenInHandler = false;
    bool inSend = false;
    unsigned seenMessage = 0;
    std::uintptr_t seenParam = 0;
    framework::MessageTarget target([&](unsigned m, std::uintptr_t w, std::intptr_t) {
        seenMessage = m;
        seenParam = w;
        inSend = framework::MessageTarget::InSendMessage();
        // The sender was released before we ran: it gets back while we are still here.
        senderBackSeenInHandler = senderBack.Wait();
        return std::intptr_t{0};
    });
    std::thread worker([&] {
        target.Send(1025, 32, 0);
        senderBack.Set();
    });
    ServeUntil([&] { return seenMessage != 0; });
    worker.join();
    EXPECT_EQ(seenMessage, 1025u);
    EXPECT_EQ(seenParam, 32u);
    EXPECT_TRUE(inSend);
    EXPECT_TRUE(senderBackSeenInHandler);
}

TEST(MessageTarget, ReleasingTheTargetLetsAWaitingSenderGo) {
    auto target = std::make_unique<framework::MessageTarget>(
        [](unsigned, std::uintptr_t, std::intptr_t) -> std::intptr_t {
            ADD_FAILURE() << "a message for a released target ran";
            return 0;
        });
    Flag queued;
    framework::SetWakeMainThread([&] { queued.Set(); });
    std::thread worker([&] { target->Send(1025, 1, 0); });
    EXPECT_TRUE(queued.Wait());
    target.reset();  // drops the queued message and releases the sender
    worker.join();
    framework::SetWakeMainThread(nullptr);
    EXPECT_FALSE(CheckSynchronize());
}

TEST(DefaultErrorReport, GuardedHandsEscapingErrorsToTheHook) {
    std::string shown;
    framework::SetDefaultErrorReport([&](const std::string& m) { shown = m; });
    framework::Guarded([] { throw Exception("Port Not Open"); });
    framework::SetDefaultErrorReport(nullptr);
    EXPECT_EQ(shown, "Port Not Open");
}

}  // namespace

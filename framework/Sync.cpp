#include "Sync.h"

#include <semaphore.h>
#include <time.h>

#include <cerrno>
#include <algorithm>
#include <deque>
#include <mutex>
#include <vector>

#include "Errors.h"

namespace framework {

namespace {

// About 30 years: longer waits are taken as "no limit" rather than overflowing the clock.
constexpr std::chrono::milliseconds kNoDeadline = std::chrono::hours(24 * 365 * 30);

void SemWait(sem_t* sem) {
    while (sem_wait(sem) != 0 && errno == EINTR) {
    }
}

}  // namespace

struct SyncQueue {
    // Wakes the one thread that queued an entry, and no other. A semaphore rather than a
    // condition variable shared by every waiter: a post is a single wake-up of that thread, the
    // woken thread takes no lock on its way out, and it may destroy the semaphore as soon as
    // its wait has returned (the entry lives in its frame).
    class Signal {
    public:
        Signal() { sem_init(&sem_, 0, 0); }
        ~Signal() { sem_destroy(&sem_); }
        Signal(const Signal&) = delete;
        Signal& operator=(const Signal&) = delete;
        void Post() { sem_post(&sem_); }
        void Wait() { SemWait(&sem_); }

    private:
        sem_t sem_;
    };

    // Where the GUI thread sleeps when it has nothing to run (normally only that thread does).
    // A wake-up is made only for a thread that sleeps here, it is one semaphore post, and the
    // woken thread leaves without a wake-up of its own: a condition variable would retake the
    // queue's mutex on the way out and mark it contended, costing a futex call per hand-over.
    class Sleepers {
    public:
        Sleepers() { sem_init(&sem_, 0, 0); }
        ~Sleepers() { sem_destroy(&sem_); }
        Sleepers(const Sleepers&) = delete;
        Sleepers& operator=(const Sleepers&) = delete;

        // Called with the queue's mutex held by `lock`; returns with it held again, once woken
        // or at `deadline` (CLOCK_MONOTONIC; none: no limit), whichever comes first. The
        // caller checks what it waits for again: a wake-up only says that something changed.
        void Sleep(std::unique_lock<std::mutex>& lock, const timespec* deadline) {
            ++asleep_;
            lock.unlock();
            bool woken = true;
            if (deadline) {
                int r;
                while ((r = sem_clockwait(&sem_, CLOCK_MONOTONIC, deadline)) != 0 &&
                       errno == EINTR) {
                }
                woken = r == 0;
            } else {
                SemWait(&sem_);
            }
            lock.lock();
            if (woken) return;
            if (asleep_ > 0) {
                --asleep_;  // nobody has counted on waking us
            } else {
                // A waker took our registration just as the wait timed out; its post is made
                // or about to be. Take it, so no post is left over for a later sleep.
                lock.unlock();
                SemWait(&sem_);
                lock.lock();
            }
        }

        // With the queue's mutex held: takes every sleeper off the list. Post that many
        // wake-ups once the mutex is released.
        int TakeAll() {
            const int n = asleep_;
            asleep_ = 0;
            return n;
        }
        void Post(int count) {
            for (; count > 0; --count) sem_post(&sem_);
        }

    private:
        sem_t sem_;
        int asleep_ = 0;  // threads in Sleep not yet taken by TakeAll
    };

    // One item of work for the GUI thread. It lives in the frame of the thread that queued it,
    // which stays blocked until the GUI thread releases it: once started (messages) or done
    // (calls). After the release the GUI thread no longer touches it.
    struct Entry {
        const std::function<void()>* call = nullptr;
        MessageTarget* target = nullptr;
        unsigned message = 0;
        std::uintptr_t wParam = 0;
        std::intptr_t lParam = 0;
        std::exception_ptr error;
        Signal released;  // the queuing thread may go on
    };

    std::mutex mutex;
    Sleepers gui;  // for work to run, or for a thread's end
    std::deque<Entry*> pending;
    std::function<void()> wake;
    std::function<void()> processMessages;

    static SyncQueue& Get() {
        static SyncQueue queue;
        return queue;
    }

    // With the mutex held by `lock`: releases it and wakes whoever sleeps for the change just
    // made. A GUI thread that is busy gets no wake-up call: it looks again before it sleeps.
    void UnlockAndWakeGui(std::unique_lock<std::mutex>& lock) {
        const int sleepers = gui.TakeAll();
        lock.unlock();
        gui.Post(sleepers);
    }

    // Queues the entry, wakes the GUI thread and blocks until the entry is released.
    void QueueAndWait(Entry& entry) {
        std::unique_lock lock(mutex);
        pending.push_back(&entry);
        std::function<void()> wakeHook;
        if (wake) wakeHook = wake;
        UnlockAndWakeGui(lock);
        if (wakeHook) {
            try {
                wakeHook();
            } catch (...) {
                // The entry lives in our frame: it must not stay queued once we leave. If the
                // GUI thread has already taken it, wait until it lets go.
                bool queued = false;
                {
                    std::lock_guard relock(mutex);
                    const auto it = std::find(pending.begin(), pending.end(), &entry);
                    queued = it != pending.end();
                    if (queued) pending.erase(it);
                }
                if (!queued) entry.released.Wait();
                throw;
            }
        }
        entry.released.Wait();
    }

    void DropFor(MessageTarget* target) {
        std::vector<Entry*> dropped;
        {
            std::lock_guard lock(mutex);
            for (auto it = pending.begin(); it != pending.end();) {
                if ((*it)->target == target) {
                    dropped.push_back(*it);
                    it = pending.erase(it);
                } else {
                    ++it;
                }
            }
        }
        for (Entry* e : dropped) e->released.Post();
    }

    bool RunPending(std::chrono::milliseconds wait);
};

namespace {
std::atomic<std::thread::id> mainThread{std::this_thread::get_id()};
thread_local bool inSendMessage = false;
}  // namespace

bool IsMainThread() { return std::this_thread::get_id() == mainThread.load(); }
void SetMainThread(std::thread::id id) { mainThread.store(id); }

void SetWakeMainThread(std::function<void()> hook) {
    auto& q = SyncQueue::Get();
    std::lock_guard lock(q.mutex);
    q.wake = std::move(hook);
}

void Synchronize(const std::function<void()>& call) {
    if (IsMainThread()) {
        call();
        return;
    }
    SyncQueue::Entry entry;
    entry.call = &call;
    SyncQueue::Get().QueueAndWait(entry);
    if (entry.error) std::rethrow_exception(entry.error);
}

bool SyncQueue::RunPending(std::chrono::milliseconds wait) {
    std::size_t count = 0;
    {
        std::unique_lock lock(mutex);
        // A wait too long to be a deadline (milliseconds::max() and the like) has no limit.
        if (pending.empty() && wait >= kNoDeadline) {
            while (pending.empty()) gui.Sleep(lock, nullptr);
        } else if (pending.empty() && wait.count() > 0) {
            // steady_clock is CLOCK_MONOTONIC, the clock the sleep measures its deadline on.
            const auto end = std::chrono::steady_clock::now() + wait;
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                end.time_since_epoch())
                                .count();
            const timespec deadline{static_cast<time_t>(ns / 1000000000),
                                    static_cast<long>(ns % 1000000000)};
            while (pending.empty() && std::chrono::steady_clock::now() < end)
                gui.Sleep(lock, &deadline);
        }
        count = pending.size();
    }
    // One at a time, and only what was there on entry: a handler may release a target whose
    // later messages must then be dropped, and work queued meanwhile waits for the next round.
    bool ran = false;
    for (; count > 0; --count) {
        Entry* entry = nullptr;
        {
            std::lock_guard lock(mutex);
            if (pending.empty()) break;
            entry = pending.front();
            pending.pop_front();
        }
        ran = true;
        if (entry->call) {
            try {
                (*entry->call)();
            } catch (...) {
                entry->error = std::current_exception();
            }
            entry->released.Post();
            continue;
        }
        // A message: copy what the handler needs, then let the sender go on before it runs.
        MessageTarget* target = entry->target;
        const unsigned message = entry->message;
        const std::uintptr_t wParam = entry->wParam;
        const std::intptr_t lParam = entry->lParam;
        entry->released.Post();
        // A copy, because the handler may release its own target while it runs.
        const MessageTarget::Handler handler = target->handler_;
        inSendMessage = true;
        try {
            handler(message, wParam, lParam);
        } catch (...) {
            ShowCurrentException();
        }
        inSendMessage = false;
    }
    return ran;
}

bool CheckSynchronize(std::chrono::milliseconds wait) {
    return SyncQueue::Get().RunPending(wait);
}

void SetProcessMessages(std::function<void()> hook) {
    auto& q = SyncQueue::Get();
    std::lock_guard lock(q.mutex);
    q.processMessages = std::move(hook);
}

void ProcessMessages() {
    std::function<void()> hook;
    {
        auto& q = SyncQueue::Get();
        std::lock_guard lock(q.mutex);
        hook = q.processMessages;
    }
    if (hook)
        hook();
    else
        CheckSynchronize();
}

MessageTarget::MessageTarget(Handler handler) : handler_(std::move(handler)) {}

MessageTarget::~MessageTarget() { SyncQueue::Get().DropFor(this); }

std::intptr_t MessageTarget::Send(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
    if (IsMainThread()) return handler_(message, wParam, lParam);
    SyncQueue::Entry entry;
    entry.target = this;
    entry.message = message;
    entry.wParam = wParam;
    entry.lParam = lParam;
    SyncQueue::Get().QueueAndWait(entry);
    return 0;
}

bool MessageTarget::InSendMessage() { return inSendMessage; }

TThread::TThread() = default;

TThread::~TThread() {
    if (thread_.joinable()) {
        Terminate();
        WaitFor();
    }
}

void TThread::Start() {
    if (thread_.joinable() || finished_) return;
    thread_ = std::thread([this] { Run(); });
}

void TThread::Run() {
    try {
        Execute();
    } catch (...) {
        fatal_ = std::current_exception();
    }
    auto& q = SyncQueue::Get();
    std::unique_lock lock(q.mutex);
    finished_ = true;
    const bool freeSelf = freeOnTerminate_;
    q.UnlockAndWakeGui(lock);
    if (freeSelf) delete this;
}

void TThread::FreeOnTerminate() {
    auto& q = SyncQueue::Get();
    std::unique_lock lock(q.mutex);
    if (!finished_ && thread_.joinable()) {
        freeOnTerminate_ = true;
        thread_.detach();
        return;
    }
    lock.unlock();
    if (thread_.joinable()) thread_.join();
    delete this;
}

void TThread::WaitFor() {
    if (!thread_.joinable()) return;
    if (IsMainThread()) {
        auto& q = SyncQueue::Get();
        for (;;) {
            {
                std::unique_lock lock(q.mutex);
                while (!finished_ && q.pending.empty()) q.gui.Sleep(lock, nullptr);
                if (finished_ && q.pending.empty()) break;
            }
            q.RunPending(std::chrono::milliseconds(0));
        }
    }
    thread_.join();
}

}  // namespace framework

#include "Sync.h"

#include <condition_variable>
#include <deque>
#include <mutex>

#include "Errors.h"

namespace framework {

struct SyncQueue {
    // One item of work for the GUI thread. It lives in the frame of the thread that queued it,
    // which stays blocked until the GUI thread marks it started (messages) or done (calls).
    struct Entry {
        const std::function<void()>* call = nullptr;
        MessageTarget* target = nullptr;
        unsigned message = 0;
        std::uintptr_t wParam = 0;
        std::intptr_t lParam = 0;
        bool released = false;  // the queuing thread may go on
        std::exception_ptr error;
    };

    std::mutex mutex;
    std::condition_variable changed;  // something queued, released, or a thread finished
    std::deque<Entry*> pending;
    std::function<void()> wake;
    std::function<void()> processMessages;

    static SyncQueue& Get() {
        static SyncQueue queue;
        return queue;
    }

    // Queues the entry, wakes the GUI thread and blocks until the entry is released.
    void QueueAndWait(Entry& entry) {
        std::function<void()> wakeHook;
        {
            std::lock_guard lock(mutex);
            pending.push_back(&entry);
            wakeHook = wake;
        }
        changed.notify_all();
        if (wakeHook) wakeHook();
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return entry.released; });
    }

    void Release(Entry& entry) {
        {
            std::lock_guard lock(mutex);
            entry.released = true;
        }
        changed.notify_all();
    }

    void DropFor(MessageTarget* target) {
        {
            std::lock_guard lock(mutex);
            for (auto it = pending.begin(); it != pending.end();) {
                if ((*it)->target == target) {
                    (*it)->released = true;
                    it = pending.erase(it);
                } else {
                    ++it;
                }
            }
        }
        changed.notify_all();
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
        if (pending.empty() && wait.count() > 0)
            changed.wait_for(lock, wait, [&] { return !pending.empty(); });
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
            Release(*entry);
            continue;
        }
        // A message: copy what the handler needs, then let the sender go on before it runs.
        MessageTarget* target = entry->target;
        const unsigned message = entry->message;
        const std::uintptr_t wParam = entry->wParam;
        const std::intptr_t lParam = entry->lParam;
        Release(*entry);
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
    {
        std::lock_guard lock(q.mutex);
        finished_ = true;
    }
    q.changed.notify_all();
}

void TThread::WaitFor() {
    if (!thread_.joinable()) return;
    if (IsMainThread()) {
        auto& q = SyncQueue::Get();
        for (;;) {
            {
                std::unique_lock lock(q.mutex);
                q.changed.wait(lock, [&] { return finished_.load() || !q.pending.empty(); });
                if (finished_ && q.pending.empty()) break;
            }
            q.RunPending(std::chrono::milliseconds(0));
        }
    }
    thread_.join();
}

}  // namespace framework

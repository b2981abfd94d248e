#pragma once
// Handing work from background threads to the GUI thread.
//
// A worker hands a call over with Synchronize and blocks until the GUI thread has run it; an
// exception from the call is re-thrown on the worker. A worker can also "send" a message to a
// MessageTarget owned by the GUI thread; that send returns as soon as handling has started.
// The GUI thread runs what is pending when it is woken (the application installs the wake-up
// hook) and also while it waits for a worker thread to end, so ending a thread never deadlocks
// against a call that thread is waiting on.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <thread>

namespace framework {

// The thread that owns the components and runs the handed-over calls: the process's main
// thread unless a test loop claims it.
bool IsMainThread();
void SetMainThread(std::thread::id id);

// Called (from any thread) whenever work is queued for the GUI thread. The Qt application
// posts a queued invocation of CheckSynchronize into its event loop.
void SetWakeMainThread(std::function<void()> hook);

// Runs `call` on the GUI thread and blocks until it has run. Called on the GUI thread itself,
// it runs the call directly. Whatever the call throws is re-thrown here.
void Synchronize(const std::function<void()>& call);

// On the GUI thread: runs every pending call and message. When nothing is pending it waits up
// to `wait` for something to arrive. Returns whether anything ran.
bool CheckSynchronize(std::chrono::milliseconds wait = std::chrono::milliseconds(0));

// Runs pending GUI work now: the application installs its event processing here; without a
// hook it runs the pending synchronised calls.
void SetProcessMessages(std::function<void()> hook);
void ProcessMessages();

// A receiver of messages on the GUI thread (the stand-in for a hidden window).
class MessageTarget {
public:
    using Handler = std::function<std::intptr_t(unsigned message, std::uintptr_t wParam,
                                                std::intptr_t lParam)>;
    explicit MessageTarget(Handler handler);
    // Messages still queued for the target are dropped and their senders released.
    ~MessageTarget();
    MessageTarget(const MessageTarget&) = delete;
    MessageTarget& operator=(const MessageTarget&) = delete;

    // Blocking send. From the GUI thread the handler runs at once and its result is returned.
    // From another thread the message is queued for the GUI thread and the call returns (with
    // 0) once the handler has started there, or once the target is released.
    std::intptr_t Send(unsigned message, std::uintptr_t wParam, std::intptr_t lParam);

    // True inside a handler that is running for a send from another thread.
    static bool InSendMessage();

private:
    friend struct SyncQueue;
    Handler handler_;
};

// A thread created suspended, started explicitly, that runs Execute once.
class TThread {
public:
    TThread();
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    void Start();
    void Terminate() { terminated_ = true; }
    bool Terminated() const { return terminated_; }
    bool Finished() const { return finished_; }

    // Waits for Execute to end. On the GUI thread the wait keeps running handed-over calls and
    // messages. Call it once, from the thread that owns this object.
    void WaitFor();

    // Hands the object to its own thread, which deletes it once Execute has ended (at once
    // when it already has). For an owner that cannot wait for the end, for example because
    // it runs inside a call the thread is blocked on. The caller must not touch it again.
    void FreeOnTerminate();

    // The exception that ended Execute, if any.
    std::exception_ptr FatalException() const { return fatal_; }

protected:
    virtual void Execute() = 0;
    void Synchronize(const std::function<void()>& call) { framework::Synchronize(call); }

private:
    void Run();

    std::thread thread_;
    std::atomic<bool> terminated_{false};
    std::atomic<bool> finished_{false};
    bool freeOnTerminate_ = false;  // guarded by the call queue's mutex
    std::exception_ptr fatal_;
};

}  // namespace framework

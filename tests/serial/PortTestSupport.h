#pragma once
// Shared by the port tests: a port on a fake device, and a recorder that logs, in one list,
// every link call and published event the port makes.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <memory>
#include <string>
#include <vector>

#include "CPort.h"
#include "FakeDevice.h"

namespace porttest {

using namespace std::chrono_literals;
using device::FakeDevice;

// A port whose device is a fake the test scripts.
struct FakePort {
    FakePort() {
        auto dev = std::make_unique<FakeDevice>();
        fake = dev.get();
        port.SetName("ComPort1");
        port.SetDevice(std::move(dev));
    }
    TComPort port;
    FakeDevice* fake = nullptr;
};

inline std::string OnOff(bool on) { return on ? "on" : "off"; }

// Logs link slots as "link:Slot(arg)" and events as "Event(arg)".
class Recorder {
public:
    explicit Recorder(TCustomComPort& port, bool bufferLink = false) : port_(port) {
        auto state = [this](const char* name) {
            return [this, name](TObject*, bool on) { Log(std::string("link:") + name + "(" + OnOff(on) + ")"); };
        };
        auto event = [this](const char* name) {
            return [this, name](TObject*) { Log(std::string("link:") + name); };
        };
        link.OnConnection = state("Connection");
        link.OnCTSLine = state("CTSLine");
        link.OnDSRLine = state("DSRLine");
        link.OnRLSDLine = state("RLSDLine");
        link.OnTxActivity = state("TxActivity");
        link.OnRxActivity = state("RxActivity");
        link.OnTxQueueEmpty = event("TxQueueEmpty");
        link.OnFlagChar = event("FlagChar");
        link.OnRingLine = event("RingLine");
        link.OnTxData = [this](TObject*, const std::uint8_t* b, std::int32_t n) {
            Log("link:TxData(" + std::string(reinterpret_cast<const char*>(b), std::size_t(n)) + ")");
        };
        if (bufferLink)
            link.OnRxData = [this](TObject*, const std::uint8_t* b, std::int32_t n) {
                Log("link:RxData(" + std::string(reinterpret_cast<const char*>(b), std::size_t(n)) + ")");
            };

        auto notify = [this](const char* name) { return [this, name](TObject*) { Log(name); }; };
        auto signal = [this](const char* name) {
            return [this, name](TObject*, bool on) { Log(std::string(name) + "(" + OnOff(on) + ")"); };
        };
        port.OnBeforeOpen = notify("BeforeOpen");
        port.OnAfterOpen = notify("AfterOpen");
        port.OnBeforeClose = notify("BeforeClose");
        port.OnAfterClose = notify("AfterClose");
        port.OnTxEmpty = notify("TxEmpty");
        port.OnBreak = notify("Break");
        port.OnRing = notify("Ring");
        port.OnRxFlag = notify("RxFlag");
        port.OnRx80Full = notify("Rx80Full");
        port.OnCTSChange = signal("CTSChange");
        port.OnDSRChange = signal("DSRChange");
        port.OnRLSDChange = signal("RLSDChange");
        port.OnRxChar = [this](TObject*, std::int32_t n) { Log("RxChar(" + std::to_string(n) + ")"); };
        port.OnRxBuf = [this](TObject*, const std::uint8_t* b, std::int32_t n) {
            Log("RxBuf(" + std::string(reinterpret_cast<const char*>(b), std::size_t(n)) + ")");
        };
        port.OnError = [this](TObject*, TComErrors e) { Log("Error(" + std::to_string(e.ToBits()) + ")"); };
        port.AttachLink(&link);
    }
    // The port may outlive the recorder (and close itself later): leave it no handler that
    // points here.
    ~Recorder() {
        try {
            port_.DetachLink(&link);
        } catch (...) {
        }
        port_.OnBeforeOpen = port_.OnAfterOpen = port_.OnBeforeClose = port_.OnAfterClose = nullptr;
        port_.OnTxEmpty = port_.OnBreak = port_.OnRing = port_.OnRxFlag = port_.OnRx80Full = nullptr;
        port_.OnCTSChange = port_.OnDSRChange = port_.OnRLSDChange = nullptr;
        port_.OnRxChar = nullptr;
        port_.OnRxBuf = nullptr;
        port_.OnError = nullptr;
    }

    void Log(std::string entry) { log.push_back(std::move(entry)); }
    std::vector<std::string> Take() {
        auto out = std::move(log);
        log.clear();
        return out;
    }

    TComLink link;
    std::vector<std::string> log;

private:
    TCustomComPort& port_;
};

// Serves handed-over calls on this thread until `done` holds (bounded, so a fault fails).
template <typename Pred>
bool ServeUntil(Pred done, std::chrono::seconds limit = 10s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        framework::CheckSynchronize(50ms);
    }
    return true;
}

// Runs `fn`, expecting EComPort with the given code, message and system code.
template <typename Fn>
void ExpectComError(Fn fn, int code, const std::string& message, int systemCode) {
    try {
        fn();
        ADD_FAILURE() << "no EComPort for code " << code;
    } catch (const EComPort& e) {
        EXPECT_EQ(e.FailureCode, code);
        EXPECT_EQ(e.Message(), message);
        EXPECT_EQ(e.SystemCode, systemCode);
    }
}

}  // namespace porttest

namespace porttest {

// Ends the test process with a failure when a scope takes longer than `limit`: for faults
// that would otherwise hang the test rather than fail it.
class Watchdog {
public:
    explicit Watchdog(std::chrono::seconds limit = 30s)
        : thread_([this, limit] {
              std::unique_lock lk(mu_);
              if (!cv_.wait_for(lk, limit, [&] { return done_; })) {
                  std::fprintf(stderr, "Watchdog: the test hung\n");
                  std::_Exit(1);
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard lk(mu_);
            done_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }

private:
    std::mutex mu_;
    std::condition_variable cv_;
    bool done_ = false;
    std::thread thread_;
};

}  // namespace porttest

// Round trip of 1,000 short lines on one pseudo-terminal pair whose far end echoes every
// line: our port (WriteText, event thread, link) and, on the same pty in the same run, Qt
// Serial Port in its own event loop. Prints p50/p99 for both, the event thread's wake-ups
// during 2 s of idle connection, and the ratio of the medians last.
//
// The two ports take turns: the lines are measured in rounds, each port opening the pty for
// its share of a round, and the side that goes first alternates. So a busy spell on a shared
// machine falls on both sides alike instead of on whichever ran first. Each session sends one
// line before it starts measuring, so per-open set-up is not counted as a round trip.
//
// Options (the defaults are what the figures are quoted with):
//   --lines N                  lines measured per port (1000)
//   --rounds N                 turns the lines are split into (10)
//   --events all|rx            our port's Events: all ten, or only evRxChar (all)
//   --sync thread|window|none  our port's SyncMethod (thread); under none the link is
//                              called on the event thread and the main thread waits on a flag
//   --only ours|qt             measure one side only; the ratio is then n/a
//   --cpu N                    run every thread of the process on CPU N: each side's round
//                              trip is then its work alone, without the wake-up latency of
//                              another (idle) CPU, which dominates on a small virtual machine

#include <poll.h>
#include <pty.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CPort.h"

#ifdef TARNWICK_HAVE_QTSERIALPORT
#include <QCoreApplication>
#include <QEventLoop>
#include <QSerialPort>
#endif

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

const std::string kLine = "G1 X12.500 Y-3.250 F100\n";

struct Options {
    int lines = 1000;
    int rounds = 10;
    bool rxOnly = false;
    TSyncMethod sync = smThreadSync;
    bool ours = true;
    bool qt = true;
    int cpu = -1;
};

void Usage(const char* argv0) {
    std::fprintf(stderr,
                 "usage: %s [--lines N] [--rounds N] [--events all|rx] "
                 "[--sync thread|window|none] [--only ours|qt] [--cpu N]\n",
                 argv0);
}

bool ParseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        auto number = [&](int& out, long min = 1) {
            if (!value) return false;
            long n = 0;
            const char* last = value + std::strlen(value);
            const auto [end, ec] = std::from_chars(value, last, n);
            if (ec != std::errc{} || end != last || n < min || n > 1000000) return false;
            out = static_cast<int>(n);
            ++i;
            return true;
        };
        auto choice = [&](const char* a, const char* b, const char* c = nullptr) -> int {
            if (!value) return -1;
            ++i;
            if (std::strcmp(value, a) == 0) return 0;
            if (std::strcmp(value, b) == 0) return 1;
            if (c && std::strcmp(value, c) == 0) return 2;
            return -1;
        };
        if (arg == "--lines") {
            if (!number(o.lines)) return false;
        } else if (arg == "--rounds") {
            if (!number(o.rounds)) return false;
        } else if (arg == "--events") {
            const int c = choice("all", "rx");
            if (c < 0) return false;
            o.rxOnly = c == 1;
        } else if (arg == "--sync") {
            const int c = choice("thread", "window", "none");
            if (c < 0) return false;
            o.sync = c == 0 ? smThreadSync : c == 1 ? smWindowSync : smNone;
        } else if (arg == "--cpu") {
            if (!number(o.cpu, 0) || o.cpu >= CPU_SETSIZE) return false;
        } else if (arg == "--only") {
            const int c = choice("ours", "qt");
            if (c < 0) return false;
            o.ours = c == 0;
            o.qt = c == 1;
        } else {
            return false;
        }
    }
    o.rounds = std::min(o.rounds, o.lines);
    return true;
}

// The far end: echoes whatever arrives, until told to stop.
class Echo {
public:
    explicit Echo(int master) : master_(master) {
        if (pipe(stopPipe_) != 0) std::perror("pipe");
        thread_ = std::thread([this] { Run(); });
    }
    ~Echo() {
        const char c = 0;
        if (write(stopPipe_[1], &c, 1) < 0) std::perror("write");
        thread_.join();
        close(stopPipe_[0]);
        close(stopPipe_[1]);
    }

private:
    void Run() {
        char buf[4096];
        for (;;) {
            pollfd fds[2] = {{master_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
            if (poll(fds, 2, -1) < 0) continue;
            if (fds[1].revents) return;
            if (fds[0].revents & POLLIN) {
                const ssize_t n = read(master_, buf, sizeof buf);
                if (n > 0) {
                    ssize_t off = 0;
                    while (off < n) {
                        const ssize_t w = write(master_, buf + off, static_cast<size_t>(n - off));
                        if (w > 0) off += w;
                    }
                }
            } else if (fds[0].revents) {
                return;
            }
        }
    }
    int master_;
    int stopPipe_[2] = {-1, -1};
    std::thread thread_;
};

struct Stats {
    double p50, p99;
};

Stats Summarise(std::vector<double> us) {
    if (us.empty()) return {0, 0};
    std::sort(us.begin(), us.end());
    return {us[us.size() / 2], us[us.size() * 99 / 100]};
}

double MicrosSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
}

// Our port for one session: opened on construction, closed on destruction.
class OurSession {
public:
    OurSession(const std::string& path, const Options& o) : sync_(o.sync) {
        port_.SetPort(path);
        port_.SetBaudRate(br115200);
        if (o.rxOnly) port_.SetEvents({evRxChar});
        port_.SetSyncMethod(o.sync);
        link_.OnRxData = [this](TObject*, const std::uint8_t*, std::int32_t count) {
            {
                std::lock_guard lock(mutex_);
                received_ += static_cast<std::size_t>(count);
            }
            if (sync_ == smNone) arrived_.notify_one();
        };
        port_.AttachLink(&link_);
        port_.SetConnected(true);
        RoundTrip();  // warm-up, not measured
    }
    ~OurSession() {
        port_.SetConnected(false);
        port_.DetachLink(&link_);
    }

    void Measure(int lines, std::vector<double>& us) {
        for (int i = 0; i < lines; ++i) us.push_back(RoundTrip());
    }

    // Idle: nothing arrives, so the event thread should not wake at all.
    std::uint64_t IdleWakeUps() {
        framework::CheckSynchronize(200ms);  // let the last transmit-empty settle
        const std::uint64_t before = port_.EventThread()->WakeUps();
        const auto end = Clock::now() + 2s;
        while (Clock::now() < end) framework::CheckSynchronize(100ms);
        return port_.EventThread()->WakeUps() - before;
    }

private:
    double RoundTrip() {
        {
            std::lock_guard lock(mutex_);
            received_ = 0;
        }
        const auto t0 = Clock::now();
        port_.WriteText(kLine);
        if (sync_ == smNone) {
            std::unique_lock lock(mutex_);
            arrived_.wait(lock, [&] { return received_ >= kLine.size(); });
        } else {
            // The link runs on this thread, inside CheckSynchronize.
            while (received_ < kLine.size()) framework::CheckSynchronize(1000ms);
        }
        return MicrosSince(t0);
    }

    TSyncMethod sync_;
    TComPort port_;
    TComLink link_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::size_t received_ = 0;
};

#ifdef TARNWICK_HAVE_QTSERIALPORT
// Qt Serial Port for one session, in its own event loop.
class QtSession {
public:
    explicit QtSession(const std::string& path) : port_(QString::fromStdString(path)) {
        port_.setBaudRate(115200);
        ok_ = port_.open(QIODevice::ReadWrite);
        if (!ok_) {
            std::fprintf(stderr, "Qt Serial Port: %s\n",
                         port_.errorString().toLocal8Bit().constData());
            return;
        }
        QObject::connect(&port_, &QSerialPort::readyRead, [this] {
            received_ += port_.readAll().size();
            if (received_ >= static_cast<qint64>(kLine.size())) loop_.quit();
        });
        RoundTrip();  // warm-up, not measured
    }
    ~QtSession() {
        if (ok_) port_.close();
    }
    bool Ok() const { return ok_; }

    void Measure(int lines, std::vector<double>& us) {
        for (int i = 0; i < lines && ok_; ++i) us.push_back(RoundTrip());
    }

private:
    double RoundTrip() {
        received_ = 0;
        const auto t0 = Clock::now();
        port_.write(kLine.data(), static_cast<qint64>(kLine.size()));
        loop_.exec();
        return MicrosSince(t0);
    }

    QSerialPort port_;
    QEventLoop loop_;
    qint64 received_ = 0;
    bool ok_ = false;
};
#endif

}  // namespace

int main(int argc, char** argv) {
    Options opt;
    if (!ParseOptions(argc, argv, opt)) {
        Usage(argv[0]);
        return 2;
    }
    if (opt.cpu >= 0) {
        // Before any thread starts, so that every thread inherits it.
        cpu_set_t set;
        CPU_ZERO(&set);
        CPU_SET(opt.cpu, &set);
        if (sched_setaffinity(0, sizeof set, &set) != 0) {
            std::perror("sched_setaffinity");
            return 2;
        }
    }
#ifdef TARNWICK_HAVE_QTSERIALPORT
    QCoreApplication app(argc, argv);
#else
    opt.qt = false;
#endif
    int master = -1, slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    // Our own slave descriptor stays open (and unread) so the master never sees a hang-up
    // between the sessions.
    const std::string path = name;
    bool failed = false;
    std::uint64_t idle = 0;
    std::vector<double> ours, qt;
    ours.reserve(static_cast<std::size_t>(opt.lines));
    qt.reserve(static_cast<std::size_t>(opt.lines));
    {
        Echo echo(master);
        for (int r = 0; r < opt.rounds && !failed; ++r) {
            // An even share per round; the first rounds take the remainder.
            const int lines = opt.lines / opt.rounds + (r < opt.lines % opt.rounds ? 1 : 0);
            for (int turn = 0; turn < 2; ++turn) {
                const bool oursNow = (turn == 0) == (r % 2 == 0);
                if (oursNow && opt.ours) {
                    OurSession s(path, opt);
                    s.Measure(lines, ours);
                    if (r == opt.rounds - 1) idle = s.IdleWakeUps();
                }
#ifdef TARNWICK_HAVE_QTSERIALPORT
                if (!oursNow && opt.qt) {
                    QtSession s(path);
                    if (!s.Ok()) failed = true;
                    s.Measure(lines, qt);
                }
#endif
            }
        }
    }
    close(slave);
    close(master);

    if (opt.ours) {
        const Stats s = Summarise(ours);
        std::printf("ours: p50 %.1f us  p99 %.1f us  (%d lines of %zu bytes)\n", s.p50, s.p99,
                    opt.lines, kLine.size());
        std::printf("event thread wake-ups during 2 s idle: %llu\n",
                    static_cast<unsigned long long>(idle));
    }
    if (opt.qt) {
        const Stats q = Summarise(qt);
        std::printf("qt:   p50 %.1f us  p99 %.1f us\n", q.p50, q.p99);
    }
    if (opt.ours && opt.qt && !failed) {
        const double ratio = Summarise(ours).p50 / Summarise(qt).p50;
        std::printf("ratio p50 ours/qt: %.2f\n", ratio);
    } else {
#ifdef TARNWICK_HAVE_QTSERIALPORT
        std::printf("ratio p50 ours/qt: n/a (%s)\n",
                    failed ? "Qt Serial Port could not open the pty" : "one side measured");
#else
        std::printf("ratio p50 ours/qt: n/a (Qt Serial Port not built in)\n");
#endif
    }
    return failed ? 1 : 0;
}

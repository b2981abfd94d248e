// Round trip of 1,000 short lines on one pseudo-terminal pair whose far end echoes every
// line: our port (WriteText, event thread, link) and, on the same pty in the same run, Qt
// Serial Port in its own event loop. Prints p50/p99 for both, the event thread's wake-ups
// during 2 s of idle connection, and the ratio of the medians last.

#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "CPort.h"

#ifdef TARNWICK_HAVE_QTSERIALPORT
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSerialPort>
#include <QTimer>
#endif

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

constexpr int kLines = 1000;
const std::string kLine = "G1 X12.500 Y-3.250 F100\n";

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
    std::sort(us.begin(), us.end());
    return {us[us.size() / 2], us[us.size() * 99 / 100]};
}

Stats MeasureOurs(const std::string& path, std::uint64_t& idleWakeUps) {
    TComPort port;
    port.SetPort(path);
    port.SetBaudRate(br115200);
    std::size_t received = 0;
    TComLink link;
    link.OnRxData = [&](TObject*, const std::uint8_t*, std::int32_t count) {
        received += static_cast<std::size_t>(count);
    };
    port.AttachLink(&link);
    port.SetConnected(true);

    std::vector<double> us;
    us.reserve(kLines);
    for (int i = 0; i < kLines; ++i) {
        received = 0;
        const auto t0 = Clock::now();
        port.WriteText(kLine);
        while (received < kLine.size()) framework::CheckSynchronize(1000ms);
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }

    // Idle: nothing arrives, so the event thread should not wake at all.
    framework::CheckSynchronize(200ms);  // let the last transmit-empty settle
    const std::uint64_t before = port.EventThread()->WakeUps();
    const auto end = Clock::now() + 2s;
    while (Clock::now() < end) framework::CheckSynchronize(100ms);
    idleWakeUps = port.EventThread()->WakeUps() - before;

    port.SetConnected(false);
    port.DetachLink(&link);
    return Summarise(us);
}

#ifdef TARNWICK_HAVE_QTSERIALPORT
Stats MeasureQt(const std::string& path) {
    QSerialPort port(QString::fromStdString(path));
    port.setBaudRate(115200);
    if (!port.open(QIODevice::ReadWrite)) {
        std::fprintf(stderr, "Qt Serial Port: %s\n", port.errorString().toLocal8Bit().constData());
        return {0, 0};
    }
    std::vector<double> us;
    us.reserve(kLines);
    QEventLoop loop;
    qint64 received = 0;
    QObject::connect(&port, &QSerialPort::readyRead, [&] {
        received += port.readAll().size();
        if (received >= static_cast<qint64>(kLine.size())) loop.quit();
    });
    for (int i = 0; i < kLines; ++i) {
        received = 0;
        const auto t0 = Clock::now();
        port.write(kLine.data(), static_cast<qint64>(kLine.size()));
        loop.exec();
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    port.close();
    return Summarise(us);
}
#endif

}  // namespace

int main(int argc, char** argv) {
    int master = -1, slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    // Our own slave descriptor stays open (and unread) so the master never sees a hang-up
    // between the two ports' sessions.
    const std::string path = name;
    Echo echo(master);

    std::uint64_t idle = 0;
    const Stats ours = MeasureOurs(path, idle);
    std::printf("ours: p50 %.1f us  p99 %.1f us  (%d lines of %zu bytes)\n", ours.p50, ours.p99,
                kLines, kLine.size());
    std::printf("event thread wake-ups during 2 s idle: %llu\n",
                static_cast<unsigned long long>(idle));
#ifdef TARNWICK_HAVE_QTSERIALPORT
    QCoreApplication app(argc, argv);
    const Stats qt = MeasureQt(path);
    std::printf("qt:   p50 %.1f us  p99 %.1f us\n", qt.p50, qt.p99);
    std::printf("ratio p50 ours/qt: %.2f\n", qt.p50 > 0 ? ours.p50 / qt.p50 : 0.0);
#else
    (void)argc;
    (void)argv;
    std::printf("ratio p50 ours/qt: n/a (Qt Serial Port not built in)\n");
#endif
    close(slave);
    close(master);
    return 0;
}

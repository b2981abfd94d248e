// Streams a 10,000-line G-code file to the controller simulator the way a sender does it
// (character counting: as many lines in flight as fit the controller's 128-byte receive
// buffer, the next one sent as soon as an "ok" frees room), through our port and, on the
// same simulator in the same run, through Qt Serial Port. Prints lines/s of each and, last,
// `ratio stream ours/qt: R` (our rate over Qt's).
//
// The simulator runs at time scale 1000, so the machine's motion is not what limits the
// rate; the round trip of the "ok" through the port is. The sides take turns in rounds, the
// first side alternating, so a busy spell on a shared machine falls on both alike.
//
// Before the ratio it prints one figure of the motion itself: a 10 mm move at time scale 1,
// against the time the planner's trapezoid gives.
//
// Options: --lines N (10000)  --rounds N (4)  --time-scale X (1000)

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "BenchSupport.h"
#include "CPort.h"

#ifdef TARNWICK_HAVE_QTSERIALPORT
#include <QCoreApplication>
#include <QEventLoop>
#include <QSerialPort>
#endif

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

using bench::Simulator;

constexpr std::size_t kInFlight = 127;  // what both versions' receive buffers surely hold

// Three places after a decimal point, whatever the process locale: the text goes on the wire.
std::string Fixed3(double value) {
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 3);
    return std::string(text, written.ptr);
}

// A part's outline, row by row: short moves at a working feed.
std::vector<std::string> MakeFile(int lines, const std::string& path) {
    {
        std::ofstream out(path);
        for (int i = 0; i < lines; ++i) {
            const int row = i / 20, col = i % 20;
            const double x = (row % 2 ? 19 - col : col) * 0.5;
            out << "G1 X" << Fixed3(x) << " Y" << Fixed3(row * 0.05) << " F1200\n";
        }
    }
    std::vector<std::string> file;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) file.push_back(line + "\n");
    return file;
}

// The sender's bookkeeping, the same for both ports.
class Sender {
public:
    explicit Sender(const std::vector<std::string>& lines, std::size_t first, std::size_t count)
        : lines_(lines), next_(first), end_(first + count) {}

    // Lines that may go now.
    template <typename Write>
    void Fill(Write write) {
        while (next_ < end_ && used_ + lines_[next_].size() <= kInFlight) {
            used_ += lines_[next_].size();
            inFlight_.push_back(lines_[next_].size());
            write(lines_[next_]);
            ++next_;
        }
    }
    // Received bytes; every "ok" or "error" answers the oldest line in flight.
    void Received(const char* data, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            if (data[i] != '\n') {
                partial_ += data[i];
                continue;
            }
            if (!banner_) {
                banner_ = partial_.rfind("Grbl ", 0) == 0;
            } else if (partial_.rfind("ok", 0) == 0 || partial_.rfind("error", 0) == 0) {
                if (partial_[0] == 'e') ++errors_;
                if (!inFlight_.empty()) {
                    used_ -= inFlight_.front();
                    inFlight_.pop_front();
                    ++answered_;
                }
            }
            partial_.clear();
        }
    }
    bool Ready() const { return banner_; }
    bool Done() const { return next_ == end_ && inFlight_.empty(); }
    std::size_t Answered() const { return answered_; }
    std::size_t Errors() const { return errors_; }

private:
    const std::vector<std::string>& lines_;
    std::size_t next_, end_;
    std::size_t used_ = 0, answered_ = 0, errors_ = 0;
    std::deque<std::size_t> inFlight_;
    std::string partial_;
    bool banner_ = false;
};

// One streaming session through our port; returns the seconds from the first line to the
// last answer, or a negative value on failure.
double StreamOurs(const std::string& path, Sender& sender) {
    TComPort port;
    TComLink link;
    link.OnRxData = [&](TObject*, const std::uint8_t* data, std::int32_t n) {
        sender.Received(reinterpret_cast<const char*>(data), static_cast<std::size_t>(n));
    };
    port.SetPort(path);
    port.SetBaudRate(br115200);
    port.AttachLink(&link);
    try {
        port.SetConnected(true);
        const auto deadline = Clock::now() + 10s;
        while (!sender.Ready() && Clock::now() < deadline) framework::CheckSynchronize(100ms);
        const auto t0 = Clock::now();
        while (!sender.Done() && Clock::now() < deadline + 600s) {
            sender.Fill([&](const std::string& line) { port.WriteText(line); });
            framework::CheckSynchronize(1000ms);
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
        port.SetConnected(false);
        port.DetachLink(&link);
        return sender.Done() ? seconds : -1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "our port: %s\n", e.what());
        port.DetachLink(&link);
        return -1;
    }
}

#ifdef TARNWICK_HAVE_QTSERIALPORT
double StreamQt(const std::string& path, Sender& sender) {
    QSerialPort port(QString::fromStdString(path));
    port.setBaudRate(115200);
    if (!port.open(QIODevice::ReadWrite)) {
        std::fprintf(stderr, "Qt Serial Port: %s\n", port.errorString().toLocal8Bit().constData());
        return -1;
    }
    QEventLoop loop;
    QObject::connect(&port, &QSerialPort::readyRead, [&] {
        const QByteArray data = port.readAll();
        sender.Received(data.constData(), static_cast<std::size_t>(data.size()));
        loop.quit();
    });
    const auto deadline = Clock::now() + 10s;
    while (!sender.Ready() && Clock::now() < deadline) {
        if (!port.waitForReadyRead(100)) continue;
    }
    const auto t0 = Clock::now();
    while (!sender.Done() && Clock::now() < deadline + 600s) {
        sender.Fill([&](const std::string& line) {
            port.write(line.data(), static_cast<qint64>(line.size()));
        });
        loop.exec();
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    port.close();
    return sender.Done() ? seconds : -1;
}
#endif

// The simulator as a child process; its terminal's path from its first line.
// The simulator's motion against the clock: a 10 mm move at F1000 runs at the 500 mm/min
// maximum with 10 mm/s^2 at both ends, 2.033 s in all; a dwell of 0 after it is answered
// once the machine stands. Returns the seconds from sending to that answer.
double TimeOneMove(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    auto waitFor = [&](const std::string& text, int count) {
        std::string got;
        const auto end = Clock::now() + 10s;
        std::size_t seen = 0;
        while (Clock::now() < end) {
            std::size_t n = 0;
            for (std::size_t at = got.find(text); at != std::string::npos; at = got.find(text, at + 1))
                ++n;
            seen = n;
            if (static_cast<int>(seen) >= count) return true;
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 1000) <= 0) continue;
            char buf[256];
            const ssize_t r = read(fd, buf, sizeof buf);
            if (r <= 0) return false;
            got.append(buf, static_cast<std::size_t>(r));
        }
        return false;
    };
    double seconds = -1;
    if (waitFor("help]", 1)) {
        const std::string lines = "G91 G1 X10 F1000\nG4 P0\n";
        const auto t0 = Clock::now();
        if (write(fd, lines.data(), lines.size()) == static_cast<ssize_t>(lines.size()) &&
            waitFor("ok\r\n", 2))
            seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    }
    close(fd);
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    int lines = 10000, rounds = 4;
    std::string timeScale = "1000";
    // A whole number of at least 1, or nothing.
    const auto count = [](std::string_view text) -> std::optional<int> {
        int n = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
        if (ec != std::errc{} || end != text.data() + text.size() || n < 1) return std::nullopt;
        return n;
    };
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        std::optional<int> n;
        if (arg == "--lines" && (n = count(argv[i + 1]))) lines = *n;
        else if (arg == "--rounds" && (n = count(argv[i + 1]))) rounds = *n;
        else if (arg == "--time-scale") timeScale = argv[i + 1];
        else {
            std::fprintf(stderr, "usage: %s [--lines N] [--rounds N] [--time-scale X]\n", argv[0]);
            return 2;
        }
    }
#ifdef TARNWICK_HAVE_QTSERIALPORT
    QCoreApplication app(argc, argv);
    // The application took the user's locale; the figures below keep a decimal point.
    std::setlocale(LC_NUMERIC, "C");
#endif
    const std::string file = "/tmp/tarnwick-stream-" + std::to_string(getpid()) + ".gcode";
    const std::vector<std::string> gcode = MakeFile(lines, file);
    std::remove(file.c_str());
    Simulator sim(timeScale);
    if (sim.Path().empty()) {
        std::fprintf(stderr, "the simulator did not start (%s)\n", GRBLSIM_PATH);
        return 1;
    }
    double ours = 0, qt = 0;
    std::size_t errors = 0;
    const std::size_t share = gcode.size() / static_cast<std::size_t>(rounds);
    for (int r = 0; r < rounds; ++r) {
        // Each side streams the same share of the file; each open resets the controller.
        const std::size_t first = static_cast<std::size_t>(r) * share;
        const std::size_t count = r == rounds - 1 ? gcode.size() - first : share;
        for (int turn = 0; turn < 2; ++turn) {
            const bool oursNow = (turn == 0) == (r % 2 == 0);
            Sender sender(gcode, first, count);
            double t = 0;
            if (oursNow) {
                t = StreamOurs(sim.Path(), sender);
                ours += t;
            } else {
#ifdef TARNWICK_HAVE_QTSERIALPORT
                t = StreamQt(sim.Path(), sender);
                qt += t;
#endif
            }
            if (t < 0) {
                std::fprintf(stderr, "round %d: the %s stream did not finish\n", r,
                             oursNow ? "our" : "Qt");
                return 1;
            }
            errors += sender.Errors();
        }
    }
    double move = -1;
    {
        Simulator realTime("1");
        move = realTime.Path().empty() ? -1 : TimeOneMove(realTime.Path());
    }
    const double n = static_cast<double>(gcode.size());
    std::printf("lines: %zu, time scale %s, error replies: %zu\n", gcode.size(),
                timeScale.c_str(), errors);
    std::printf("motion: 10 mm at F1000 took %.3f s in real time (planned 2.033 s)\n", move);
    std::printf("ours: %.0f lines/s\n", n / ours);
#ifdef TARNWICK_HAVE_QTSERIALPORT
    std::printf("qt:   %.0f lines/s\n", n / qt);
    std::printf("ratio stream ours/qt: %.3f\n", (n / ours) / (n / qt));
#else
    std::printf("ratio stream ours/qt: n/a (Qt Serial Port not found)\n");
#endif
    return 0;
}

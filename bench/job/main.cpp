// Streams a file of short moves to the controller simulator once through the window's job
// ("Start Process", with the window's port, poll and grid) and once through a minimal
// character-counting streamer on Qt Serial Port, in the same run. The simulator runs at a
// time scale where the machine's motion is no limit, so the line's round trip is.
//
// Prints lines/s of each, the longest stall of the window's event loop during our job (a
// 10 ms timer measuring its own lateness), the peak memory growth of the whole run, and
// last `ratio job ours/reference: R`. The memory growth counts from the window being up and
// connected (the file in the grid, the job and the reference run), and also from the start.
//
// Options: --lines N (100000)  --time-scale X (1000)

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QPushButton>
#include <QSerialPort>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "Application.h"
#include "FormLoader.h"
#include "GCodeGrid.h"
#include "ImageButton.h"
#include "JobLine.h"
#include "JobRunner.h"
#include "QtFramework.h"
#include "UnitMain.h"

using Clock = std::chrono::steady_clock;

namespace {

using bench::Simulator;

// Resident set size and its peak so far, in kB.
long StatusKb(const char* key) {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::strlen(key));
    return -1;
}

// A part's outline, row by row: short moves at a working feed.
void MakeFile(int lines, const std::string& path) {
    std::ofstream out(path);
    for (int i = 0; i < lines; ++i) {
        const int row = i / 20, col = i % 20;
        const int x = (row % 2 ? 19 - col : col) * 5; // tenths of a millimetre
        out << "G1 X" << x / 10 << '.' << x % 10 << " Y" << row / 20 << '.' << row % 20 / 2
            << " F1200\n";
    }
}

// Runs the event loop until `done` or `seconds` passed.
template <typename Pred> bool Serve(Pred done, int seconds) {
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (done()) loop.quit();
    });
    check.start(5);
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    if (!done()) loop.exec();
    return done();
}

struct OurResult {
    double seconds = -1;
    double longestStallMs = 0;
    long rssBeforeFile = -1; // kB, the window up and connected
};

OurResult RunOurs(const std::string& port, const std::string& file, std::size_t lines) {
    OurResult r;
    std::unique_ptr<TForm1> form = CreateForm1();
    form->ComPort1->SetPort(port);
    form->btnComConnect->click();
    if (!form->ComPort1->Connected()) return r;
    if (!Serve([&] { return form->labelStatus1->text() == QStringLiteral("Idle"); }, 10)) return r;
    r.rssBeforeFile = StatusKb("VmRSS:");
    form->JvStringGrid1->LoadCsvFile(file, ';', '"', true);
    form->JvStringGrid1->ShowAsGCodeTable();
    std::size_t done = 0;
    form->JobRunner().RowsDone = [&](std::size_t d) { done = d; };

    // The loop's own lateness: a 10 ms timer that notes how late each tick comes.
    QElapsedTimer since;
    QTimer stall;
    stall.setTimerType(Qt::PreciseTimer);
    stall.setInterval(10);
    QObject::connect(&stall, &QTimer::timeout, [&] {
        const double late = static_cast<double>(since.nsecsElapsed()) / 1e6 - 10.0;
        r.longestStallMs = std::max(r.longestStallMs, late);
        since.restart();
    });
    since.start();
    stall.start();
    const auto t0 = Clock::now();
    form->btnStartProcess->click();
    // Until the last line is answered, as the reference counts it; the end of the job (the
    // machine idle in two polls) follows.
    const bool finished = Serve([&] { return done >= lines; }, 600);
    r.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    stall.stop();
    if (!finished) r.seconds = -1;
    Serve([&] { return !form->JobActive(); }, 10);
    form->btnComConnect->click();
    return r;
}

// The reference: the file's lines, cleaned as the job cleans them, streamed by character
// counting on Qt Serial Port.
double RunReference(const std::string& port, const std::string& file) {
    std::vector<std::string> lines;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        std::string wire = job::CleanLine(line);
        if (!wire.empty()) lines.push_back(wire + "\r");
    }
    QSerialPort serial(QString::fromStdString(port));
    serial.setBaudRate(115200);
    if (!serial.open(QIODevice::ReadWrite)) return -1;
    std::size_t next = 0, used = 0, answered = 0;
    std::deque<std::size_t> inFlight;
    std::string partial;
    bool greeted = false;
    auto fill = [&] {
        while (greeted && next < lines.size() && used + lines[next].size() <= 127) {
            used += lines[next].size();
            inFlight.push_back(lines[next].size());
            serial.write(lines[next].data(), static_cast<qint64>(lines[next].size()));
            ++next;
        }
    };
    QObject::connect(&serial, &QSerialPort::readyRead, [&] {
        for (const char c : serial.readAll()) {
            if (c != '\n') {
                partial += c;
                continue;
            }
            if (partial.rfind("Grbl ", 0) == 0) greeted = true;
            if ((partial.rfind("ok", 0) == 0 || partial.rfind("error", 0) == 0) &&
                !inFlight.empty()) {
                used -= inFlight.front();
                inFlight.pop_front();
                ++answered;
            }
            partial.clear();
        }
        fill();
    });
    if (!Serve([&] { return greeted; }, 10)) return -1;
    const auto t0 = Clock::now();
    fill();
    const bool finished = Serve([&] { return answered == lines.size(); }, 600);
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    serial.close();
    return finished ? seconds : -1;
}

} // namespace

int main(int argc, char** argv) {
    int lines = 100000;
    std::string timeScale = "1000";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--lines")
            lines = std::max(1, std::atoi(argv[i + 1]));
        else if (arg == "--time-scale")
            timeScale = argv[i + 1];
        else {
            std::fprintf(stderr, "usage: %s [--lines N] [--time-scale X]\n", argv[0]);
            return 2;
        }
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    PrepareApplication();
    const long rssStart = StatusKb("VmRSS:");

    const std::string file = "/tmp/tarnwick-job-" + std::to_string(getpid()) + ".nc";
    MakeFile(lines, file);
    Simulator sim(timeScale);
    if (sim.Path().empty()) {
        std::fprintf(stderr, "the simulator did not start (%s)\n", GRBLSIM_PATH);
        return 1;
    }
    const OurResult ours = RunOurs(sim.Path(), file, static_cast<std::size_t>(lines));
    const double reference = RunReference(sim.Path(), file);
    std::remove(file.c_str());
    const long peak = StatusKb("VmHWM:");
    RemoveQtFrameworkHooks();
    if (ours.seconds < 0 || reference < 0) {
        std::fprintf(stderr, "a stream did not finish (ours %.1f s, reference %.1f s)\n",
                     ours.seconds, reference);
        return 1;
    }
    const double n = lines;
    std::printf("lines: %d, time scale %s\n", lines, timeScale.c_str());
    std::printf("job ours:   %.0f lines/s\n", n / ours.seconds);
    std::printf("reference:  %.0f lines/s (Qt Serial Port, character counting)\n", n / reference);
    std::printf("longest event-loop stall during our job: %.1f ms\n", ours.longestStallMs);
    std::printf("peak memory growth: %.1f MB (from the window up and connected: file, job and "
                "reference run), %.1f MB with the window's creation\n",
                static_cast<double>(peak - ours.rssBeforeFile) / 1024.0,
                static_cast<double>(peak - rssStart) / 1024.0);
    std::printf("ratio job ours/reference: %.3f\n", reference / ours.seconds);
    return 0;
}

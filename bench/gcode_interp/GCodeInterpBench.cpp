// A CAM-style G-code file of 1,000,000 lines (feed moves, quarter circles as G2/G3 with I/J, a
// plunge and a retract now and then) run through the interpreter, against the grid's plain
// read and line split of the same file. In one run:
//  - split: csv::Document::Load, the grid's read and cut into lines; the best of several runs
//    in the thread's processor time (wall time beside);
//  - interpret: the same load, then every line read and interpreted as the controller would,
//    arcs broken into segments with the default arc tolerance; the best of several runs,
//    taken in turn with the split's, both with the file in the page cache;
//  - memory: growth of the peak resident size over the size just before one interpretation
//    (the peak is reset through /proc/self/clear_refs).
// Last line: "ratio interpret/split: R" (goal R <= 8).

#include <malloc.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "BenchSupport.h"
#include "CsvText.h"
#include "Interpreter.h"

namespace {

using bench::Now;
using bench::StatusKiB;

constexpr int kLines = 1'000'000;
constexpr int kRepeats = 5;

void AppendFixed(std::string& out, double value) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 3);
    out.append(buf, r.ptr);
}

// Feed moves along X with rounded corners between them, like a finishing pass.
std::string MakeText() {
    std::string text;
    text.reserve(std::size_t{kLines} * 30);
    text += "G21 G90 G17 G94\r\nG0 Z5.000\r\nG0 X0.000 Y0.000\r\nG1 Z-1.000 F300\r\n";
    double x = 0, y = 0;
    int line = 4;
    const double r = 1.25;
    while (line < kLines) {
        const int kind = line % 10;
        if (kind == 0) {
            text += "G0 Z2.000\r\nG1 Z-1.000 F300\r\n";
            line += 2;
            continue;
        }
        if (kind == 3 || kind == 6) {
            // A quarter circle round a corner: clockwise down, then counter-clockwise back up.
            const bool cw = kind == 3;
            text += cw ? "G2 X" : "G3 X";
            x += r;
            y += cw ? -r : r;
            AppendFixed(text, x);
            text += " Y";
            AppendFixed(text, y);
            text += cw ? " I0.000 J" : " I0.000 J";
            AppendFixed(text, cw ? -r : r);
            text += " F800\r\n";
        } else {
            text += "G1 X";
            x += 0.125;
            AppendFixed(text, x);
            text += " Y";
            y = (line % 400 < 200) ? y + 0.05 : y - 0.05;
            AppendFixed(text, y);
            text += " F1200\r\n";
        }
        ++line;
        if (x > 400) x = 0;
    }
    return text;
}

struct Times {
    double cpu = 1e9;
    double wall = 1e9;
};

template <typename Timed> void Time(Times& best, Timed&& timed) {
    const double c0 = Now(CLOCK_THREAD_CPUTIME_ID);
    const double w0 = Now(CLOCK_MONOTONIC);
    timed();
    best.wall = std::min(best.wall, Now(CLOCK_MONOTONIC) - w0);
    best.cpu = std::min(best.cpu, Now(CLOCK_THREAD_CPUTIME_ID) - c0);
}

bool ResetPeak() {
    return static_cast<bool>(std::ofstream("/proc/self/clear_refs") << "5");
}

struct Counts {
    std::size_t lines = 0, motions = 0, errors = 0;
};

// Load and interpret every line; the motions are counted, not kept.
Counts Interpret(const std::string& path) {
    const csv::Document doc = csv::Document::Load(path, csv::Dialect{});
    gcode::Interpreter interpreter(gcode::Dialect::Grbl11h);
    gcode::Result result;
    Counts c;
    for (std::size_t i = 0; i < doc.LineCount(); ++i) {
        ++c.lines;
        interpreter.ExecuteLine(doc.Line(i), result);
        if (result.status != gcode::kOk) ++c.errors;
        c.motions += result.motions.size();
    }
    return c;
}

} // namespace

int main() {
    char pattern[] = "/tmp/tarnwick-bench-XXXXXX";
    const char* dir = ::mkdtemp(pattern);
    if (!dir) return 1;
    const std::string path = std::string(dir) + "/cam.nc";
    {
        const std::string text = MakeText();
        std::ofstream(path, std::ios::binary) << text;
        std::printf("file: %d lines, %.1f MiB\n", kLines,
                    static_cast<double>(text.size()) / (1 << 20));
    }

    // Memory first, on a fresh process state; the split's beside, for what the load alone takes.
    const auto peakGrowth = [](const char* what, auto&& run) {
        // What an earlier run freed goes back to the system, or the next would reuse it unseen.
        ::malloc_trim(0);
        const bool reset = ResetPeak();
        const long before = StatusKiB("VmRSS:");
        run();
        const long peak = StatusKiB("VmHWM:");
        if (reset && before > 0 && peak > 0)
            std::printf("%s: peak resident size grew by %.1f MiB\n", what,
                        static_cast<double>(peak - before) / 1024);
        else
            std::printf("%s: the peak resident size cannot be reset here\n", what);
    };
    Counts counts;
    peakGrowth("split", [&] { csv::Document::Load(path, csv::Dialect{}); });
    peakGrowth("interpret", [&] { counts = Interpret(path); });
    std::printf("interpret: %zu lines, %zu motions, %zu refused\n", counts.lines, counts.motions,
                counts.errors);
    if (counts.lines != kLines || counts.errors != 0) {
        std::printf("unexpected: the file should run without a refusal\n");
        return 1;
    }

    // The two alternate, so that both meet the same load of a shared machine.
    std::size_t splitLines = 0;
    Times split, interpret;
    for (int r = 0; r < kRepeats; ++r) {
        Time(split, [&] { splitLines = csv::Document::Load(path, csv::Dialect{}).LineCount(); });
        Time(interpret, [&] { counts = Interpret(path); });
    }
    std::printf("split (Document::Load): %.1f ms processor, %.1f ms wall (%zu lines)\n",
                split.cpu * 1e3, split.wall * 1e3, splitLines);
    std::printf("interpret: %.1f ms processor, %.1f ms wall, %.0f lines/s\n", interpret.cpu * 1e3,
                interpret.wall * 1e3, kLines / interpret.cpu);

    std::remove(path.c_str());
    ::rmdir(dir);
    std::printf("ratio interpret/split: %.2f\n", interpret.cpu / split.cpu);
    return 0;
}

// G-code files at the edges, in the window's own grid (its draw rule included), offscreen:
//  - paint: one full paint of the grid (QWidget::grab) with a short file loaded, and with a
//    file whose first line is 10 MB long (once in the command column, once in the comment
//    column); the first paint after the load beside the best of later ones, in the thread's
//    processor time;
//  - empty lines: loading 40 MB of line feeds (40 million empty rows, under the limit) and
//    60 MB (over it, refused as too large): time, and growth of the peak resident size over
//    the size before the load (reset through /proc/self/clear_refs) against the file's size.
// Last line: "ratio long/short repaint: R" (goal R <= 2: paint cost does not grow with the
// length of a line).

#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>

#include "BenchSupport.h"
#include "Application.h"
#include "CsvText.h"
#include "FormLoader.h"
#include "GCodeGrid.h"
#include "QtFramework.h"
#include "UnitMain.h"

namespace {

using bench::Now;
using bench::StatusKiB;
using bench::ResetPeak;

constexpr int kRepaints = 20;

std::string Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

std::string ShortLines(int count) {
    std::string text;
    for (int i = 0; i < count; ++i)
        text += "N" + std::to_string(i) + " G1 X" + std::to_string(i % 400) + ".125 Y7.5 ; pass\r\n";
    return text;
}

struct PaintTimes {
    double first = 0;
    double best = 1e9;
};

// Loads the file as the window's button does, then paints the grid.
PaintTimes Paint(TGCodeGrid& grid, const std::string& path) {
    {
        TGCodeGrid::UpdateScope update(grid);
        grid.LoadCsvFile(path, ';', '"', true);
        grid.ShowAsGCodeTable();
    }
    PaintTimes t;
    for (int r = 0; r <= kRepaints; ++r) {
        const double c0 = Now(CLOCK_THREAD_CPUTIME_ID);
        const QPixmap shot = grid.grab();
        const double spent = Now(CLOCK_THREAD_CPUTIME_ID) - c0;
        if (shot.isNull()) std::abort();
        if (r == 0) t.first = spent;
        else t.best = std::min(t.best, spent);
    }
    return t;
}

void LoadEmptyLines(TGCodeGrid& grid, const std::string& path, std::size_t lines) {
    const std::string file = Write(path, std::string(lines, '\n'));
    const bool reset = ResetPeak();
    const long before = StatusKiB("VmRSS:");
    const double w0 = Now(CLOCK_MONOTONIC);
    std::string outcome;
    try {
        grid.LoadCsvFile(file, ';', '"', true);
        outcome = std::to_string(grid.RowCount()) + " rows";
    } catch (const EFOpenError& e) {
        outcome = "refused: " + e.Message().substr(e.Message().rfind(". ") + 2);
    }
    const double spent = Now(CLOCK_MONOTONIC) - w0;
    const long peak = StatusKiB("VmHWM:");
    const double fileMiB = static_cast<double>(lines) / (1 << 20);
    if (reset && before > 0 && peak > 0)
        std::printf("%.0f MiB of line feeds: %s in %.0f ms wall, peak grew by %.1f x the file\n",
                    fileMiB, outcome.c_str(), spent * 1e3,
                    static_cast<double>(peak - before) / 1024 / fileMiB);
    else
        std::printf("%.0f MiB of line feeds: %s in %.0f ms wall (peak not measurable here)\n",
                    fileMiB, outcome.c_str(), spent * 1e3);
    std::remove(file.c_str());
}

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    PrepareApplication();
    char pattern[] = "/tmp/tarnwick-bench-XXXXXX";
    const char* dir = ::mkdtemp(pattern);
    if (!dir) return 1;
    const std::string base = dir;

    double shortBest = 0, longBest = 0;
    {
        std::unique_ptr<TForm1> form = CreateForm1();
        ShowCentred(*form);
        TGCodeGrid& grid = *form->JvStringGrid1;

        const std::string shortFile = Write(base + "/short.nc", ShortLines(1000));
        const PaintTimes shortPaint = Paint(grid, shortFile);
        std::printf("short lines: first paint %.2f ms, repaint %.2f ms\n", shortPaint.first * 1e3,
                    shortPaint.best * 1e3);
        shortBest = shortPaint.best;

        const std::string huge(10u << 20, '7');
        const struct {
            const char* name;
            std::string line;
        } longLines[] = {
            {"10 MB command", "G1 X" + huge},
            {"10 MB comment", "G1 X1 ; " + huge},
        };
        for (const auto& l : longLines) {
            const std::string file = Write(base + "/long.nc", l.line + "\r\n" + ShortLines(40));
            const PaintTimes t = Paint(grid, file);
            std::printf("%s line: first paint %.2f ms, repaint %.2f ms\n", l.name, t.first * 1e3,
                        t.best * 1e3);
            longBest = std::max(longBest, t.best);
            std::remove(file.c_str());
        }
        std::remove(shortFile.c_str());

        LoadEmptyLines(grid, base + "/empty40.nc", 40u << 20);
        LoadEmptyLines(grid, base + "/empty60.nc", 60u << 20);
    }
    ::rmdir(dir);
    RemoveQtFrameworkHooks();
    std::printf("ratio long/short repaint: %.2f\n", longBest / shortBest);
    return 0;
}

// Drawing one frame of the toolpath view: a 1,000,000-piece path against a 10,000-piece one
// of the same kind, offscreen, in the same run. Both are 3D finishing passes over a dome (the
// kind of file that runs to millions of lines), with rapids between the passes.
//
//   QT_QPA_PLATFORM=offscreen bench_toolpath [frame-10k.png [frame-1M.png]]

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <charconv>
#include <string>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "PathLoad.h"
#include "ToolpathView.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// `passes` raster passes of `points` pieces each over 120 x 90 mm; a rapid lifts to Z 5 and
// returns at the end of each pass.
std::vector<toolpath::Edge> Dome(int passes, int points) {
    std::vector<toolpath::Edge> edges;
    edges.reserve(std::size_t(passes) * (points + 3));
    auto z = [](float x, float y) {
        const float dx = (x - 60) / 60, dy = (y - 45) / 45;
        return -12.0f * std::max(0.0f, 1 - dx * dx - dy * dy) - 1.0f + 0.3f * std::sin(x * 0.7f);
    };
    std::uint32_t row = 1;
    for (int p = 0; p < passes; ++p) {
        const float y = 90.0f * p / (passes - 1);
        toolpath::Point last{0, y, z(0, y)};
        for (int i = 1; i <= points; ++i) {
            const float x = 120.0f * i / points;
            const toolpath::Point next{x, y, z(x, y)};
            edges.push_back({last, next, row, row, false});
            ++row;
            last = next;
        }
        const toolpath::Point up{last[0], last[1], 5};
        const float ny = 90.0f * (p + 1) / (passes - 1);
        edges.push_back({last, up, row, row, true});
        edges.push_back({up, {0, ny, 5}, row + 1, row + 1, true});
        edges.push_back({{0, ny, 5}, {0, ny, z(0, ny)}, row + 2, row + 2, false});
        row += 3;
    }
    return edges;
}

// The dome as G-code text: one G1 line per piece.
std::string DomeText(const std::vector<toolpath::Edge>& edges) {
    std::string text = "G21 G90 G94 F1500\n";
    text.reserve(edges.size() * 32);
    char b[32];
    for (const toolpath::Edge& e : edges) {
        text += e.rapid ? "G0" : "G1";
        for (int ax = 0; ax < 3; ++ax) {
            text += " XYZ"[ax + 1];
            const auto r = std::to_chars(b, b + sizeof b, e.b[ax], std::chars_format::fixed, 3);
            text.append(b, r.ptr);
        }
        text += '\n';
    }
    return text;
}

// Opening a file: the interpreter alone, against the whole load the window runs on its worker
// (interpreter, time estimate, levels of detail).
void TimeOpening(const std::vector<toolpath::Edge>& edges) {
    const std::string text = DomeText(edges);
    auto t0 = Clock::now();
    gcode::ProgramBuilder builder;
    toolpath::ForEachLine(text, [&](std::string_view line, std::size_t row) {
        builder.AddLine(line, row);
    });
    const std::size_t segments = builder.Get().segments.size();
    const double interpret = Ms(Clock::now() - t0);
    t0 = Clock::now();
    const toolpath::LoadedPath loaded =
        toolpath::LoadPath(text, gcode::Dialect::Grbl11h, toolpath::MotionSettings{});
    const double whole = Ms(Clock::now() - t0);
    std::printf("open %zu-line file (%zu segments): interpreter %.0f ms, whole load %.0f ms "
                "(estimate %s s), ratio %.2f\n",
                loaded.rows, segments, interpret, whole,
                std::to_string(static_cast<long>(loaded.estimate.total)).c_str(),
                whole / interpret);
}

struct Frame {
    double ms;
    std::size_t drawn;
};

// The fastest of several frames, after one to warm up: the machine is shared, and what others
// run can only make a frame slower.
Frame TimeFrames(TToolpathView& view, QImage& image) {
    std::vector<double> times;
    std::size_t drawn = 0;
    for (int i = 0; i < 16; ++i) {
        QPainter painter(&image);
        const auto t0 = Clock::now();
        drawn = view.Draw(painter, image.size());
        painter.end();
        if (i > 0) times.push_back(Ms(Clock::now() - t0));
    }
    std::sort(times.begin(), times.end());
    return {times.front(), drawn};
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const QSize size(1000, 700);
    QImage image(size, QImage::Format_ARGB32_Premultiplied);

    struct Case {
        const char* name;
        int passes, points;
    };
    const Case cases[] = {{"10k", 100, 97}, {"1M", 1000, 997}};
    double top[2] = {0, 0}, oblique[2] = {0, 0};
    for (int c = 0; c < 2; ++c) {
        auto edges = Dome(cases[c].passes, cases[c].points);
        const std::size_t pieces = edges.size();
        if (c == 1) TimeOpening(edges);
        const auto t0 = Clock::now();
        auto model = std::make_shared<const toolpath::Model>(std::move(edges));
        const double buildMs = Ms(Clock::now() - t0);
        for (const toolpath::Level& level : model->Levels())
            std::printf("  level: grid %.4f mm, %zu pieces\n", level.cell, level.edges.size());
        TToolpathView view;
        view.resize(size);
        view.SetModel(model);
        std::printf("%s: %zu pieces, %zu levels, model built in %.0f ms\n", cases[c].name, pieces,
                    model->Levels().size(), buildMs);
        for (auto facing : {TToolpathView::Facing::Top, TToolpathView::Facing::Oblique}) {
            view.SetFacing(facing);
            const Frame f = TimeFrames(view, image);
            const bool isOblique = facing == TToolpathView::Facing::Oblique;
            (isOblique ? oblique : top)[c] = f.ms;
            if (isOblique && argc > 1 + c) image.save(QString::fromLocal8Bit(argv[1 + c]));
            std::printf("  frame %s, %s, fitted: %.2f ms (%zu pieces drawn, %.3f mm per pixel)\n",
                        cases[c].name, isOblique ? "oblique" : "top", f.ms, f.drawn,
                        1.0 / view.Scale());
        }
        // Zoomed in 20 times at the dome's flank, as an operator checks a detail.
        view.ZoomAt(view.Project({40, 30, -8}), 20);
        const Frame zoomed = TimeFrames(view, image);
        std::printf("  frame %s, oblique, zoomed x20: %.2f ms (%zu pieces drawn)\n",
                    cases[c].name, zoomed.ms, zoomed.drawn);
    }
    std::printf("ratio top view 1M/10k: %.2f\n", top[1] / top[0]);
    std::printf("ratio oblique view 1M/10k: %.2f\n", oblique[1] / oblique[0]);
    // A frame of each view, both files.
    std::printf("ratio frame 1M/10k: %.2f\n", (top[1] + oblique[1]) / (top[0] + oblique[0]));
    return 0;
}

#include "PathLoad.h"

#include <cerrno>
#include <cstdio>
#include <system_error>
#include <thread>

namespace toolpath {

std::vector<Edge> EdgesOf(const std::vector<gcode::Segment>& segments) {
    std::vector<Edge> edges;
    edges.reserve(segments.size());
    auto point = [](const gcode::Vec3& v) {
        return Point{static_cast<float>(v[0]), static_cast<float>(v[1]), static_cast<float>(v[2])};
    };
    for (const gcode::Segment& s : segments) {
        if (s.kind == gcode::Segment::Dwell) continue;
        const auto row = static_cast<std::uint32_t>(s.row + 1);
        edges.push_back(Edge{point(s.from), point(s.to), row, row,
                             s.kind == gcode::Segment::Rapid});
    }
    return edges;
}

LoadedPath LoadPath(std::string_view text, gcode::Dialect dialect,
                    const MotionSettings& settings, const std::atomic<bool>* cancel) {
    LoadedPath out;
    gcode::MachineSettings machine;
    machine.arcTolerance = settings.arcTolerance;
    // A file may use mist coolant; whether the controller has it does not change the path.
    machine.mistCoolant = true;
    gcode::ProgramBuilder builder(dialect, machine);
    bool stop = false;
    ForEachLine(text, [&](std::string_view line, std::size_t row) {
        if (stop) return;
        if (cancel && (row & 1023) == 0 && cancel->load(std::memory_order_relaxed)) {
            stop = true;
            return;
        }
        builder.AddLine(line, row);
        out.rows = row + 1;
    });
    if (stop) {
        out.cancelled = true;
        return out;
    }
    gcode::Program program = builder.Take();
    out.errors = std::move(program.errors);
    for (gcode::FileError& e : out.errors) ++e.row;
    // The time and the drawing need nothing of each other: one runs beside the other.
    std::thread timing([&] {
        out.estimate =
            EstimateTime(program.segments, out.rows, settings,
                         dialect == gcode::Dialect::Grbl09j ? gcode::Planner::kCapacity09
                                                            : gcode::Planner::kCapacity,
                         cancel);
    });
    auto model = std::make_shared<const Model>(EdgesOf(program.segments), cancel);
    timing.join();
    if (cancel && cancel->load(std::memory_order_relaxed)) {
        out.cancelled = true;
        return out;
    }
    out.model = std::move(model);
    return out;
}

bool ReadWholeFile(const std::string& fileName, std::string& text, std::string& error) {
    std::FILE* f = std::fopen(fileName.c_str(), "rb");
    if (!f) {
        error = std::generic_category().message(errno);
        return false;
    }
    text.clear();
    char buffer[1 << 16];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    const bool failed = std::ferror(f) != 0;
    if (failed) error = std::generic_category().message(errno);
    std::fclose(f);
    return !failed;
}

}  // namespace toolpath

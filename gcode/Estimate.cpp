#include "Estimate.h"

#include <algorithm>
#include <deque>

namespace gcode {

double RowTimes::Remaining(std::size_t rowsDone) const {
    if (finishedAt.empty()) return 0;
    const double done = finishedAt[std::min(rowsDone, finishedAt.size() - 1)];
    return std::max(0.0, total - done);
}

RowTimes EstimateRows(const std::vector<Segment>& segments, std::size_t rows,
                      const MachineLimits& limits, std::size_t depth,
                      const std::atomic<bool>* cancel) {
    RowTimes est;
    std::size_t lastRow = rows;
    for (const Segment& s : segments) lastRow = std::max(lastRow, s.row + 1);
    est.finishedAt.assign(lastRow + 1, 0.0);

    Planner planner(&limits, std::max<std::size_t>(depth, 1));
    if (!segments.empty()) planner.SetPosition(segments.front().from);

    double now = 0;
    std::deque<std::size_t> queuedRows;  // the line of each block in the planner
    // Runs the machine until its head block is done.
    auto finishHead = [&] {
        const std::size_t before = planner.Blocks();
        // Each step ends a phase of the head block; a block has at most three phases, the
        // bound only guards against a planner that makes no progress.
        for (int guard = 0; guard < 64 && planner.Blocks() == before; ++guard) {
            const double dt = planner.TimeToNextEvent();
            if (dt < 0) break;
            now += planner.Step(dt);
        }
        if (planner.Blocks() < before && !queuedRows.empty()) {
            est.finishedAt[queuedRows.front()] = now;
            queuedRows.pop_front();
        } else if (planner.Blocks() == before) {
            planner.Abort();  // never loop on a planner that stands still
            for (std::size_t r : queuedRows) est.finishedAt[r] = now;
            queuedRows.clear();
        }
    };
    auto drain = [&] {
        while (!planner.Empty()) finishHead();
    };

    std::size_t count = 0;
    for (const Segment& s : segments) {
        if (cancel && (++count & 4095) == 0 && cancel->load(std::memory_order_relaxed)) break;
        const std::size_t row = s.row + 1;
        if (s.kind == Segment::Dwell) {
            // A dwell waits for the machine to stand, then waits its time.
            drain();
            now += std::max(0.0, s.feed);
            est.finishedAt[row] = now;
            continue;
        }
        if (planner.Full()) finishHead();
        const std::size_t before = planner.Blocks();
        planner.Push(s.to, s.feed, s.kind == Segment::Rapid);
        if (planner.Blocks() > before) queuedRows.push_back(row);
    }
    drain();
    est.total = now;
    // A row without motion of its own is done when the rows before it are.
    for (std::size_t r = 1; r < est.finishedAt.size(); ++r)
        est.finishedAt[r] = std::max(est.finishedAt[r], est.finishedAt[r - 1]);
    return est;
}

double EstimateSeconds(const std::vector<Segment>& segments, const MachineLimits& limits,
                       std::size_t depth) {
    return EstimateRows(segments, 0, limits, depth).total;
}

} // namespace gcode

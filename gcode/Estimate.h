#pragma once
// How long the controller takes for a program: its segments run through the same acceleration
// planner the simulator uses, with the planner's depth limiting the look-ahead as on the
// controller, and the dwells added.

#include <atomic>
#include <cstddef>
#include <vector>

#include "Interpreter.h"
#include "Planner.h"

namespace gcode {

struct RowTimes {
    double total = 0;  // seconds
    // finishedAt[r]: seconds from the start until every move of the program's lines 1..r has
    // run (a segment's `row` counts from 0, so its line is row + 1); index 0 is the start.
    std::vector<double> finishedAt;

    // Seconds still to run once lines 1..rowsDone are done.
    double Remaining(std::size_t rowsDone) const;
};

// The machine stands at `segments.front().from` at the start and the planner is kept full, as
// a sender that keeps the controller's buffer full does. `rows`: the program's line count (the
// table is made long enough for every segment's line either way). `depth`: the planner's blocks
// (Planner::kCapacity for 1.1h, kCapacity09 for 0.9j). Probes count as feed moves to their end.
// Once `cancel` is set the estimate stops early and is of no use.
RowTimes EstimateRows(const std::vector<Segment>& segments, std::size_t rows,
                      const MachineLimits& limits, std::size_t depth = Planner::kCapacity,
                      const std::atomic<bool>* cancel = nullptr);

// The whole program's seconds.
double EstimateSeconds(const std::vector<Segment>& segments, const MachineLimits& limits,
                       std::size_t depth = Planner::kCapacity);

} // namespace gcode

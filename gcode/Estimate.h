#pragma once
// How long the controller takes for a program: its segments run through the same acceleration
// planner the simulator uses, with the planner's depth limiting the look-ahead as on the
// controller, and the dwells added.

#include <cstddef>
#include <vector>

#include "Interpreter.h"
#include "Planner.h"

namespace gcode {

// Seconds from the first segment's start until the last one ends, the machine standing at
// `segments.front().from` at the start. `depth`: the planner's blocks (Planner::kCapacity for
// 1.1h, kCapacity09 for 0.9j). Probes count as feed moves to their end.
double EstimateSeconds(const std::vector<Segment>& segments, const MachineLimits& limits,
                       std::size_t depth = Planner::kCapacity);

} // namespace gcode

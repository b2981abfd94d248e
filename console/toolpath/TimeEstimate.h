#pragma once
// The job's time, as the controller will take it: the file's moves run through the same
// acceleration planner the simulator uses, with the controller's own rate and acceleration
// settings. Plain C++, run on a worker thread.

#include <atomic>
#include <cstddef>
#include <vector>

#include "ControllerText.h"
#include "Estimate.h"
#include "Interpreter.h"

namespace toolpath {

// finishedAt[r]: seconds until grid rows 1..r have run (the file's line k is grid row k).
using TimeEstimate = gcode::RowTimes;

// The controller's settings as the planner takes them.
gcode::MachineLimits LimitsOf(const MotionSettings& settings);

// `planDepth`: the blocks the controller's planner holds (0.9j holds more than 1.1h).
TimeEstimate EstimateTime(const std::vector<gcode::Segment>& segments, std::size_t rows,
                          const MotionSettings& settings,
                          std::size_t planDepth = gcode::Planner::kCapacity,
                          const std::atomic<bool>* cancel = nullptr);

}  // namespace toolpath

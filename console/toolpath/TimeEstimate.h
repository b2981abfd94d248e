#pragma once
// The job's time, as the controller will take it: the file's moves run through the same
// acceleration planner the simulator uses, with the controller's own rate and acceleration
// settings. Plain C++, run on a worker thread.

#include <atomic>
#include <cstddef>
#include <vector>

#include "ControllerText.h"
#include "Interpreter.h"

namespace toolpath {

struct TimeEstimate {
    double total = 0;  // seconds
    // finishedAt[r]: seconds from the start until every move of grid rows 1..r has run (the
    // file's line k is row k; index 0 is the start, 0 s).
    std::vector<double> finishedAt;

    // Seconds still to run once rows 1..rowsDone are done.
    double Remaining(std::size_t rowsDone) const;
};

// `planDepth`: the blocks the controller's planner holds (0.9j holds more than 1.1h). The
// planner is kept full, as a streamer that keeps the controller's buffer full does; the
// machine starts at the first segment's start and stands still at the end. Once `cancel` is
// set the estimate stops early and is of no use.
TimeEstimate EstimateTime(const std::vector<gcode::Segment>& segments, std::size_t rows,
                          const MotionSettings& settings,
                          std::size_t planDepth = gcode::Planner::kCapacity,
                          const std::atomic<bool>* cancel = nullptr);

}  // namespace toolpath

#include "TimeEstimate.h"

namespace toolpath {

gcode::MachineLimits LimitsOf(const MotionSettings& settings) {
    gcode::MachineLimits limits;
    limits.maxRate = settings.maxRate;
    limits.accel = settings.accel;
    limits.junctionDeviation = settings.junctionDeviation;
    return limits;
}

TimeEstimate EstimateTime(const std::vector<gcode::Segment>& segments, std::size_t rows,
                          const MotionSettings& settings, std::size_t planDepth,
                          const std::atomic<bool>* cancel) {
    return gcode::EstimateRows(segments, rows, LimitsOf(settings), planDepth, cancel);
}

}  // namespace toolpath

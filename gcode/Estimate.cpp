#include "Estimate.h"

namespace gcode {

double EstimateSeconds(const std::vector<Segment>& segments, const MachineLimits& limits,
                       std::size_t depth) {
    if (segments.empty()) return 0;
    Planner planner(&limits, depth);
    planner.SetPosition(segments.front().from);
    double seconds = 0;
    // Runs the machine until the planner has room again, or until it stands.
    auto runUntil = [&](bool empty) {
        while (empty ? !planner.Empty() : planner.Full()) {
            const double dt = planner.TimeToNextEvent();
            if (dt < 0) break;
            seconds += planner.Step(dt);
        }
    };
    for (const Segment& s : segments) {
        if (s.kind == Segment::Dwell) {
            // A dwell waits for the moves before it.
            runUntil(true);
            seconds += s.feed;
            continue;
        }
        runUntil(false);
        planner.Push(s.to, s.feed, s.kind == Segment::Rapid);
    }
    runUntil(true);
    return seconds;
}

} // namespace gcode

#include "Planner.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace gcode {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
// Far below a step (4 um), far above the rounding of the profile arithmetic.
constexpr double kTinyLength = 1e-6;  // mm
constexpr double kTinySpeed = 1e-9;   // mm/s

// Speed and acceleration along a direction, limited by every axis that takes part.
double AlongUnit(const Vec3& unit, const Vec3& perAxis) {
    double limit = kInf;
    for (std::size_t i = 0; i < 3; ++i)
        if (unit[i] != 0.0) limit = std::min(limit, perAxis[i] / std::fabs(unit[i]));
    return limit;
}

// The phases of the head block from where the machine is now: accelerate to `peak`, cruise,
// decelerate to `exit`.
struct Profile {
    double peak = 0, exit = 0;
    double tAccel = 0, tCruise = 0, tDecel = 0;
};

Profile PlanFrom(double v, double d, double a, double nominal, double exitWanted) {
    Profile p;
    p.exit = std::min(exitWanted, std::sqrt(v * v + 2 * a * d));
    p.peak = std::min(nominal, std::sqrt((2 * a * d + v * v + p.exit * p.exit) / 2));
    p.peak = std::max(p.peak, p.exit);
    // Phases that rounding alone makes (a speed change of nothing, a cruise of no length)
    // are left out: they would take no time and leave the machine where it is.
    const bool accelerates = p.peak - v > kTinySpeed;
    if (accelerates) p.tAccel = (p.peak - v) / a;
    const double top = accelerates ? p.peak : v;
    const double dAccel = accelerates ? (p.peak * p.peak - v * v) / (2 * a) : 0.0;
    const double dDecel = std::max(0.0, (top * top - p.exit * p.exit) / (2 * a));
    const double dCruise = d - dAccel - dDecel;
    p.tCruise = top > 0 && dCruise > kTinyLength ? dCruise / top : 0.0;
    p.tDecel = std::max(0.0, (top - p.exit) / a);
    return p;
}

}  // namespace

void Planner::Push(const Vec3& target, double feed, bool rapid) {
    const Vec3 start = queue_.empty() ? Position() : queue_.back().target;
    Block b;
    b.target = target;
    double sum = 0;
    for (std::size_t i = 0; i < 3; ++i) sum += (target[i] - start[i]) * (target[i] - start[i]);
    b.length = std::sqrt(sum);
    if (b.length < kTinyLength) return;
    for (std::size_t i = 0; i < 3; ++i) b.unit[i] = (target[i] - start[i]) / b.length;
    b.accel = AlongUnit(b.unit, limits_->accel);
    const double maxRate = AlongUnit(b.unit, limits_->maxRate) / 60.0;
    b.nominal = rapid ? maxRate : std::min(feed / 60.0, maxRate);

    if (!queue_.empty()) {
        const Block& prev = queue_.back();
        double cosTheta = 0;
        for (std::size_t i = 0; i < 3; ++i) cosTheta -= prev.unit[i] * b.unit[i];
        double vJunction;
        if (cosTheta > 0.999999) {
            vJunction = 0;  // a full reversal stops
        } else if (cosTheta < -0.999999) {
            vJunction = kInf;  // straight on
        } else {
            const double sinHalf = std::sqrt(0.5 * (1.0 - cosTheta));
            vJunction =
                std::sqrt(b.accel * limits_->junctionDeviation * sinHalf / (1.0 - sinHalf));
        }
        b.maxEntry = std::min({vJunction, prev.nominal, b.nominal});
    }
    queue_.push_back(b);
    Replan();
}

void Planner::Replan() {
    double next = 0;  // the last block ends standing
    for (auto it = queue_.rbegin(); it != queue_.rend(); ++it) {
        it->entry = std::min(it->maxEntry, std::sqrt(next * next + 2 * it->accel * it->length));
        next = it->entry;
    }
}

double Planner::ExitSpeed() const { return queue_.size() > 1 ? queue_[1].entry : 0.0; }

void Planner::FinishHead() {
    position_ = queue_.front().target;
    queue_.pop_front();
    done_ = 0;
    if (queue_.empty()) speed_ = 0;
}

double Planner::Step(double dt) {
    // A block run to its end within rounding is done, also when no time passes.
    if (!queue_.empty() && queue_.front().length - done_ <= kTinyLength) {
        FinishHead();
        return 0;
    }
    double used = 0;
    // At most one block per call; each pass ends a phase, the block, or the time.
    for (int pass = 0; pass < 4 && used < dt && !queue_.empty(); ++pass) {
        const Block& b = queue_.front();
        const double a = b.accel;
        const double d = b.length - done_;
        const double left = dt - used;
        if (d <= kTinyLength) {
            FinishHead();
            return used;
        }
        if (holding_) {
            if (speed_ <= 0) return dt;
            const double disc = speed_ * speed_ - 2 * a * d;
            const double tEnd = disc >= 0 ? (speed_ - std::sqrt(disc)) / a : kInf;
            const double tStop = speed_ / a;
            const double t = std::min({left, tStop, tEnd});
            done_ += speed_ * t - a * t * t / 2;
            speed_ = t == tStop ? 0.0 : std::max(0.0, speed_ - a * t);
            used += t;
            if (t == tEnd) {
                FinishHead();
                return used;
            }
            continue;
        }
        const Profile p = PlanFrom(speed_, d, a, b.nominal, ExitSpeed());
        if (p.tAccel > 0) {
            const double t = std::min(left, p.tAccel);
            done_ += speed_ * t + a * t * t / 2;
            speed_ = t == p.tAccel ? p.peak : speed_ + a * t;
            used += t;
        } else if (p.tCruise > 0) {
            const double t = std::min(left, p.tCruise);
            done_ += speed_ * t;
            used += t;
        } else if (speed_ - p.exit > kTinySpeed) {
            const double t = std::min(left, p.tDecel);
            done_ += speed_ * t - a * t * t / 2;
            speed_ = std::max(p.exit, speed_ - a * t);
            used += t;
            if (t == p.tDecel) {
                speed_ = p.exit;
                FinishHead();
                return used;
            }
        } else {
            // Rounding left a sliver at the exit speed: cover it and end the block.
            const double v = std::max(speed_, 1e-6);
            const double t = std::min(left, d / v);
            done_ += v * t;
            used += t;
            if (b.length - done_ <= kTinyLength) {
                FinishHead();
                return used;
            }
        }
    }
    // Run for the time TimeToNextEvent gave, the block ends even if rounding left a sliver.
    if (!queue_.empty() && queue_.front().length - done_ <= kTinyLength) FinishHead();
    return std::min(used, dt);
}

double Planner::TimeToNextEvent() const {
    if (queue_.empty()) return -1;
    const Block& b = queue_.front();
    const double a = b.accel;
    const double d = std::max(0.0, b.length - done_);
    if (d <= kTinyLength) return 0;
    if (holding_) {
        if (speed_ <= 0) return -1;
        const double disc = speed_ * speed_ - 2 * a * d;
        const double tEnd = disc >= 0 ? (speed_ - std::sqrt(disc)) / a : kInf;
        return std::min(speed_ / a, tEnd);
    }
    const Profile p = PlanFrom(speed_, d, a, b.nominal, ExitSpeed());
    return p.tAccel + p.tCruise + p.tDecel;
}

void Planner::Abort() {
    position_ = Position();
    queue_.clear();
    done_ = 0;
    speed_ = 0;
    holding_ = false;
}

Vec3 Planner::Position() const {
    if (queue_.empty()) return position_;
    Vec3 p = position_;
    const Block& b = queue_.front();
    for (std::size_t i = 0; i < 3; ++i) p[i] += b.unit[i] * done_;
    return p;
}

}  // namespace gcode

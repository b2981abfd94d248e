#pragma once
// GRBL's motion as a model: a look-ahead planner of straight blocks and the machine that runs
// them in (machine) time with trapezoidal speed profiles, the way GRBL
// plans them: junction speeds from the junction deviation, one reverse pass over the queue,
// acceleration and rate limits taken per axis along the block's direction.

#include <array>
#include <cstddef>
#include <deque>

namespace gcode {

using Vec3 = std::array<double, 3>;

struct MachineLimits {
    Vec3 maxRate{500.0, 500.0, 500.0};  // mm/min
    Vec3 accel{10.0, 10.0, 10.0};       // mm/s^2
    double junctionDeviation = 0.010;   // mm
};

class Planner {
public:
    // GRBL's planner is a ring that keeps one slot free: 16 slots in 1.1h, 18 in 0.9j.
    static constexpr std::size_t kCapacity = 15;
    static constexpr std::size_t kCapacity09 = 17;

    explicit Planner(const MachineLimits* limits, std::size_t capacity = kCapacity)
        : limits_(limits), capacity_(capacity) {}

    std::size_t Capacity() const { return capacity_; }
    bool Full() const { return queue_.size() >= capacity_; }
    bool Empty() const { return queue_.empty(); }
    std::size_t Blocks() const { return queue_.size(); }

    // Queues a straight move from the end of the queue to `target` (machine mm). `feed` is in
    // mm/min; a rapid runs at the axes' maximum rates. A move of no length is dropped.
    void Push(const Vec3& target, double feed, bool rapid);

    // Runs the machine for `dt` seconds, stopping early at the end of the head block so
    // that the caller may refill the planner. Returns the time used. Given the time
    // TimeToNextEvent returned, the head block ends (or the hold comes to a stand).
    double Step(double dt);
    // Seconds until the head block ends (or, while holding, until the machine stands):
    // the next moment the caller must look again. Negative when nothing moves.
    double TimeToNextEvent() const;

    // Feed hold: decelerate to a stop and stay; Resume accelerates again.
    void Hold() { holding_ = true; }
    void Resume() { holding_ = false; }
    bool Holding() const { return holding_; }
    bool Moving() const { return !queue_.empty() && !(holding_ && speed_ <= 0.0); }
    double Speed() const { return speed_; }  // mm/s

    // Forgets every queued block at once (reset); the machine stands where it is.
    void Abort();

    Vec3 Position() const;  // machine position, mm
    void SetPosition(const Vec3& p) { position_ = p; }

private:
    struct Block {
        Vec3 target{};
        Vec3 unit{};
        double length = 0;
        double nominal = 0;   // mm/s
        double accel = 0;     // mm/s^2
        double maxEntry = 0;  // mm/s, from the junction and both nominal speeds
        double entry = 0;     // mm/s, after the reverse pass
    };

    void Replan();
    double ExitSpeed() const;
    void FinishHead();

    const MachineLimits* limits_;
    std::size_t capacity_;
    std::deque<Block> queue_;
    Vec3 position_{};   // where the head block started (or where the machine stands)
    double done_ = 0;   // distance run into the head block
    double speed_ = 0;  // mm/s
    bool holding_ = false;
};

}  // namespace gcode

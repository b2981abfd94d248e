// The time estimate against the controller: a varied 2,000-line file (short and long moves,
// arcs in all three planes, feed changes, rapids, a dwell) estimated by the console, then run
// by the simulated controller in machine time, fed as a character-counting sender feeds it.
// The controller's settings reach the estimate the way the console gets them: from its `$$`.
//
//   bench_estimate [1.1h|0.9j]

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <random>
#include <string>
#include <vector>

#include "ControllerText.h"
#include "GrblEngine.h"
#include "PathLoad.h"

namespace {

std::string Num(double v) {
    char b[32];
    const auto [end, ec] = std::to_chars(b, b + sizeof b, v, std::chars_format::fixed, 3);
    return ec == std::errc{} ? std::string(b, end) : std::string("0");
}

// A CAM-like program: pockets of short segments, long traverses, arcs (I/J, R and other
// planes), changing feeds, rapids between the parts.
std::string MakeProgram(int lines, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::string text = "G21 G90 G17 G94\nG0 Z5\nG0 X0 Y0\nG1 Z-1 F300\n";
    int count = 4;
    double x = 0, y = 0;
    while (count < lines - 2) {
        const double r = unit(rng);
        std::string line;
        if (r < 0.35) {  // a run of short segments, as a curve sampled finely
            const double a = unit(rng) * 6.283;
            x += 0.2 * std::cos(a) + 0.05;
            y += 0.2 * std::sin(a);
            line = "G1 X" + Num(x) + " Y" + Num(y);
        } else if (r < 0.5) {  // a long move with a new feed
            x = unit(rng) * 150;
            y = unit(rng) * 100;
            line = "G1 X" + Num(x) + " Y" + Num(y) + " F" + Num(200 + std::floor(unit(rng) * 16) * 100);
        } else if (r < 0.65) {  // an arc by its centre, either way
            const double rad = 1 + unit(rng) * 15, a = unit(rng) * 6.283;
            const double cx = x - rad * std::cos(a), cy = y - rad * std::sin(a);
            const double b = a + (unit(rng) - 0.5) * 4;
            const double nx = cx + rad * std::cos(b), ny = cy + rad * std::sin(b);
            line = std::string(unit(rng) < 0.5 ? "G2" : "G3") + " X" + Num(nx) + " Y" + Num(ny) +
                   " I" + Num(cx - x) + " J" + Num(cy - y);
            x = nx, y = ny;
        } else if (r < 0.72) {  // an arc by its radius
            const double nx = x + 2 + unit(rng) * 8, ny = y + unit(rng) * 4 - 2;
            const double chord = std::hypot(nx - x, ny - y);
            line = "G3 X" + Num(nx) + " Y" + Num(ny) + " R" + Num(chord * (0.55 + unit(rng)));
            x = nx, y = ny;
        } else if (r < 0.78) {  // an arc in the XZ plane, then back to XY
            // A half circle down through Z and up again, ending at the height it began.
            line = "G18 G2 X" + Num(x + 4) + " I2 K0";
            x += 4;
            text += line + "\n";
            ++count;
            line = "G17";
        } else if (r < 0.86) {  // retract, traverse, plunge
            x = unit(rng) * 150;
            y = unit(rng) * 100;
            text += "G0 Z5\n";
            text += "G0 X" + Num(x) + " Y" + Num(y) + "\n";
            count += 2;
            line = "G1 Z-" + Num(0.5 + unit(rng) * 2) + " F" + Num(150 + std::floor(unit(rng) * 4) * 50);
        } else if (r < 0.87) {
            line = "G4 P0.25";
        } else {  // a short zig-zag step
            x += (unit(rng) - 0.5) * 3;
            y += 0.5;
            line = "G1 X" + Num(x) + " Y" + Num(y) + " F" + Num(400 + std::floor(unit(rng) * 10) * 100);
        }
        text += line + "\n";
        ++count;
    }
    text += "G0 Z5\nM2\n";
    return text;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    toolpath::ForEachLine(text, [&](std::string_view l, std::size_t) { out.emplace_back(l); });
    return out;
}

// Runs the engine in machine time until it has nothing to do; returns the replies.
std::string Settle(grblsim::GrblEngine& engine, double& now) {
    std::string out;
    for (;;) {
        engine.Advance(now);
        out += engine.TakeOutput();
        const double next = engine.NextEvent();
        if (next < 0) break;
        now = std::max(now, next);
    }
    return out;
}

}  // namespace

int main(int argc, char* argv[]) {
    const bool v09 = argc > 1 && std::strcmp(argv[1], "0.9j") == 0;
    const gcode::Dialect dialect = v09 ? gcode::Dialect::Grbl09j : gcode::Dialect::Grbl11h;
    grblsim::GrblEngine engine(dialect);
    double now = 0;
    engine.Boot(now);
    Settle(engine, now);

    // A machine faster than the defaults, and different on each axis.
    for (const char* s : {"$110=2500", "$111=2000", "$112=600", "$120=120", "$121=90",
                          "$122=40", "$11=0.02", "$12=0.002"}) {
        engine.Receive(std::string(s) + "\r", now);
        Settle(engine, now);
    }
    engine.Receive("$$\r", now);
    toolpath::MotionSettings settings;
    int applied = 0;
    for (const std::string& line : Lines(Settle(engine, now)))
        applied += toolpath::ApplySettingLine(line, settings) ? 1 : 0;
    std::printf("settings from $$: %d applied (rates %s/%s/%s mm/min, accel %s/%s/%s mm/s^2)\n",
                applied, Num(settings.maxRate[0]).c_str(), Num(settings.maxRate[1]).c_str(),
                Num(settings.maxRate[2]).c_str(), Num(settings.accel[0]).c_str(),
                Num(settings.accel[1]).c_str(), Num(settings.accel[2]).c_str());

    const std::string program = MakeProgram(2000, 19);
    const auto t0 = std::chrono::steady_clock::now();
    const toolpath::LoadedPath loaded = toolpath::LoadPath(program, dialect, settings);
    const double estimateMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    std::printf("file: %zu lines, %zu pieces, %zu refused; estimated in %.1f ms\n", loaded.rows,
                loaded.model ? loaded.model->Pieces() : 0, loaded.errors.size(), estimateMs);
    if (!loaded.errors.empty())
        std::printf("  first refused: row %zu, error %d\n", loaded.errors.front().row,
                    loaded.errors.front().status);

    // The controller: lines go out while they fit its receive buffer (character counting);
    // each "ok" or "error" frees the oldest.
    const std::vector<std::string> lines = Lines(program);
    std::deque<std::size_t> inFlight;
    std::size_t used = 0, next = 0, acknowledged = 0, refused = 0;
    const double start = now;
    std::string pending;
    while (acknowledged < lines.size()) {
        while (next < lines.size() &&
               used + lines[next].size() + 1 <= grblsim::GrblEngine::kRxBufferSize) {
            engine.Receive(lines[next] + "\r", now);
            inFlight.push_back(lines[next].size() + 1);
            used += lines[next].size() + 1;
            ++next;
        }
        engine.Advance(now);
        pending += engine.TakeOutput();
        bool progressed = false;
        for (std::size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
            const std::string reply = pending.substr(0, nl);
            pending.erase(0, nl + 1);
            if (reply.starts_with("ok") || reply.starts_with("error")) {
                if (reply.starts_with("error")) ++refused;
                used -= inFlight.front();
                inFlight.pop_front();
                ++acknowledged;
                progressed = true;
            }
        }
        if (progressed) continue;
        const double at = engine.NextEvent();
        if (at < 0) break;
        now = std::max(now, at);
    }
    Settle(engine, now);  // the last moves run out
    const double controller = now - start;
    const double estimate = loaded.estimate.total;
    std::printf("controller: %zu of %zu lines acknowledged, %zu refused, machine time %.3f s\n",
                acknowledged, lines.size(), refused, controller);
    std::printf("estimate: %.3f s\n", estimate);
    std::printf("estimate error %%: %.2f\n", (estimate - controller) / controller * 100);
    return acknowledged == lines.size() ? 0 : 1;
}

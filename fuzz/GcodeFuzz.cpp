// Fuzzes the G-code interpreter with any text: the first byte picks the version, the rest is
// cut into lines, each run as cleaned by the line reader, raw, and read in place. For any input:
//  - the status is "ok" or one of GRBL's status numbers;
//  - a refused block produces nothing and changes nothing: position, modes and offsets stay;
//  - an accepted block's motions go to finite places at finite, non-negative feeds, and an arc
//    gives at most GRBL's segment count;
//  - the tuned number and line readers answer as their plain references, and a line read in
//    place answers and moves exactly as its cleaned block does.
// Built with -DTARNWICK_LIBFUZZER for libFuzzer; otherwise a program that replays the files
// (or directories of files) named on its command line.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "Interpreter.h"
#include "ReferenceLineReader.h"

namespace {

void Check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "GcodeFuzz: invariant broken: %s\n", what);
    std::abort();
}

void RunBlock(gcode::Interpreter& in, std::string_view block, gcode::Result& result) {
    const gcode::Vec3 position = in.Position();
    const std::string state = in.ParserStateReport();
    const std::string parameters = in.ParametersReport();
    in.Execute(block, result);
    const int s = result.status;
    Check(s >= 0 && s <= gcode::kG43DynamicAxisError, "status number");
    if (s != gcode::kOk) {
        Check(result.motions.empty(), "a refused block moves");
        Check(in.Position() == position, "a refused block changes the position");
        Check(in.ParserStateReport() == state, "a refused block changes the modes");
        Check(in.ParametersReport() == parameters, "a refused block changes the offsets");
        return;
    }
    Check(result.motions.size() <= 65536 + 2, "too many segments");
    for (const gcode::Motion& m : result.motions) {
        for (const double v : m.target) Check(std::isfinite(v), "a motion goes nowhere");
        Check(std::isfinite(m.feed) && m.feed >= 0, "feed");
        Check(std::isfinite(m.seconds) && m.seconds >= 0, "dwell");
    }
}

// The tuned readers against their references, at every place of the line.
void CompareReaders(std::string_view line) {
    std::string out, ref;
    const bool fits = gcode::CleanLine(line, out);
    Check(fits == gcode_reference::CleanLine(line, ref) && out == ref, "line reader");
    for (std::size_t at = 0; at < line.size() && at < 256; ++at) {
        std::size_t pos = at, refPos = at;
        double v = 0, refV = 0;
        const bool ok = gcode::ReadNumber(line, pos, v);
        Check(ok == gcode_reference::ReadNumber(line, refPos, refV) && pos == refPos &&
                  std::memcmp(&v, &refV, sizeof v) == 0,
              "number reader");
    }
}

// A line read in place against its cleaned block run by a twin interpreter.
void CompareInPlace(gcode::Interpreter& inPlace, gcode::Interpreter& twin, std::string_view line,
                    gcode::Result& got, gcode::Result& want) {
    inPlace.ExecuteLine(line, got);
    std::string block;
    want = {};
    if (!gcode::CleanLine(line, block))
        want.status = gcode::kLineOverflow;
    else if (!block.empty())
        twin.Execute(block, want);
    Check(got.status == want.status && got.flow == want.flow &&
              got.motions.size() == want.motions.size(),
          "a line read in place answers otherwise");
    for (std::size_t k = 0; k < got.motions.size(); ++k) {
        const gcode::Motion &a = got.motions[k], &b = want.motions[k];
        Check(a.kind == b.kind && a.target == b.target &&
                  std::memcmp(&a.feed, &b.feed, sizeof a.feed) == 0 && a.arc == b.arc,
              "a line read in place moves otherwise");
    }
    Check(inPlace.Position() == twin.Position() &&
              inPlace.ParserStateReport() == twin.ParserStateReport() &&
              inPlace.ParametersReport() == twin.ParametersReport(),
          "a line read in place leaves another state");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const auto dialect = (data[0] & 1) ? gcode::Dialect::Grbl11h : gcode::Dialect::Grbl09j;
    std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    gcode::Interpreter cleaned(dialect), raw(dialect), inPlace(dialect), twin(dialect);
    gcode::Result result, want;
    std::string block;
    while (!text.empty()) {
        const std::size_t lf = text.find('\n');
        const std::string_view line = text.substr(0, lf);
        if (gcode::CleanLine(line, block)) {
            Check(block.size() < gcode::kLineBufferSize, "a cleaned line overflows");
            RunBlock(cleaned, block, result);
        }
        RunBlock(raw, line, result);
        CompareReaders(line);
        CompareInPlace(inPlace, twin, line, result, want);
        if (lf == std::string_view::npos) break;
        text.remove_prefix(lf + 1);
    }
    return 0;
}

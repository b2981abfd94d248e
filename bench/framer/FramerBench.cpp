// Line framing as the console uses it (stop string LF, everything else at its default, so
// MaxBufferSize 1024): 50 MiB of 30-byte lines handed to the framer's receive handler in
// chunks of 1 KiB, 64 KiB and 1 MiB, against a plain memchr split of the same bytes.
//
// The size limit is tested after a chunk has been cut, on the unfinished line that remains
// (under 30 bytes here), so even a 1 MiB chunk discards nothing; the run counts delivered
// lines and discarded bytes to show it. Each figure is the best of several runs.
//
// Last line: ratio framer/memchr time: R, with R the slowest chunk size's time over the
// memchr split's time.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ComDataPacket.h"

namespace {

constexpr std::size_t kLineBytes = 30;  // 29 bytes of text and the LF
constexpr std::size_t kTotalBytes = std::size_t{50} << 20;
constexpr std::size_t kLines = kTotalBytes / kLineBytes;
constexpr int kRepeats = 9;

using Clock = std::chrono::steady_clock;

// Lines shaped like a controller's status reports, with digits that change from line to
// line so that no two neighbours are alike.
std::string MakeStream() {
    std::string data;
    data.reserve(kLines * kLineBytes);
    char line[kLineBytes + 1];
    for (std::size_t i = 0; i < kLines; ++i) {
        const int n = std::snprintf(line, sizeof line, "<Idle|WPos:%06zu.%03zu,%05zu>\r\n",
                                    i % 1000000, (i * 7) % 1000, (i * 13) % 100000);
        if (n != static_cast<int>(kLineBytes)) std::abort();
        data.append(line, kLineBytes);
    }
    return data;
}

struct Result {
    double seconds = 0;
    std::size_t lines = 0;
    std::size_t lineBytes = 0;  // bytes of the delivered lines, without their LF
    std::size_t discarded = 0;
};

Result RunFramer(const std::string& data, std::size_t chunk) {
    Result best;
    for (int r = 0; r < kRepeats; ++r) {
        TComDataPacket framer;
        framer.SetStopString("\n");
        Result run;
        framer.OnPacket = [&run](TObject*, const std::string& s) {
            ++run.lines;
            run.lineBytes += s.size();
        };
        framer.OnDiscard = [&run](TObject*, const std::string& s) { run.discarded += s.size(); };
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
        const auto start = Clock::now();
        for (std::size_t at = 0; at < data.size(); at += chunk) {
            const std::size_t n = std::min(chunk, data.size() - at);
            framer.ReceiveData(nullptr, bytes + at, static_cast<std::int32_t>(n));
        }
        run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (r == 0 || run.seconds < best.seconds) best = run;
    }
    return best;
}

Result RunMemchr(const std::string& data) {
    Result best;
    for (int r = 0; r < kRepeats; ++r) {
        Result run;
        const char* p = data.data();
        const char* const end = p + data.size();
        const auto start = Clock::now();
        while (p < end) {
            const auto* lf = static_cast<const char*>(std::memchr(p, '\n', end - p));
            if (!lf) break;
            ++run.lines;
            run.lineBytes += static_cast<std::size_t>(lf - p);
            p = lf + 1;
        }
        run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (r == 0 || run.seconds < best.seconds) best = run;
    }
    return best;
}

double MBps(std::size_t bytes, double seconds) { return bytes / seconds / 1e6; }

}  // namespace

int main() {
    const std::string data = MakeStream();
    std::printf("line framing: %zu bytes, %zu lines of %zu bytes (MB = 10^6 bytes, best of %d)\n",
                data.size(), kLines, kLineBytes, kRepeats);

    const Result split = RunMemchr(data);
    bool ok = split.lines == kLines && split.lineBytes == kLines * (kLineBytes - 1);

    const std::size_t chunks[] = {1024, 64 * 1024, 1024 * 1024};
    double worst = 0;
    for (std::size_t chunk : chunks) {
        const Result r = RunFramer(data, chunk);
        std::printf("framer, chunks of %7zu bytes: %8.1f MB/s  %.3f s  lines %zu  discarded bytes "
                    "%zu\n",
                    chunk, MBps(data.size(), r.seconds), r.seconds, r.lines, r.discarded);
        ok = ok && r.lines == split.lines && r.lineBytes == split.lineBytes && r.discarded == 0;
        worst = std::max(worst, r.seconds);
    }
    std::printf("memchr split:                   %8.1f MB/s  %.3f s  lines %zu\n",
                MBps(data.size(), split.seconds), split.seconds, split.lines);
    if (!ok) {
        std::printf("MISMATCH: the framer did not deliver every line exactly once\n");
        return EXIT_FAILURE;
    }
    std::printf("ratio framer/memchr time: %.2f\n", worst / split.seconds);
    return EXIT_SUCCESS;
}

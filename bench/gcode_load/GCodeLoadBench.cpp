// A G-code file of 1,000,000 lines (about 30 MB) loaded into the G-code grid, against a plain
// read of the same file split into lines with memchr. In one run:
//  - read: open, read the whole file into one buffer, record where every line starts (memchr
//    for LF); the best of several runs, in the thread's processor time (wall time beside);
//  - load: LoadCsvFile(file, ';', '"', true) into a fresh grid (not shown), the same way;
//  - memory: growth of the peak resident size over the size just before the first load (the
//    peak is reset through /proc/self/clear_refs), against the file's size.
// Last two lines: "memory/file: M" (goal M <= 3) and "ratio load/read: R" (goal R <= 1.5).

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <clocale>
#include <ctime>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "GCodeGrid.h"

namespace {

using bench::Now;
using bench::StatusKiB;
using bench::ResetPeak;

constexpr int kLines = 1'000'000;
constexpr int kRepeats = 5;

std::string MakeFile(const std::string& dir) {
    const std::string path = dir + "/million.nc";
    std::string text;
    text.reserve(std::size_t{kLines} * 34);
    char line[96];
    for (int i = 0; i < kLines; ++i) {
        const int n = (i % 20 == 0)
                          ? std::snprintf(line, sizeof line, "N%d G0 Z5.000 ; pass %d\r\n", i, i / 20)
                          : std::snprintf(line, sizeof line, "N%d G1 X%d.%03d Y%d.%03d\r\n", i,
                                          i % 400, (i * 7) % 1000, (i / 400) % 300, (i * 13) % 1000);
        text.append(line, static_cast<std::size_t>(n));
    }
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

// The plain read: the file into one buffer, then the start of every line.
std::size_t PlainRead(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) std::abort();
    struct stat st {};
    ::fstat(fd, &st);
    std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t used = 0;
    while (used < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + used, bytes.size() - used);
        if (n <= 0) break;
        used += static_cast<std::size_t>(n);
    }
    ::close(fd);
    std::vector<std::uint64_t> starts;
    const char* p = bytes.data();
    const char* const end = p + used;
    while (p < end) {
        starts.push_back(static_cast<std::uint64_t>(p - bytes.data()));
        const void* lf = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
        if (!lf) break;
        p = static_cast<const char*>(lf) + 1;
    }
    return starts.size();
}

// Time spent: the thread's processor time, which the other work of a shared machine does not
// inflate; wall time is printed beside it.
struct Times {
    double cpu = 1e9;
    double wall = 1e9;
};

// The best of several runs of `timed`, each after an untimed `setup`.
template <typename Setup, typename Timed>
Times Best(Setup&& setup, Timed&& timed) {
    Times best;
    for (int r = 0; r < kRepeats; ++r) {
        auto state = setup();
        const double c0 = Now(CLOCK_THREAD_CPUTIME_ID);
        const double w0 = Now(CLOCK_MONOTONIC);
        timed(state);
        best.wall = std::min(best.wall, Now(CLOCK_MONOTONIC) - w0);
        best.cpu = std::min(best.cpu, Now(CLOCK_THREAD_CPUTIME_ID) - c0);
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The application took the user's locale; the figures printed keep a decimal point.
    std::setlocale(LC_NUMERIC, "C");

    char pattern[] = "/tmp/tarnwick-bench-XXXXXX";
    const char* dir = ::mkdtemp(pattern);
    if (!dir) return 1;
    const std::string path = MakeFile(dir);
    struct stat st {};
    ::stat(path.c_str(), &st);
    const double fileMiB = static_cast<double>(st.st_size) / (1 << 20);
    std::printf("file: %d lines, %.1f MiB\n", kLines, fileMiB);

    // Memory first, on a fresh process state: the peak over the size just before the load.
    double memoryRatio = -1;
    {
        auto grid = std::make_unique<TGCodeGrid>();
        const bool reset = ResetPeak();
        const long before = StatusKiB("VmRSS:");
        grid->LoadCsvFile(path, ';', '"', true);
        const long peak = StatusKiB("VmHWM:");
        if (reset && before > 0 && peak > 0) {
            const double grownMiB = static_cast<double>(peak - before) / 1024;
            memoryRatio = grownMiB / fileMiB;
            std::printf("load: rows %d, peak grew by %.1f MiB (grid holds %.1f MiB)\n",
                        grid->RowCount(), grownMiB,
                        static_cast<double>(grid->MemoryUsed()) / (1 << 20));
        } else {
            std::printf("load: the peak resident size cannot be reset here\n");
        }
    }

    std::size_t lines = 0;
    const Times read = Best([] { return 0; }, [&](int) { lines = PlainRead(path); });
    std::printf("read + memchr split: %.1f ms processor, %.1f ms wall (%zu lines)\n",
                read.cpu * 1e3, read.wall * 1e3, lines);

    const Times load = Best([] { return std::make_unique<TGCodeGrid>(); },
                            [&](std::unique_ptr<TGCodeGrid>& grid) {
                                grid->LoadCsvFile(path, ';', '"', true);
                                if (grid->RowCount() != kLines) std::abort();
                            });
    std::printf("LoadCsvFile: %.1f ms processor, %.1f ms wall\n", load.cpu * 1e3,
                load.wall * 1e3);

    std::remove(path.c_str());
    ::rmdir(dir);
    std::printf("memory/file: %.2f\n", memoryRatio);
    std::printf("ratio load/read: %.2f\n", load.cpu / read.cpu);
    return 0;
}

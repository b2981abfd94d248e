#pragma once
// Small helpers shared by the parts of the tty device: clocks and deadlines, eventfd posts,
// ioctl with EINTR retry, and what an errno says about the device.

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>

#include "Device.h"

namespace device::ttyio {

inline constexpr std::uint32_t kLineEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING;
inline constexpr std::int64_t kNever = INT64_MAX;

inline std::int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

inline std::int64_t MsToNs(std::uint64_t ms) {
    constexpr std::uint64_t kMaxMs = std::uint64_t(INT64_MAX / 4) / 1000000u;
    return std::int64_t(std::min(ms, kMaxMs)) * 1000000;
}

// poll() time-out for a deadline (rounded up so a wake-up never comes early).
inline int PollTimeout(std::int64_t deadline) {
    if (deadline == kNever) return -1;
    const std::int64_t left = deadline - NowNs();
    if (left <= 0) return 0;
    return int(std::min<std::int64_t>((left + 999999) / 1000000, INT_MAX));
}

inline void Post(int efd) {
    const std::uint64_t one = 1;
    while (::write(efd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

inline void Drain(int efd) {
    std::uint64_t value;
    while (::read(efd, &value, sizeof value) < 0 && errno == EINTR) {
    }
}

inline bool NoModemLines(int e) { return e == ENOTTY || e == EINVAL; }

// Pseudo-terminals (both sides; Unix98 and legacy BSD) by their character-device majors.
inline bool IsPseudoTerminal(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    const unsigned m = major(st.st_rdev);
    return m == 2 || m == 3 || (m >= 128 && m <= 143);
}

// A failure meaning the device has gone (USB unplug, pty master closed).
inline bool DeviceGone(int e) { return e == EIO || e == ENXIO || e == ENODEV; }

inline int Ioctl(int fd, unsigned long request, void* arg) {
    int r;
    do {
        r = ::ioctl(fd, request, arg);
    } while (r < 0 && errno == EINTR);
    return r < 0 ? errno : 0;
}


}  // namespace device::ttyio

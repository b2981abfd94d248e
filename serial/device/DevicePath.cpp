#include "Device.h"

#include <cstdint>

namespace device {

namespace {

// "COMn" (case-insensitive), n decimal >= 1 without sign or leading zeros; returns n or 0.
std::uint64_t ComNumber(const std::string& name) {
    if (name.size() < 4 || name.size() > 13) return 0;
    auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; };
    if (upper(name[0]) != 'C' || upper(name[1]) != 'O' || upper(name[2]) != 'M') return 0;
    if (name[3] == '0') return 0;
    std::uint64_t n = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return 0;
        n = n * 10 + std::uint64_t(name[i] - '0');
    }
    return n;
}

}  // namespace

std::string DevicePath(const std::string& port) {
    if (port.empty() || port.find('\0') != std::string::npos) return {};
    if (port.front() == '/') return port;
    if (const std::uint64_t n = ComNumber(port); n > 0) return "/dev/ttyS" + std::to_string(n - 1);
    // A relative name stays below /dev: refuse any ".." component.
    std::size_t begin = 0;
    while (begin <= port.size()) {
        std::size_t end = port.find('/', begin);
        if (end == std::string::npos) end = port.size();
        if (port.compare(begin, end - begin, "..") == 0) return {};
        begin = end + 1;
    }
    return "/dev/" + port;
}

}  // namespace device

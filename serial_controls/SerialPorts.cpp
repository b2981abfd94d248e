#include "SerialPorts.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr const char* kDefaultTtyClassDir = "/sys/class/tty";

std::mutex dirMutex;
std::string& ClassDir() {
    static std::string dir = kDefaultTtyClassDir;
    return dir;
}

// The 8250 driver registers a tty for every slot it was configured with, hardware or not;
// the empty slots report UART type 0 (PORT_UNKNOWN). Drivers without the attribute are kept.
bool IsEmptyUartSlot(const fs::path& entry) {
    std::ifstream in(entry / "type");
    if (!in) return false;
    std::string value;
    in >> value;
    return value == "0";
}

bool HasDevice(const fs::path& entry) {
    std::error_code ec;
    // The link itself is what marks a hardware tty; a virtual one (tty0, console) has none.
    return fs::exists(fs::symlink_status(entry / "device", ec));
}

std::string PortName(std::string sysfsName) {
    std::replace(sysfsName.begin(), sysfsName.end(), '!', '/');
    return sysfsName;
}

std::vector<std::string> ScanPorts(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    if (ec) return names;
    // An error in the middle of the walk ends it; the ports found so far are kept.
    for (const fs::directory_iterator end; it != end;) {
        const fs::path entry = it->path();
        const std::string name = entry.filename().string();
        if (!name.empty() && name.front() != '.' && HasDevice(entry) && !IsEmptyUartSlot(entry))
            names.push_back(PortName(name));
        it.increment(ec);
        if (ec) break;
    }
    return names;
}

}  // namespace

void ListSerialPorts(TStrings& list, const std::string& ttyClassDir) {
    try {
        std::vector<std::string> names = ScanPorts(ttyClassDir);
        // Equal ignoring case: byte order decides, so the result does not depend on the order
        // in which the directory happens to list its entries.
        std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
            const int c = CompareText(a, b);
            return c != 0 ? c < 0 : a < b;
        });
        list.Assign(names);
    } catch (...) {
        try {
            list.Clear();
        } catch (...) {
        }
    }
}

void ListSerialPorts(TStrings& list) { ListSerialPorts(list, TtyClassDir()); }

void SetTtyClassDir(const std::string& dir) {
    std::lock_guard lock(dirMutex);
    ClassDir() = dir.empty() ? kDefaultTtyClassDir : dir;
}

std::string TtyClassDir() {
    std::lock_guard lock(dirMutex);
    return ClassDir();
}

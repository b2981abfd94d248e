#include "SerialPorts.h"

#include "Device.h"

#include <errno.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <mutex>
#include <optional>
#include <string_view>
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
std::string& SimulatorDirOverride() {
    static std::string dir;
    return dir;
}

bool IsPrivateDir(const std::string& dir, std::string* why) {
    struct stat st {};
    if (lstat(dir.c_str(), &st) != 0) {
        if (why) *why = dir + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        if (why) *why = dir + " is not a directory";
        return false;
    }
    if (st.st_uid != geteuid()) {
        if (why) *why = dir + " belongs to another user";
        return false;
    }
    if ((st.st_mode & 077) != 0) {
        if (why) *why = dir + " is open to other users (mode must be 0700)";
        return false;
    }
    return true;
}

// Unix98 pseudo-terminal slaves have majors 136 to 143; other terminals are in the tty class.
bool IsTerminalDevice(const struct stat& st, const fs::path& target, const std::string& classDir) {
    if (!S_ISCHR(st.st_mode)) return false;
    const unsigned int maj = major(st.st_rdev);
    if (maj >= 136 && maj <= 143) return true;
    std::error_code ec;
    return !target.filename().empty() &&
           fs::exists(fs::symlink_status(fs::path(classDir) / target.filename(), ec));
}

// The process id at the end of an announcement's name ("grblsim-4242"); nothing when the name
// does not end in "-<digits>", and -1 for digits that no process id can have.
std::optional<pid_t> AnnouncedPid(const std::string& name) {
    const std::size_t dash = name.rfind('-');
    if (dash == std::string::npos || dash + 1 >= name.size()) return std::nullopt;
    long long pid = 0;
    for (std::size_t i = dash + 1; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return std::nullopt;
        pid = std::min<long long>(pid * 10 + (name[i] - '0'), std::numeric_limits<pid_t>::max() + 1LL);
    }
    return pid > std::numeric_limits<pid_t>::max() ? -1 : static_cast<pid_t>(pid);
}

bool ProcessRuns(pid_t pid) { return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM); }

// The link was made when its device's node already existed in its present form.
bool MadeForThisDevice(const struct stat& link, const struct stat& device) {
    if (link.st_mtim.tv_sec != device.st_ctim.tv_sec) return link.st_mtim.tv_sec > device.st_ctim.tv_sec;
    return link.st_mtim.tv_nsec >= device.st_ctim.tv_nsec;
}

std::vector<std::string>& Extras() {
    static std::vector<std::string> names;
    return names;
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

void SortPortNames(std::vector<std::string>& names) {
    // Equal ignoring case: byte order decides, so the result does not depend on the order
    // in which the directory happens to list its entries.
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const int c = CompareText(a, b);
        return c != 0 ? c < 0 : a < b;
    });
}

void FillList(TStrings& list, const std::string& ttyClassDir, const std::string* simulatorDir) {
    try {
        std::vector<std::string> names = ScanPorts(ttyClassDir);
        if (simulatorDir) {
            std::vector<std::string> more = ListSimulatorPorts(*simulatorDir, ttyClassDir);
            for (std::string& extra : PresentPorts(ExtraPorts()))
                if (std::none_of(names.begin(), names.end(), [&](const std::string& n) { return CompareText(n, extra) == 0; }) &&
                    std::none_of(more.begin(), more.end(), [&](const std::string& n) { return CompareText(n, extra) == 0; }))
                    more.push_back(std::move(extra));
            names.insert(names.end(), more.begin(), more.end());
        }
        SortPortNames(names);
        list.Assign(names);
    } catch (...) {
        try {
            list.Clear();
        } catch (...) {
        }
    }
}

}  // namespace

std::vector<std::string> ListSimulatorPorts(const std::string& dir,
                                            const std::string& ttyClassDir) {
    std::vector<std::string> ports;
    if (dir.empty() || !IsPrivateDir(dir, nullptr)) return ports;
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    if (ec) return ports;
    for (const fs::directory_iterator end; it != end;) {
        const fs::path entry = it->path();
        const std::string name = entry.filename().string();
        struct stat link {};
        struct stat target {};
        const std::optional<pid_t> owner = AnnouncedPid(name);
        if (!name.empty() && name.front() != '.' && lstat(entry.c_str(), &link) == 0 &&
            S_ISLNK(link.st_mode) && stat(entry.c_str(), &target) == 0 &&
            IsTerminalDevice(target, fs::read_symlink(entry, ec), ttyClassDir) &&
            MadeForThisDevice(link, target) && (!owner || ProcessRuns(*owner)))
            ports.push_back(fs::absolute(entry, ec).lexically_normal().string());
        it.increment(ec);
        if (ec) break;
    }
    return ports;
}

void SetExtraPorts(std::vector<std::string> names) {
    std::lock_guard lock(dirMutex);
    Extras() = std::move(names);
}

std::vector<std::string> ExtraPorts() {
    std::lock_guard lock(dirMutex);
    return Extras();
}

std::vector<std::string> PresentPorts(const std::vector<std::string>& names) {
    std::vector<std::string> present;
    for (const std::string& name : names) {
        struct stat st {};
        const std::string path = device::DevicePath(name);
        if (!path.empty() && stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode)) present.push_back(name);
    }
    return present;
}

std::string ShortPortName(const std::string& name) {
    if (name.empty() || name.front() != '/') return name;
    const std::string_view dev = "/dev/";
    if (name.starts_with(dev) && std::count(name.begin() + dev.size(), name.end(), '/') <= 1)
        return name.substr(dev.size());
    const std::size_t slash = name.find_last_of('/');
    return slash + 1 < name.size() ? name.substr(slash + 1) : name;
}

std::string DefaultSimulatorPortDir() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/') return std::string(runtime) + "/tarnwick";
    return "/tmp/tarnwick-" + std::to_string(geteuid());
}

void SetSimulatorPortDir(const std::string& dir) {
    std::lock_guard lock(dirMutex);
    SimulatorDirOverride() = dir;
}

std::string SimulatorPortDir() {
    std::lock_guard lock(dirMutex);
    return SimulatorDirOverride().empty() ? DefaultSimulatorPortDir() : SimulatorDirOverride();
}

bool PrepareSimulatorPortDir(const std::string& dir, std::string& why) {
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        why = dir + ": " + std::strerror(errno);
        return false;
    }
    return IsPrivateDir(dir, &why);
}

void ListSerialPorts(TStrings& list, const std::string& ttyClassDir) {
    FillList(list, ttyClassDir, nullptr);
}

void ListSerialPorts(TStrings& list) {
    const std::string simulators = SimulatorPortDir();
    FillList(list, TtyClassDir(), &simulators);
}

void SetTtyClassDir(const std::string& dir) {
    std::lock_guard lock(dirMutex);
    ClassDir() = dir.empty() ? kDefaultTtyClassDir : dir;
}

std::string TtyClassDir() {
    std::lock_guard lock(dirMutex);
    return ClassDir();
}

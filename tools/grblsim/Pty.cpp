#include "Pty.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>

#include "SerialPorts.h"

namespace grblsim {

namespace {
std::string Failed(const char* what) { return std::string(what) + ": " + std::strerror(errno); }
}  // namespace

bool Pty::Create(std::string& why) {
    Close();
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0) {
        why = Failed("posix_openpt");
        return false;
    }
    char name[128];
    if (grantpt(master_) != 0 || unlockpt(master_) != 0 ||
        ptsname_r(master_, name, sizeof name) != 0) {
        why = Failed("pseudo-terminal set-up");
        Close();
        return false;
    }
    slave_ = name;
    // Raw from the start: a client that opens the port and reads before it sets its own
    // line mode must not have the banner echoed back or cooked into lines.
    struct termios t {};
    if (tcgetattr(master_, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(master_, TCSANOW, &t);
    }
    watch_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch_ < 0 || inotify_add_watch(watch_, name, IN_OPEN | IN_CLOSE) < 0) {
        why = Failed("inotify");
        Close();
        return false;
    }
    return true;
}

void Pty::Close() {
    if (watch_ >= 0) close(watch_);
    if (master_ >= 0) close(master_);
    watch_ = master_ = -1;
    slave_.clear();
}

std::vector<int> Pty::TakeEvents() {
    alignas(struct inotify_event) char buf[4096];
    std::vector<int> events;
    for (;;) {
        const ssize_t n = read(watch_, buf, sizeof buf);
        if (n <= 0) break;
        for (ssize_t off = 0; off + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buf + off);
            if (e->mask & IN_OPEN) events.push_back(+1);
            if (e->mask & IN_CLOSE) events.push_back(-1);
            off += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        }
    }
    return events;
}

void Pty::Flush() {
    if (master_ >= 0) tcflush(master_, TCIOFLUSH);
}

bool Announcement::Publish(const std::string& dir, const std::string& target, std::string& why) {
    Withdraw();
    if (!PrepareSimulatorPortDir(dir, why)) return false;
    dir_ = dir;
    path_ = dir + "/grblsim-" + std::to_string(getpid());
    if (!Retarget(target, why)) {
        path_.clear();
        return false;
    }
    return true;
}

bool Announcement::Retarget(const std::string& target, std::string& why) {
    // Made under a hidden name and renamed over the entry, so a reader never sees it half
    // done or missing.
    const std::string temp = dir_ + "/.grblsim-" + std::to_string(getpid()) + ".new";
    unlink(temp.c_str());
    if (symlink(target.c_str(), temp.c_str()) != 0 || rename(temp.c_str(), path_.c_str()) != 0) {
        why = Failed(path_.c_str());
        unlink(temp.c_str());
        return false;
    }
    return true;
}

void Announcement::Withdraw() {
    if (!path_.empty()) unlink(path_.c_str());
    path_.clear();
}

}  // namespace grblsim

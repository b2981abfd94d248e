#pragma once
// The simulator's end of a pseudo-terminal, and its announcement in the runtime directory.
//
// The simulator never opens the terminal's slave side itself: with no slave open, a client's
// close shows on the master as a hang-up (POLLHUP), which is how a disconnect is seen. That
// hang-up stays raised until the next open, so while no client is there the master is not
// watched at all; an inotify watch on the slave's device node reports the next open instead.
// Nothing polls in a loop.

#include <string>

namespace grblsim {

class Pty {
public:
    Pty() = default;
    ~Pty() { Close(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    // A fresh pair, raw, with the open watch in place. False with `why` set on failure.
    bool Create(std::string& why);
    void Close();

    int Master() const { return master_; }
    int OpenWatch() const { return watch_; }
    const std::string& SlavePath() const { return slave_; }

    // Reads the watch's pending events; true when a client opened the slave.
    bool TakeOpenEvent();
    // Drops whatever either direction still holds, so the next client starts clean.
    void Flush();

private:
    int master_ = -1;
    int watch_ = -1;
    std::string slave_;
};

// A symbolic link "grblsim-<pid>" in the runtime directory leading to the terminal, there
// while the simulator runs (the port list reads these).
class Announcement {
public:
    ~Announcement() { Withdraw(); }
    bool Publish(const std::string& dir, const std::string& target, std::string& why);
    // Leads the same name to another terminal (after a simulated hang-up).
    bool Retarget(const std::string& target, std::string& why);
    void Withdraw();
    const std::string& Path() const { return path_; }

private:
    std::string dir_;
    std::string path_;
};

}  // namespace grblsim

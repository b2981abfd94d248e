#pragma once
// The simulator's end of a pseudo-terminal, and its announcement in the runtime directory.
//
// Clients come and go as inotify reports opens and closes of the slave's device node. The
// master's hang-up (POLLHUP while no slave is open) is no use for that: it is a level, which
// would keep poll() returning while nobody is there, and a client that closes and opens again
// at once clears it before the simulator looks. The events are queued, so none is missed.
// The simulator never opens the slave itself.

#include <string>
#include <vector>

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

    // Reads the watch's pending events: +1 for each open of the slave, -1 for each close, in
    // the order they happened.
    std::vector<int> TakeEvents();
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

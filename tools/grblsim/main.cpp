// grblsim: a GRBL controller at the far end of a pseudo-terminal, for trying the console
// without a machine and for its end-to-end tests.
//
//   grblsim [--dialect 0.9j|1.1h] [--time-scale X] [--probe-z Z] [--runtime-dir DIR]
//           [--no-announce] [--fault hangup:N|garble:N|silent:N ...]
//
// Prints the terminal's path (and the announcement's) on its first lines, then serves one
// client at a time until SIGINT or SIGTERM, withdrawing the announcement on the way out.

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <time.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "GrblEngine.h"
#include "Pty.h"
#include "SerialPorts.h"

namespace {

using grblsim::Dialect;
using grblsim::GrblEngine;

struct Fault {
    enum Kind { Hangup, Garble, Silent } kind;
    long afterLines;
    bool done = false;
};

struct Options {
    Dialect dialect = Dialect::Grbl09j;
    double timeScale = 1.0;
    bool hasProbeSurface = false;
    double probeZ = 0;
    std::string runtimeDir = DefaultSimulatorPortDir();
    bool announce = true;
    std::vector<Fault> faults;
};

void Usage() {
    std::fprintf(stderr,
                 "usage: grblsim [--dialect 0.9j|1.1h] [--time-scale X] [--probe-z Z]\n"
                 "               [--runtime-dir DIR] [--no-announce]\n"
                 "               [--fault hangup:N|garble:N|silent:N ...]\n"
                 "  --time-scale X   motion and dwells run X times faster (default 1)\n"
                 "  --probe-z Z      a work surface at machine Z (mm) for probing (G38.x);\n"
                 "                   without it a probe touches nothing\n"
                 "  --fault K:N      after the Nth line of a connection: hang up (a new\n"
                 "                   terminal takes the announced name), garble the next reply,\n"
                 "                   or answer nothing more on that connection\n");
}

// A whole argument as a number, the same in every locale.
template <typename T>
bool ParseNumber(std::string_view text, T& value) {
    const char* end = text.data() + text.size();
    const auto r = std::from_chars(text.data(), end, value);
    return r.ec == std::errc() && r.ptr == end;
}

bool ParseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == "--no-announce") {
            o.announce = false;
            continue;
        }
        if (!value) return false;
        ++i;
        if (arg == "--dialect") {
            if (std::strcmp(value, "0.9j") == 0)
                o.dialect = Dialect::Grbl09j;
            else if (std::strcmp(value, "1.1h") == 0)
                o.dialect = Dialect::Grbl11h;
            else
                return false;
        } else if (arg == "--time-scale") {
            if (!ParseNumber(value, o.timeScale) || !(o.timeScale > 0) || o.timeScale > 1e6)
                return false;
        } else if (arg == "--probe-z") {
            if (!ParseNumber(value, o.probeZ) || !std::isfinite(o.probeZ)) return false;
            o.hasProbeSurface = true;
        } else if (arg == "--runtime-dir") {
            o.runtimeDir = value;
        } else if (arg == "--fault") {
            const std::string spec = value;
            const std::size_t colon = spec.find(':');
            if (colon == std::string::npos) return false;
            const std::string kind = spec.substr(0, colon);
            long n = 0;
            if (!ParseNumber(std::string_view(spec).substr(colon + 1), n) || n < 0) return false;
            if (kind == "hangup")
                o.faults.push_back({Fault::Hangup, n});
            else if (kind == "garble")
                o.faults.push_back({Fault::Garble, n});
            else if (kind == "silent")
                o.faults.push_back({Fault::Silent, n});
            else
                return false;
        } else {
            return false;
        }
    }
    return true;
}

class Simulator {
public:
    explicit Simulator(Options options) : o_(std::move(options)) {}

    int Run() {
        sigset_t signals;
        sigemptyset(&signals);
        sigaddset(&signals, SIGINT);
        sigaddset(&signals, SIGTERM);
        sigaddset(&signals, SIGHUP);
        sigprocmask(SIG_BLOCK, &signals, nullptr);
        signal(SIGPIPE, SIG_IGN);
        const int signalFd = signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
        std::string why;
        if (signalFd < 0 || !pty_.Create(why)) {
            std::fprintf(stderr, "grblsim: %s\n", why.empty() ? std::strerror(errno) : why.c_str());
            return 1;
        }
        std::printf("grblsim %s: %s\n", o_.dialect == Dialect::Grbl09j ? "0.9j" : "1.1h",
                    pty_.SlavePath().c_str());
        if (o_.announce) {
            if (announcement_.Publish(o_.runtimeDir, pty_.SlavePath(), why))
                std::printf("grblsim: listed as %s\n", announcement_.Path().c_str());
            else
                std::fprintf(stderr, "grblsim: not listed in the port list: %s\n", why.c_str());
        }
        std::fflush(stdout);

        for (;;) {
            pollfd fds[3] = {{signalFd, POLLIN, 0}, {pty_.OpenWatch(), POLLIN, 0}, {-1, 0, 0}};
            if (connected_)
                fds[2] = {pty_.Master(), static_cast<short>(POLLIN | (out_.empty() ? 0 : POLLOUT)),
                          0};
            timespec wait{};
            const timespec* timeout = WaitTime(wait);
            if (ppoll(fds, 3, timeout, nullptr) < 0 && errno != EINTR) {
                std::perror("grblsim: ppoll");
                return 1;
            }
            if (fds[0].revents) break;  // SIGINT, SIGTERM or SIGHUP: leave cleanly
            if (fds[1].revents) {
                bool opened = false;
                for (const int change : pty_.TakeEvents()) {
                    if (change > 0 && openers_++ == 0) {
                        Connect();
                        opened = true;
                    }
                    if (change < 0 && openers_ > 0 && --openers_ == 0) Disconnect();
                }
                // The master's state was taken before this open: a hang-up in it is that of
                // the client that has just gone, not of the new one. Look again first.
                if (opened) continue;
            }
            if (!connected_) continue;
            if (fds[2].revents & POLLIN) Read();
            // A hang-up without its close event (should the events ever disagree) ends the
            // connection too, rather than being reported again and again.
            if (connected_ && (fds[2].revents & (POLLHUP | POLLERR)) && !(fds[2].revents & POLLIN))
                Disconnect();
            if (!connected_) continue;
            engine_->Advance(Now());
            Emit(engine_->TakeOutput());
            Write();
        }
        announcement_.Withdraw();
        close(signalFd);
        return 0;
    }

private:
    double Now() const {
        const std::chrono::duration<double> t = std::chrono::steady_clock::now() - start_;
        return t.count() * o_.timeScale;
    }

    // Sleep until the machine has something to do; without a client or motion, until a byte,
    // an open or a signal arrives.
    const timespec* WaitTime(timespec& ts) const {
        if (!connected_) return nullptr;
        const double next = engine_->NextEvent();
        if (next < 0) return nullptr;
        // The floor only guards against a rounding that would ask for no wait at all.
        const double seconds = std::max((next - Now()) / o_.timeScale, 20e-6);
        ts.tv_sec = static_cast<time_t>(seconds);
        ts.tv_nsec = static_cast<long>((seconds - std::floor(seconds)) * 1e9);
        return &ts;
    }

    void Connect() {
        connected_ = true;
        silent_ = false;
        garbleNext_ = false;
        lines_ = 0;
        // The board resets when a client opens the port; its settings memory lives as long as
        // the simulator.
        if (!engine_) {
            engine_ = std::make_unique<GrblEngine>(o_.dialect);
            if (o_.hasProbeSurface) engine_->SetProbeSurface(o_.probeZ);
        }
        (void)engine_->TakeOutput();  // what the last client did not read is gone with it
        engine_->Boot(Now());
        Emit(engine_->TakeOutput());
        Write();
    }

    void Disconnect() {
        connected_ = false;
        openers_ = 0;
        out_.clear();
        pty_.Flush();
    }

    void Read() {
        char buf[4096];
        const ssize_t n = read(pty_.Master(), buf, sizeof buf);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
        if (n <= 0) {
            Disconnect();
            return;
        }
        const std::string_view bytes(buf, static_cast<std::size_t>(n));
        engine_->Receive(bytes, Now());
        for (const char c : bytes)
            if (c == '\n' || c == '\r') ++lines_;
        for (Fault& f : o_.faults) {
            if (f.done || lines_ < f.afterLines) continue;
            f.done = true;
            if (f.kind == Fault::Silent) silent_ = true;
            if (f.kind == Fault::Garble) garbleNext_ = true;
            if (f.kind == Fault::Hangup) {
                HangUp();
                return;
            }
        }
    }

    // Like an adapter pulled from the socket: the terminal goes away under the client. A new
    // one takes the announced name, so the same entry of the port list reaches it again.
    void HangUp() {
        connected_ = false;
        openers_ = 0;
        out_.clear();
        std::string why;
        if (!pty_.Create(why)) {
            std::fprintf(stderr, "grblsim: %s\n", why.c_str());
            std::exit(1);
        }
        if (!announcement_.Path().empty() && !announcement_.Retarget(pty_.SlavePath(), why))
            std::fprintf(stderr, "grblsim: %s\n", why.c_str());
        std::printf("grblsim: hung up; now on %s\n", pty_.SlavePath().c_str());
        std::fflush(stdout);
    }

    void Emit(std::string text) {
        if (text.empty() || silent_) return;
        if (garbleNext_) {
            garbleNext_ = false;
            const std::size_t end = text.find('\n');
            for (std::size_t i = 0; i < text.size() && i < end; ++i)
                if (text[i] != '\r') text[i] = static_cast<char>(text[i] ^ 0xA5);
        }
        out_ += text;
    }

    void Write() {
        while (!out_.empty()) {
            const ssize_t n = write(pty_.Master(), out_.data(), out_.size());
            if (n <= 0) return;  // full: POLLOUT brings us back; gone: POLLHUP does
            out_.erase(0, static_cast<std::size_t>(n));
        }
    }

    Options o_;
    grblsim::Pty pty_;
    grblsim::Announcement announcement_;
    std::unique_ptr<GrblEngine> engine_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::string out_;
    bool connected_ = false;
    int openers_ = 0;  // open descriptions of the slave, as the watch counted them
    bool silent_ = false;
    bool garbleNext_ = false;
    long lines_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    // The user's locale, so that its tests show every number stays locale-free.
    std::setlocale(LC_ALL, "");
    Options options;
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        Usage();
        return 0;
    }
    if (!ParseOptions(argc, argv, options)) {
        Usage();
        return 2;
    }
    return Simulator(std::move(options)).Run();
}

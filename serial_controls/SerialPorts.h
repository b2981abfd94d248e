#pragma once
// The serial ports present on this machine, as names a port object accepts.

#include <string>
#include <vector>

#include "Strings.h"

// Replaces the contents of `list` with the serial ports present, sorted by case-insensitive
// comparison (so ttyUSB10 comes before ttyUSB2). The ports are the entries of the kernel's tty
// class that have a device behind them, less the unused 8250 slots (type 0); nothing is
// opened to find them. Each is named as the port accepts it: "ttyUSB0" for /dev/ttyUSB0, and
// a device in a subdirectory of /dev (sysfs spells "a!b") as "a/b". Never fails: when the
// class directory cannot be read the list ends up empty.
// The one-argument form adds the running controller simulators (below) by the absolute path
// of their announcement, which the port opens as it is.
void ListSerialPorts(TStrings& list);
void ListSerialPorts(TStrings& list, const std::string& ttyClassDir);

// Controller simulators announce themselves the way virtual-port drivers register with the
// system: each running one keeps a symbolic link named "<name>-<pid>" to its terminal in a
// per-user runtime directory, $XDG_RUNTIME_DIR/tarnwick (or /tmp/tarnwick-<uid> without that
// variable). The directory must be a real directory of the user with no access for others;
// anything else is neither written nor read.
std::string DefaultSimulatorPortDir();
// The directory the one-argument ListSerialPorts reads; a test may point it elsewhere. An
// empty text restores the default.
void SetSimulatorPortDir(const std::string& dir);
std::string SimulatorPortDir();

// Creates `dir` with mode 0700 when it is missing and checks that it is private to the user.
// On refusal `why` says what is wrong.
bool PrepareSimulatorPortDir(const std::string& dir, std::string& why);

// The absolute paths of the announcements in `dir` that are live: the link leads to a
// terminal device and the process named in it runs. Stale ones are skipped, never removed
// (they may belong to a simulator that is just starting or ending). Nothing is opened.
std::vector<std::string> ListSimulatorPorts(const std::string& dir,
                                            const std::string& ttyClassDir);

// The tty class directory ListSerialPorts(list) reads; "/sys/class/tty" unless a test points
// it at a tree of its own. An empty text restores the default.
void SetTtyClassDir(const std::string& dir);
std::string TtyClassDir();

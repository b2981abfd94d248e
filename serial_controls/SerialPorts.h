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
// The one-argument form adds the announced ports (below) by the absolute path of their
// announcement, and the operator's extra ports that are present, by the names given; the
// port opens each as it is.
void ListSerialPorts(TStrings& list);
void ListSerialPorts(TStrings& list, const std::string& ttyClassDir);

// Ports are announced the way virtual-port drivers register with the system: a program that
// makes a port (the controller simulator, a serial bridge, the operator by hand) keeps a
// symbolic link to its terminal in a per-user runtime directory, $XDG_RUNTIME_DIR/tarnwick
// (or /tmp/tarnwick-<uid> without that variable). The directory must be a real directory of
// the user with no access for others; anything else is neither written nor read. The
// simulator names its link "grblsim-<pid>".
std::string DefaultSimulatorPortDir();
// The directory the one-argument ListSerialPorts reads; a test may point it elsewhere. An
// empty text restores the default.
void SetSimulatorPortDir(const std::string& dir);
std::string SimulatorPortDir();

// Creates `dir` with mode 0700 when it is missing and checks that it is private to the user.
// On refusal `why` says what is wrong.
bool PrepareSimulatorPortDir(const std::string& dir, std::string& why);

// The absolute paths of the announcements in `dir` that are live:
//  - the link leads to a terminal device;
//  - the link is not older than that device's node, so it was made for this very device: a
//    pseudo-terminal's node goes when the program holding its other side ends, and its number
//    (like a USB adapter's name) is given out again later, to someone else's terminal;
//  - a name ending in "-<digits>" names the process that owns the link, which must run.
// Stale ones are skipped, never removed (they may belong to a program that is just starting
// or ending). Nothing is opened.
std::vector<std::string> ListSimulatorPorts(const std::string& dir,
                                            const std::string& ttyClassDir);

// Ports the operator names for devices that neither sysfs nor the runtime directory lists
// (the console's --port option): a bridge's pseudo-terminal, a node of a driver outside the
// tty class. Each is a port name as the port takes it (an absolute path, or a name under
// /dev). The one-argument ListSerialPorts adds those whose device is a character device at
// the moment (nothing is opened), so a bridge started later appears when the list drops down.
void SetExtraPorts(std::vector<std::string> names);
std::vector<std::string> ExtraPorts();
// Those of `names` whose device is a character device now.
std::vector<std::string> PresentPorts(const std::vector<std::string>& names);

// A short form of a port name for a narrow box: the file name of a path ("grblsim-4242" for
// /run/user/1000/tarnwick/grblsim-4242), the name under /dev for a device one level down
// ("pts/7"); a name that is no path stays as it is.
std::string ShortPortName(const std::string& name);

// The tty class directory ListSerialPorts(list) reads; "/sys/class/tty" unless a test points
// it at a tree of its own. An empty text restores the default.
void SetTtyClassDir(const std::string& dir);
std::string TtyClassDir();

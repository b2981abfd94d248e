#pragma once
// The serial ports present on this machine, as names a port object accepts.

#include <string>

#include "Strings.h"

// Replaces the contents of `list` with the serial ports present, sorted by case-insensitive
// comparison (so ttyUSB10 comes before ttyUSB2). The ports are the entries of the kernel's tty
// class that have a device behind them, less the unused 8250 slots (type 0); nothing is
// opened to find them. Each is named as the port accepts it: "ttyUSB0" for /dev/ttyUSB0, and
// a device in a subdirectory of /dev (sysfs spells "a!b") as "a/b". Never fails: when the
// class directory cannot be read the list ends up empty.
void ListSerialPorts(TStrings& list);
void ListSerialPorts(TStrings& list, const std::string& ttyClassDir);

// The tty class directory ListSerialPorts(list) reads; "/sys/class/tty" unless a test points
// it at a tree of its own. An empty text restores the default.
void SetTtyClassDir(const std::string& dir);
std::string TtyClassDir();

#pragma once
// The line-settings half of the tty implementation. Its .cpp is the one file that includes
// <asm/termbits.h> (for struct termios2, TCGETS2/TCSETS2 and BOTHER), which cannot share a
// translation unit with <termios.h>; this header includes neither.

#include <cstdint>

#include "Device.h"

namespace device::tty {

// The kernel's struct termios2, field for field, without its header.
struct Termios2 {
    std::uint32_t iflag = 0;
    std::uint32_t oflag = 0;
    std::uint32_t cflag = 0;
    std::uint32_t lflag = 0;
    std::uint8_t line = 0;
    std::uint8_t cc[19] = {};
    std::uint32_t ispeed = 0;
    std::uint32_t ospeed = 0;
};

// The kernel's values of the bits that <termios.h> does not define (for tests reading back).
extern const std::uint32_t kBOTHER;  // c_cflag rate field: "the rate is in c_ospeed"
extern const std::uint32_t kCBAUD;   // c_cflag output rate field mask

SysError GetTermios2(int fd, Termios2& t);
SysError SetTermios2(int fd, const Termios2& t);

// Raw mode, as set on open: no input or output processing, no echo, no signals, VMIN 1 and
// VTIME 0 (so an empty non-blocking read is EAGAIN and a 0-byte read can only mean hang-up),
// CREAD|CLOCAL, HUPCL cleared (a close does not pulse DTR), no flow control, PARMRK on (so a
// break is told apart from a received NUL). Rate and character format stay as they are.
SysError MakeRaw(int fd);

// Rate (always BOTHER, so any rate is exact), data bits, parity (CMSPAR for mark/space),
// stop bits (1.5 is CSTOPB), CRTSCTS, IXON/IXOFF with VSTART/VSTOP (never IXANY), INPCK on
// parity check, on top of the raw mode above. Values out of range give EINVAL before any
// call. DTR and RTS levels are not set here (TtyDevice does that with TIOCMBIS/TIOCMBIC).
SysError ApplyLine(int fd, const DeviceControlBlock& dcb);

}  // namespace device::tty

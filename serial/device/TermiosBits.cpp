// The only file that includes <asm/termbits.h>; it must not include <termios.h>.
#include "TermiosBits.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>

namespace device::tty {

static_assert(sizeof(Termios2{}.cc) == sizeof(termios2{}.c_cc));

const std::uint32_t kBOTHER = BOTHER;
const std::uint32_t kCBAUD = CBAUD;

namespace {

SysError Ioctl(int fd, unsigned long request, void* arg) {
    int r;
    do {
        r = ::ioctl(fd, request, arg);
    } while (r < 0 && errno == EINTR);
    return r < 0 ? errno : 0;
}

SysError Get(int fd, termios2& t) { return Ioctl(fd, TCGETS2, &t); }
SysError Set(int fd, termios2& t) { return Ioctl(fd, TCSETS2, &t); }

void Raw(termios2& t) {
    t.c_iflag &= ~tcflag_t(IGNBRK | BRKINT | IGNPAR | INPCK | ISTRIP | INLCR | IGNCR | ICRNL |
                           IUCLC | IXON | IXANY | IXOFF | IMAXBEL | IUTF8);
    t.c_iflag |= PARMRK;
    t.c_oflag = 0;
    t.c_lflag &= ~tcflag_t(ISIG | ICANON | XCASE | ECHO | ECHOE | ECHOK | ECHONL | ECHOCTL |
                           ECHOPRT | ECHOKE | FLUSHO | NOFLSH | TOSTOP | PENDIN | IEXTEN |
                           EXTPROC);
    t.c_cflag &= ~tcflag_t(HUPCL | CRTSCTS);
    t.c_cflag |= CREAD | CLOCAL;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
}

}  // namespace

SysError GetTermios2(int fd, Termios2& out) {
    termios2 t{};
    if (const SysError e = Get(fd, t)) return e;
    out.iflag = t.c_iflag;
    out.oflag = t.c_oflag;
    out.cflag = t.c_cflag;
    out.lflag = t.c_lflag;
    out.line = t.c_line;
    std::memcpy(out.cc, t.c_cc, sizeof out.cc);
    out.ispeed = t.c_ispeed;
    out.ospeed = t.c_ospeed;
    return 0;
}

SysError SetTermios2(int fd, const Termios2& in) {
    termios2 t{};
    t.c_iflag = in.iflag;
    t.c_oflag = in.oflag;
    t.c_cflag = in.cflag;
    t.c_lflag = in.lflag;
    t.c_line = in.line;
    std::memcpy(t.c_cc, in.cc, sizeof t.c_cc);
    t.c_ispeed = in.ispeed;
    t.c_ospeed = in.ospeed;
    return Set(fd, t);
}

SysError MakeRaw(int fd) {
    termios2 t{};
    if (const SysError e = Get(fd, t)) return e;
    Raw(t);
    return Set(fd, t);
}

SysError ApplyLine(int fd, const DeviceControlBlock& dcb) {
    if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > 4 ||
        dcb.StopBits > 2 || dcb.fDtrControl > DTR_CONTROL_HANDSHAKE ||
        dcb.fRtsControl > RTS_CONTROL_TOGGLE)
        return EINVAL;
    if ((dcb.fOutX || dcb.fInX) && dcb.XonChar == dcb.XoffChar) return EINVAL;

    termios2 t{};
    if (const SysError e = Get(fd, t)) return e;
    Raw(t);

    static constexpr tcflag_t kSize[] = {CS5, CS6, CS7, CS8};
    t.c_cflag &= ~tcflag_t(CBAUD | CIBAUD | CSIZE | CSTOPB | PARENB | PARODD | CMSPAR);
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT) | kSize[dcb.ByteSize - 5];
    t.c_ispeed = t.c_ospeed = dcb.BaudRate;
    switch (dcb.Parity) {
        case 1: t.c_cflag |= PARENB | PARODD; break;
        case 2: t.c_cflag |= PARENB; break;
        case 3: t.c_cflag |= PARENB | CMSPAR | PARODD; break;  // mark
        case 4: t.c_cflag |= PARENB | CMSPAR; break;           // space
        default: break;
    }
    // 1.5 stop bits exist only with 5 data bits on a UART; CSTOPB gives exactly that there.
    if (dcb.StopBits != 0) t.c_cflag |= CSTOPB;
    // CRTSCTS is both directions at once: RTS input handshake and CTS output flow. Either
    // request turns it on (the kernel cannot have one without the other).
    if (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) t.c_cflag |= CRTSCTS;

    if (dcb.fParity) t.c_iflag |= INPCK;
    if (dcb.fOutX) t.c_iflag |= IXON;
    if (dcb.fInX) t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = cc_t(dcb.XonChar);
    t.c_cc[VSTOP] = cc_t(dcb.XoffChar);
    return Set(fd, t);
}

}  // namespace device::tty

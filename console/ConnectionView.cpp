#include "ConnectionView.h"

#include <cerrno>
#include <cstring>

TConnectionView ConnectionViewFor(TLinkPhase phase) {
    switch (phase) {
    case TLinkPhase::Ready: return {"Disconnect", true, true, true, true, true};
    // The port is open and can be closed again, and the greeting is logged; nothing is sent
    // before the controller can hear it.
    case TLinkPhase::Greeting: return {"Disconnect", true, false, false, false, false};
    case TLinkPhase::Closed: break;
    }
    return {"Connect", false, false, false, false, false};
}

bool IsGreeting(std::string_view line) {
    std::size_t start = 0;
    while (start < line.size()) {
        const auto c = static_cast<unsigned char>(line[start]);
        if (c >= 0x20 && c <= 0x7E) break;
        ++start;
    }
    return line.substr(start).starts_with("Grbl ");
}

bool IsDeviceGone(int systemError) {
    return systemError == EIO || systemError == ENXIO || systemError == ENODEV;
}

std::string LinkLostMessage(std::string_view port, int systemError) {
    return "The connection to " + std::string(port) + " was lost: " +
           std::strerror(systemError) +
           ". Check the cable and the controller, then connect again.";
}

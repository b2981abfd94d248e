#include "ConnectionView.h"

TConnectionView ConnectionViewFor(bool connected) {
    if (connected) return {"Disconnect", true, true, true, true, true};
    return {"Connect", false, false, false, false, false};
}

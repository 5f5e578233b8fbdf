// Tells the service manager how a service stands (READY=1 once it is up,
// STOPPING=1 when it leaves), over the datagram socket that NOTIFY_SOCKET names.
// Outside a service (no NOTIFY_SOCKET) it does nothing.
#pragma once

#include <string_view>

namespace tavrin {

// False when NOTIFY_SOCKET is not set, names no usable socket, or the send failed.
bool notifyServiceManager(std::string_view state);
// The same with the socket given: a path, or "@name" for the abstract namespace.
bool notifyServiceManager(std::string_view state, const char* socketName);

} // namespace tavrin

#include "TcpTableSource.h"

#include <array>

namespace tavrin {

uint32_t translateKernelTcpState(unsigned kernelState) {
    // Indexed by the kernel's numbers: ESTABLISHED 1, SYN_SENT 2, SYN_RECV 3,
    // FIN_WAIT1 4, FIN_WAIT2 5, TIME_WAIT 6, CLOSE 7, CLOSE_WAIT 8, LAST_ACK 9,
    // LISTEN 10, CLOSING 11, NEW_SYN_RECV 12 (a connection request not yet accepted).
    static constexpr std::array<uint32_t, 13> kStates = {
        0,
        kTcpEstablished,
        kTcpSynSent,
        kTcpSynReceived,
        kTcpFinWait1,
        kTcpFinWait2,
        kTcpTimeWait,
        kTcpClosed,
        kTcpCloseWait,
        kTcpLastAck,
        kTcpListening,
        kTcpClosing,
        kTcpSynReceived,
    };
    return kernelState < kStates.size() ? kStates[kernelState] : 0;
}

} // namespace tavrin

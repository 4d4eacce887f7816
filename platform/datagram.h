#pragma once
// One datagram read with the ancillary data the kernel can attach: the
// local address and interface it arrived on (IP_PKTINFO, when the socket
// asked for it) and its arrival time (SO_TIMESTAMP, likewise).

#include <netinet/in.h>
#include <sys/time.h>

#include <cstddef>
#include <sys/types.h>

namespace platform {

struct DatagramInfo {
    sockaddr_in from{};
    bool truncated = false;     // longer than the buffer; the rest is lost
    bool hasPacketInfo = false;
    in_pktinfo packetInfo{};    // ipi_addr: the header's destination; ipi_spec_dst: our local address
    bool hasTimestamp = false;
    timeval timestamp{};
};

// recvmsg without blocking. Returns the byte count, or -1 with errno set.
ssize_t receiveDatagram(int fd, void* buffer, std::size_t size, DatagramInfo& info);

}  // namespace platform

#include "platform/datagram.h"

#include <sys/socket.h>

#include <cstring>

namespace platform {

ssize_t receiveDatagram(int fd, void* buffer, std::size_t size, DatagramInfo& info)
{
    info = DatagramInfo{};
    iovec iov{buffer, size};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo)) + CMSG_SPACE(sizeof(timeval))];
    msghdr msg{};
    msg.msg_name = &info.from;
    msg.msg_namelen = sizeof info.from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(fd, &msg, MSG_DONTWAIT);
    if (n < 0)
        return n;
    info.truncated = (msg.msg_flags & MSG_TRUNC) != 0;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            std::memcpy(&info.packetInfo, CMSG_DATA(c), sizeof info.packetInfo);
            info.hasPacketInfo = true;
        } else if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMP) {
            std::memcpy(&info.timestamp, CMSG_DATA(c), sizeof info.timestamp);
            info.hasTimestamp = true;
        }
    }
    return n;
}

}  // namespace platform

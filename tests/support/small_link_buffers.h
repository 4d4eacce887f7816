#pragma once
// Small socket buffers on every link a test opens while the object lives.
// With a simulated player whose receive buffer is as small and whose reader
// pauses, a file chunk is still being written when the test acts on it,
// whatever buffers the machine would otherwise give (a whole 8 MB chunk can
// rest in them at once).

#include "transport/tcp_client.h"

namespace testsupport {

inline constexpr int kSmallSocketBuffer = 65536;

class SmallLinkBuffers {
public:
    SmallLinkBuffers() { CTCPClient::SetSocketBufferBytes(kSmallSocketBuffer); }
    ~SmallLinkBuffers() { CTCPClient::SetSocketBufferBytes(0); }
    SmallLinkBuffers(const SmallLinkBuffers&) = delete;
    SmallLinkBuffers& operator=(const SmallLinkBuffers&) = delete;
};

}  // namespace testsupport

// The remote-control reply and the packet header of every reply.
#include "fuzz_bytes.h"

#include "transport/protocol.h"
#include "transport/remote_control.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    (void)remote::ReadControlReply(fuzzbytes::bytes(data, size));
    proto::PlayerPacketHeader header;
    (void)header.unpack(data, size);
    return 0;
}

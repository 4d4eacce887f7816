// The reply framing of a link and what follows it: the input is the byte
// stream of one player, cut into chunks whose sizes come from its first
// byte; every reply rebuilt from it goes to the remote-control reader, as
// does the whole input on its own.
#include "fuzz_bytes.h"

#include "transport/protocol.h"
#include "transport/records.h"
#include "transport/remote_control.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    (void)remote::ReadControlReply(fuzzbytes::bytes(data, size));
    proto::PlayerPacketHeader header;
    (void)header.unpack(data, size);

    static ReplyAssembler assembler;  // its 10 MB buffer once
    assembler.reset();
    if (size == 0)
        return 0;
    const std::size_t cut = std::size_t(data[0] % 32) + 1;
    const auto done = [](const ReplyAssembler& reply) {
        (void)remote::ReadControlReply(reply.payloadBytes());
    };
    for (std::size_t at = 1; at < size; at += cut)
        assembler.feed(QStringLiteral("127.0.0.3"), 5005, 0, data + at, std::min(cut, size - at), done);
    return 0;
}

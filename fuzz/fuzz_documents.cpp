// What every document and name from a player goes through: the player's
// JSON reader, the text decoder (UTF-8 or code page 936) and the discovery
// datagrams.
#include "fuzz_bytes.h"

#include "common/json_coding.h"
#include "common/text_coding.h"
#include "transport/announcement.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const QByteArray in = fuzzbytes::bytes(data, size);
    Json::Value doc;
    QString error;
    (void)jsonio::parsePlayerDocument(in, doc, &error);
    (void)text::DecodeUtf8OrCodePage(in);
    (void)text::DoubleByteTextToCString(in);
    (void)PlayerAnnouncement::parse(data, size);
    (void)DiscoveryRequest::parse(data, size);
    return 0;
}

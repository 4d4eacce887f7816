// The picture gallery's /image/names answer and Qrcode.Json.
#include "fuzz_bytes.h"

#include "content/gallery_model.h"
#include "content/qr_model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const QByteArray in = fuzzbytes::bytes(data, size);
    (void)gallery::ParseList(in, QStringLiteral("127.0.0.3"));
    qr::QrSettings qr;
    (void)qr::ReadDocument(in, qr);
    return 0;
}

// Batch and video store replies: the catalogue of a player (a fixed-size
// record edited by the input), the batch status, the backup size and the
// play progress.
#include "fuzz_bytes.h"
#include "fuzz_support.h"

#include "content/batch_model.h"
#include "content/video_store_model.h"
#include "transport/records.h"
#include "transport/remote_control.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    static const QByteArray sound = PlayerCatalog().pack();
    const QByteArray in = fuzzbytes::bytes(data, size);
    PlayerCatalog catalog;
    const QByteArray file = fuzzsupport::patched(sound, data, size);
    if (catalog.unpack(fuzzbytes::raw(file), std::size_t(file.size())))
        (void)remote::TypesFromCatalog(catalog);
    (void)batch::HasSecondAct(fuzzbytes::record(data, size, 108));
    (void)store::BackupTotalBytes(in);
    (void)remote::ReadProgressReply(in);
    return 0;
}

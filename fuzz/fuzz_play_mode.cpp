// Play-mode and mobile documents: the effect lists, the picture types, the
// mobile settings and a phrase file.
#include "fuzz_bytes.h"

#include "content/play_mode_model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const QByteArray in = fuzzbytes::bytes(data, size);
    std::vector<playmode::PlayMode> modes;
    (void)playmode::ReadEffectLists(in, modes);
    QStringList types;
    (void)playmode::ReadImageTypes(in, types);
    playmode::MobileSettings mobile;
    (void)playmode::ParseMobileJson(in, mobile);
    (void)playmode::ReadPhraseFile(in);
    return 0;
}

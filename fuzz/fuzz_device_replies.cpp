// The small device replies: temperature samples, version.json of the
// update server, Templates/Co.txt, the stored video and picture window
// block, power timers, network settings and the output configuration.
#include "fuzz_bytes.h"

#include "common/app_title.h"
#include "core/devices/power.h"
#include "core/devices/query_temperature.h"
#include "core/devices/set_ip_conf.h"
#include "core/devices/update_check.h"
#include "core/devices/video_pic_window.h"
#include "core/output_config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const QByteArray in = fuzzbytes::bytes(data, size);
    for (std::size_t at = 0; at < size; at += temperature::TemperatureSample::kSize)
        (void)temperature::TemperatureSample::unpack(data + at, std::min<std::size_t>(size - at, temperature::TemperatureSample::kSize));
    update::VersionInfo version;
    (void)update::ParseVersionJson(in, version);
    (void)DecodeTitlePrefix(in);
    (void)ApplyTitlePrefix(QStringLiteral("veluna V9.1.5"), in);
    (void)vpw::VideoPicWindowBlock::unpack(fuzzbytes::raw(fuzzbytes::record(data, size, vpw::VideoPicWindowBlock::kSize)));
    (void)power::PowerTimer::unpack(fuzzbytes::raw(fuzzbytes::record(data, size, power::PowerTimer::kSize)));
    (void)netparam::NetworkSettings::unpack(in);
    grid::OutputConfig config;
    (void)config.unpack(data, size);
    return 0;
}

// Lidar.Json and the lidar models, the points datagram, the game list and
// the output block of the game status.
#include "fuzz_bytes.h"

#include "interactive/game_model.h"
#include "interactive/lidar_model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const QByteArray in = fuzzbytes::bytes(data, size);
    std::vector<lidar::LidarSettings> lidars;
    (void)lidar::ParseLidarConfig(in, lidars);
    std::vector<lidar::LidarModelInfo> models;
    (void)lidar::ParseSupportedModels(in, models);
    const QString player = QStringLiteral("127.0.0.3");
    (void)lidar::ParseLidarDatagram(player, player, data, size);
    game::GameList games;
    (void)game::ParseGameList(in, games);
    (void)game::OutputLayout::FromStatusBlock(data, size);
    return 0;
}

#pragma once
// The simulated player's configuration files: one stored file per file
// number (the sub-code of CMD_CONFIG_FILE). A fetch (arg 0) is answered with
// the file and its CRC-16/MODBUS trailer (an empty payload when the player
// has no such file); an upload (arg 1 or 2) is stored when its trailer is
// right and acknowledged either way.

#include "player/player_sim.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace sim {

class ConfigStore {
public:
    // param of an upload acknowledgement.
    static constexpr uint16_t kStored = 0;
    static constexpr uint16_t kRejected = 1;  // wrong or missing trailer

    // Loads every known file name found in `folder` (or in its `config`
    // subfolder, as the tool lays it out). Returns how many were loaded.
    int seedFromFolder(const QString& folder);

    // Answers one CMD_CONFIG_FILE request.
    std::vector<Reply> handle(const Request& request);

    // Test access. Thread-safe.
    void setFile(uint8_t file, const QByteArray& bytes);
    void removeFile(uint8_t file);
    std::optional<QByteArray> file(uint8_t file) const;
    // Makes fetches of `file` answer with a wrong trailer (damaged data).
    void setCorruptTrailer(uint8_t file, bool corrupt);
    // Makes fetches of `file` go unanswered for the next `count` requests.
    void setSilentFetches(uint8_t file, int count);
    int uploadsStored() const;
    int uploadsRejected() const;
    // arg of the last upload of `file` (0 when none came).
    uint16_t lastUploadArg(uint8_t file) const;

private:
    mutable std::mutex mutex_;
    std::map<uint8_t, QByteArray> files_;
    std::map<uint8_t, bool> corrupt_;
    std::map<uint8_t, int> silent_;
    std::map<uint8_t, uint16_t> lastArg_;
    int stored_ = 0;
    int rejected_ = 0;
};

// Installs the store as the handler of CMD_CONFIG_FILE, seeded from
// options().configSeedFolder when that is set.
void installConfigStore(PlayerSim& sim);
// The store installed on `sim`, or null.
std::shared_ptr<ConfigStore> configStoreOf(const PlayerSim& sim);

}  // namespace sim

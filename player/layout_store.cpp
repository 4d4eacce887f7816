// The simulated player's material store (see layout_store.h).
#include "player/layout_store.h"

#include "player/player_sim.h"

#include <mutex>

namespace sim {

namespace {

constexpr qsizetype kNameField = qsizetype(proto::kNameFieldSize);
constexpr qsizetype kMd5Text = 32;

QByteArray fieldName(const QByteArray& payload)
{
    const QByteArray field = payload.left(kNameField);
    const qsizetype zero = field.indexOf('\0');
    return zero >= 0 ? field.left(zero) : field;
}

Reply answer(const Request& req, uint16_t arg)
{
    Reply r;
    r.header.command = req.header.command;
    r.header.subCode = req.header.subCode;
    r.header.param = req.header.param;
    r.header.arg = arg;
    return r;
}

// One announce or chunk for `file`; returns the reply's arg.
uint16_t take(StoredMaterial& file, const Request& req, bool keepData, bool hashData)
{
    if (req.header.subCode == 0) {
        file = StoredMaterial();
        file.kind = req.header.param;
        file.name = ownBytes(fieldName(req.payload));
        file.announcedMd5 = ownBytes(req.payload.mid(kNameField, kMd5Text));
        file.hash = std::make_shared<QCryptographicHash>(QCryptographicHash::Md5);
        return 0;
    }
    if (!file.hash || file.complete)
        return 1;
    if (hashData)
        file.hash->addData(req.payload);
    file.size += uint64_t(req.payload.size());
    if (keepData)
        appendOwn(file.data, req.payload);
    file.chunkSizes.push_back(uint32_t(req.payload.size()));
    file.chunkSubCodes.push_back(req.header.subCode);
    if (req.header.subCode == 2) {
        file.complete = true;
        file.md5Matches = hashData && file.hash->result().toHex() == file.announcedMd5;
        file.hash.reset();
        return file.md5Matches || !hashData ? 0 : 1;
    }
    return 0;
}

std::vector<Reply> material(PlayerSim& sim, const Request& req)
{
    std::lock_guard<std::mutex> lk(sim.stateMutex());
    LayoutStoreState& st = layoutStore(sim);
    if (req.header.subCode == 0) {
        if (req.payload.size() != kNameField + kMd5Text) {
            Reply refused = answer(req, 0);
            refused.header.command = uint8_t(req.header.command | proto::kNotSupportedBit);
            return {refused};
        }
        const QByteArray name = fieldName(req.payload);
        const QByteArray md5 = req.payload.mid(kNameField, kMd5Text);
        for (const StoredMaterial& m : st.materials) {
            if (m.complete && m.md5Matches && m.name == name && m.announcedMd5 == md5) {
                st.skipped.push_back(ownBytes(name));
                return {answer(req, 1)};
            }
        }
        st.materials.emplace_back();
    }
    if (st.materials.empty())
        return {answer(req, 1)};
    return {answer(req, take(st.materials.back(), req, st.keepData, st.hashData))};
}

}  // namespace

LayoutStoreState& layoutStore(PlayerSim& sim)
{
    auto& slot = sim.state().layoutStore;
    if (!slot)
        slot = std::make_shared<LayoutStoreState>();
    return *slot;
}

std::vector<Reply> watermarkFile(PlayerSim& sim, const Request& req)
{
    std::lock_guard<std::mutex> lk(sim.stateMutex());
    LayoutStoreState& st = layoutStore(sim);
    uint16_t arg = take(st.watermark, req, st.keepData, st.hashData);
    if (req.header.subCode == 2 && st.watermarkFails)
        arg = 1;
    return {answer(req, arg)};
}

void holdMaterial(LayoutStoreState& store, const QByteArray& name, const QByteArray& md5Text)
{
    StoredMaterial held;
    held.name = name;
    held.announcedMd5 = md5Text;
    held.complete = true;
    held.md5Matches = true;
    store.materials.push_back(std::move(held));
}

void installLayoutStore(PlayerSim& sim)
{
    {
        std::lock_guard<std::mutex> lk(sim.stateMutex());
        sim.state().layoutStore = std::make_shared<LayoutStoreState>();
    }
    sim.registerCommand(proto::CMD_MATERIAL, material);
}

}  // namespace sim

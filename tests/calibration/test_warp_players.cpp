// Single-channel mode against three simulated players on 127.0.0.2, .3 and
// .4: each channel's grid, map and ramps reach only that channel's own
// player, a channel without a player sends nothing, and leaving step 2 asks
// each player once to leave its adjustment mode (one upload follows).

#include "calibration/blanding.h"
#include "calibration/calibration_feature.h"
#include "calibration/warp_main.h"
#include "core/config_exchange.h"
#include "core/document.h"
#include "platform/app_identity.h"
#include "player/calibration_commands.h"
#include "player/config_store.h"
#include "player/player_sim.h"
#include "tests/support/frame_harness.h"
#include "tests/support/test_support.h"
#include "warp_session.h"
#include "transport/protocol.h"

#include <QCheckBox>
#include <QComboBox>

#include <gtest/gtest.h>

#include <memory>

using namespace calib;
using testsupport::waitUntil;
using warptest::kTitle;

namespace {

using Codes = std::vector<std::pair<int, int>>;

Codes codesOf(const sim::PlayerSim& p, uint8_t command = 0)
{
    Codes out;
    for (const auto& r : sim::calibrationPlayerOf(p)->requests())
        if (command == 0 || r.command == command)
            out.emplace_back(r.command, r.subCode);
    return out;
}

int count(const Codes& codes, std::pair<int, int> code) { return int(std::count(codes.begin(), codes.end(), code)); }

}  // namespace

TEST(WarpPlayersEndToEnd, EachChannelReachesOnlyItsOwnPlayerAndBackAsksEachPlayerOnce)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "shows the wizard, whose painting the thread checker cannot follow";
    const struct Case {
        const char* name;
        std::array<bool, 3> checked;  // Channel1..3
    } cases[] = {{"Channel2 left out: it has no player", {true, false, true}},
                 {"every channel with its player", {true, true, true}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        warptest::Session session;

        std::vector<std::unique_ptr<sim::PlayerSim>> players;
        std::vector<DeviceRecord> devices;
        for (const char* ip : {"127.0.0.2", "127.0.0.3", "127.0.0.4"}) {
            const sim::SimOptions o = warptest::WarpPlayer(QString::fromLatin1(ip), 11);  // one channel each
            players.push_back(testsupport::StartPlayerWithConfigStore(o));
            ASSERT_TRUE(players.back());
            DeviceRecord d;
            d.ip = o.address;
            d.port = players.back()->tcpPort();
            d.channelCode = 11;
            devices.push_back(d);
        }
        testsupport::LinkedDocument link(kTitle, *players[0]);
        auto& doc = link.doc;
        ASSERT_TRUE(waitUntil([&] { return doc->IsConnected(); }));

        CWarpMain::Inputs in;
        in.prefix = doc->titlePrefix();
        in.devices = devices;
        in.current = doc->target();
        in.playerFolder = doc->playerFolder();
        in.channelCount = 3;
        in.version = 0x2600;
        auto wizard = std::make_unique<CWarpMain>(in);
        wizard->show();
        wizard->findChild<QComboBox*>("3103")->setCurrentIndex(2);  // 1 x 3
        wizard->findChild<QCheckBox*>("3158")->setChecked(true);
        for (int k = 0; k < 3; ++k) {
            wizard->findChild<QCheckBox*>(QString::number(3140 + k))->setChecked(c.checked[std::size_t(k)]);
            wizard->findChild<QComboBox*>(QString::number(3149 + k))->setCurrentIndex(k);
        }
        wizard->OnNext();
        auto& page = wizard->geometricPage();
        ASSERT_EQ(wizard->step(), 2) << session.boxes.texts().join('|').toStdString();
        ASSERT_TRUE(waitUntil([&] { return !page.busy() && codesOf(*players[0]).size() >= 5; }));

        // Channel 1's map to its player, then channel 3 current; Previous
        // from channel 3 sends channel 3's map to channel 3's player.
        const int lastChannel = 2;
        page.OnNextChannel();
        ASSERT_TRUE(waitUntil([&] { return !page.busy(); }));
        if (!c.checked[1]) {
            EXPECT_EQ(page.model().currentOutput, lastChannel);
        } else {
            page.OnNextChannel();
            ASSERT_TRUE(waitUntil([&] { return !page.busy(); }));
        }
        ASSERT_EQ(page.model().currentOutput, lastChannel);
        page.OnPreviousChannel();
        ASSERT_TRUE(waitUntil([&] { return !page.busy(); }));

        // Each channel's map was sent once, on leaving it, to its own player.
        for (int k = 0; k < 3; ++k) {
            SCOPED_TRACE(k);
            if (!c.checked[std::size_t(k)]) {
                EXPECT_TRUE(codesOf(*players[std::size_t(k)]).empty()) << "a player no channel chose hears nothing";
                continue;
            }
            EXPECT_EQ(codesOf(*players[std::size_t(k)], proto::CMD_CHANNEL_MAP_DATA), (Codes{{2, 64}}));
        }

        // Back: blend on, then one leave each, then step 1.
        auto store = sim::configStoreOf(*players[0]);
        const auto uploadsBefore = testsupport::RequestsOf(*players[0], proto::CMD_CONFIG_FILE).size();
        wizard->OnBack();
        ASSERT_TRUE(waitUntil([&] { return wizard->step() == 1; }));
        for (int k = 0; k < 3; ++k) {
            if (!c.checked[std::size_t(k)])
                continue;
            SCOPED_TRACE(k);
            const Codes codes = codesOf(*players[std::size_t(k)]);
            EXPECT_EQ(count(codes, {12, 1}), 1) << "one leave request each";
            EXPECT_EQ(count(codes, {13, 1}), 1);
        }
        // One upload chain from the current player: Warp.QVE once.
        ASSERT_TRUE(waitUntil([&] { return store->file(cfgx::kWarpFile).has_value(); }));
        ASSERT_TRUE(waitUntil([&] { return doc->configExchange().mode() != cfgx::ConfigExchange::Upload; }));
        int warpUploads = 0;
        const auto configRequests = testsupport::RequestsOf(*players[0], proto::CMD_CONFIG_FILE);
        for (std::size_t i = uploadsBefore; i < configRequests.size(); ++i)
            warpUploads += configRequests[i].header.subCode == cfgx::kWarpFile;
        EXPECT_EQ(warpUploads, 1);

        wizard.reset();
        doc.reset();
        link.frame.reset();
        for (auto& p : players)
            p->stop();
    }
}

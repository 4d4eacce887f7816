// "Set Param" against three simulated players (one answering "not
// supported", a master and a slave) through Tollivar's link hub: cascade
// roles, the master's catalogue and document, serial learning, folder edits
// filling the type slots, Next with its checks, and the timers stopping.
#include "common/controls/property_grid.h"
#include "companion/control_protocol_record.h"
#include "companion/link_hub.h"
#include "companion/set_param.h"
#include "player/companion_commands.h"
#include "player/device_commands.h"
#include "player/player_sim.h"
#include "platform/app_identity.h"
#include "tests/companion/hub_players.h"
#include "tests/support/send_behind.h"
#include "tests/support/test_support.h"
#include "transport/protocol.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <utility>

namespace {

using namespace Qt::StringLiterals;
using testsupport::waitUntil;

void makeFile(const QString& path)
{
    QDir().mkpath(QFileInfo(path).path());
    ASSERT_TRUE(testsupport::writeFile(path, "video"));
}

// Player 2 answers the cascade query "not supported", 3 is the master
// (holding a document with one type), 4 a slave.
struct SetParamFixture : comptest::HubWithPlayers {
    std::unique_ptr<CSetParam> page;

    explicit SetParamFixture(unsigned language = platform::kLanguageEnglish)
        : HubWithPlayers(language, [](sim::PlayerSim& p, int host) {
              ControlProtocolRecord onMaster;
              onMaster.videoTypes[0].name = u"Pop"_s;
              onMaster.videoTypes[0].sendCmd = u"01"_s;
              sim::CompanionState* state = sim::companionState(p);
              state->cascadeSupported = host != 2;
              state->cascadeMode = uint8_t(host - 2);  // 0 (not supported), 1 master, 2 slave
              state->protocolDocument = ControlProtocolJson(onMaster);
          })
    {
        page = std::make_unique<CSetParam>(temp.path() + u"/"_s);
        page->SetClock(20, 30);
    }
    ~SetParamFixture() { page.reset(); }
    PropertyItem* actRow(std::size_t player, int act, quintptr row) const
    {
        PropertyItem* group = page->DeviceGrid()->findByData(1000 + player);
        return group ? group->childAt(1 + act)->findByData(row) : nullptr;
    }
};

TEST(CompanionSetParam, RolesCatalogueDocumentLearningAndNext)
{
    SetParamFixture f;
    f.page->Activate(f.ticked());
    ASSERT_TRUE(waitUntil([&] { return f.page->DocumentArrived(); }));
    const auto& devices = f.page->Devices();
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[0].mode, 0);  // "not supported" counts as independent
    EXPECT_EQ(devices[1].mode, 1);
    EXPECT_EQ(devices[2].mode, 2);
    EXPECT_EQ(f.page->Record().videoTypes[0].name, u"Pop"_s);
    EXPECT_EQ(f.page->DeviceGrid()->findByData(1001)->findByData(10)->value().toString(), u"主模式"_s);
    EXPECT_TRUE(f.actRow(0, 0, 12)->isReadOnly());   // alias of the independent player
    EXPECT_FALSE(f.actRow(2, 0, 12)->isReadOnly());
    // Catalogue and document come from the master only; every player was asked its role.
    const struct { std::size_t player; bool reference; } rows[] = {{0, false}, {1, true}, {2, false}};
    for (const auto& r : rows) {
        sim::PlayerSim& p = *f.players[r.player];
        // Whatever the page sent this player before has arrived once this has
        // (the hub ignores the answer).
        ASSERT_TRUE(testsupport::SendBehind(p, proto::CMD_PLAYER_INFO, 0, true)) << r.player;
        EXPECT_GE(p.requestCount(proto::CMD_CASCADE_QUERY), 1u) << r.player;
        EXPECT_EQ(p.requestCount(proto::CMD_VIDEO_LIST) > 0, r.reference) << r.player;
        EXPECT_EQ(p.requestCount(proto::CMD_PARAM_FILE) > 0, r.reference) << r.player;
    }

    // Serial bytes go into the selected "Send Cmd" row.
    {
        std::lock_guard<std::mutex> lk(f.players[1]->stateMutex());
        sim::deviceStore(*f.players[1])->usartQueue.push_back(QByteArray("\xA5\x0b", 2));
    }
    PropertyItem* send = f.page->TypeGrid()->findByData(1)->findByData(101);
    f.page->TypeGrid()->setSelectedItem(send);
    ASSERT_TRUE(waitUntil([&] { return f.page->Record().videoTypes[1].sendCmd == u"A50B"_s; }));
    EXPECT_EQ(f.page->TypeGrid()->selectedItem(), nullptr);

    // The master's folder fills the empty type slots with its new categories.
    QTemporaryDir master, slave;
    for (const char* file : {"Pop/a.mp4", "Jazz/b.mp4"}) {
        makeFile(QDir(master.path()).filePath(QString::fromUtf8(file)));
        makeFile(QDir(slave.path()).filePath(QString::fromUtf8(file)));
    }
    ASSERT_TRUE(f.page->DeviceGrid()->applyUserValue(f.actRow(1, 0, 11), master.path()));
    EXPECT_EQ(f.page->Record().videoTypes[1].name, u"Jazz"_s);
    EXPECT_EQ(f.page->Record().videoTypes[2].name, QString());  // "Pop" was there already
    // A slave missing a file stops Next.
    ASSERT_TRUE(f.page->DeviceGrid()->applyUserValue(f.actRow(2, 0, 11), slave.path()));
    QFile::remove(QDir(slave.path()).filePath(u"Jazz/b.mp4"_s));
    EXPECT_FALSE(f.page->OnNext());
    EXPECT_EQ(f.boxes.texts(),
              QStringList{u"The comparison master and slave device types or file names do not match!"_s});
    makeFile(QDir(slave.path()).filePath(u"Jazz/b.mp4"_s));
    // Send Cmd rows are cleaned and checked.
    f.boxes.clear();
    f.page->TypeGrid()->applyUserValue(f.page->TypeGrid()->findByData(3)->findByData(102), u"a5 0x"_s);
    EXPECT_EQ(f.boxes.texts(), QStringList{u"input error!"_s});
    f.page->TypeGrid()->applyUserValue(f.page->TypeGrid()->findByData(3)->findByData(102), u" a5 0b"_s);
    EXPECT_EQ(f.page->Record().videoTypes[3].recvCmd, u"A50B"_s);

    f.boxes.clear();
    ASSERT_TRUE(f.page->OnNext());
    EXPECT_TRUE(f.boxes.texts().isEmpty());
    ControlProtocolRecord written;
    ASSERT_TRUE(ReadProtocolJson(testsupport::readFile(f.temp.filePath(u"VideoTypeProtocol.Json"_s)), written));
    EXPECT_EQ(written.videoTypes[1].name, u"Jazz"_s);
    EXPECT_EQ(written.videoTypes[1].sendCmd, u"A50B"_s);
    EXPECT_EQ(f.page->Devices()[1].acts[0].categories[1].files, QStringList{u"a.mp4"_s});
    // Polling stops with Next.
    EXPECT_FALSE(f.page->hasTimer(CSetParam::kPollTimer));
    EXPECT_FALSE(f.page->hasTimer(CSetParam::kQueryTimer));
    // A poll sent just before Next may still be on its way: counted once the
    // request behind it is in, then again after five poll periods.
    ASSERT_TRUE(testsupport::SendBehind(*f.players[1], proto::CMD_PLAYER_INFO, 0, true));
    const std::size_t polls = f.players[1]->requestCount(proto::CMD_USART_DATA);
    waitUntil([] { return false; }, 150);
    ASSERT_TRUE(testsupport::SendBehind(*f.players[1], proto::CMD_PLAYER_INFO, 0, true));
    EXPECT_EQ(f.players[1]->requestCount(proto::CMD_USART_DATA), polls);

    // Coming back keeps the acts of the players still ticked.
    auto ticked = f.ticked();
    ticked.erase(ticked.begin());
    f.page->Activate(ticked);
    ASSERT_EQ(f.page->Devices().size(), 2u);
    EXPECT_EQ(f.page->Devices()[0].acts[0].folder, master.path());
    f.page->Leave();
}

// The reference player's document never read: the master's catalogue
// trickles in too slowly (asked again on every tick and dropped each time,
// the master named once), or the first player answers nothing (its role
// never learnt, it stays the reference). Next asks before the defaults are
// written for Batch Send; No stays and writes nothing.
TEST(CompanionSetParam, WithoutTheReferenceDocumentNextAsksFirst)
{
    const struct { std::size_t player; sim::Fault fault; int code; unsigned language; } rows[] = {
        {1, sim::Fault::Trickle, proto::CMD_VIDEO_LIST, 9}, {1, sim::Fault::Trickle, proto::CMD_VIDEO_LIST, 4},
        {0, sim::Fault::Silent, -1, 9},
    };
    for (const auto& r : rows) {
        const bool slow = r.fault == sim::Fault::Trickle;
        SetParamFixture f(r.language);
        sim::PlayerSim& player = *f.players[r.player];
        const QString ip = player.options().address;
        f.dropSlowRepliesSoon();
        player.setFault(r.fault, 5000, r.code);
        f.page->Activate(f.ticked());
        bool cut = false;
        ASSERT_TRUE(waitUntil([&] {
            // After the first drop the link is cut, so that a repeat is
            // answered (and dropped) at once, not after the rest trickled.
            if (f.page->SlowReplies(ip) == 1 && !std::exchange(cut, true))
                player.dropConnections();
            return slow ? f.page->SlowReplies(ip) >= 2 : player.requestCount(proto::CMD_CASCADE_QUERY) > 0;
        }, 60000));
        EXPECT_EQ(f.boxes.texts(), slow ? QStringList{comptest::tooSlowNotice(r.language, ip)} : QStringList{});
        const QString question =
            (r.language == 4 ? u"未能读取播放器 %1 的设置。批量发送将用默认设置和此处的类别替换每台播放器的设置。是否继续？"_s
                             : u"The settings of player %1 could not be read. Batch Send would replace the settings "
                               u"of every player with the defaults and the types shown here. Continue?"_s).arg(ip);
        const QString document = f.temp.filePath(u"VideoTypeProtocol.Json"_s);
        {
            testsupport::MessageBoxRecorder no(platform::MsgResult::No);
            EXPECT_FALSE(f.page->OnNext());
            EXPECT_EQ(no.texts(), QStringList{question});
        }
        EXPECT_FALSE(QFile::exists(document));
        testsupport::MessageBoxRecorder yes(platform::MsgResult::Yes);
        EXPECT_TRUE(f.page->OnNext());
        EXPECT_EQ(yes.texts().value(0), question);
        EXPECT_EQ(testsupport::readFile(document), ControlProtocolJson(ControlProtocolRecord()));
    }
}

TEST(CompanionSetParam, ScreenshotsInBothLanguages)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "Qt paints on threads the thread checker cannot follow";
    const QString folder = testsupport::binDir() + u"/../screenshots"_s;
    QDir().mkpath(folder);
    const struct { unsigned language; const char* file; QString caption; } cases[] = {
        {platform::kLanguageEnglish, "set_param_en.png", u"Set Param"_s},
        {platform::kLanguageChinese, "set_param_zh.png", u"设置参数"_s},
    };
    for (const auto& c : cases) {
        SetParamFixture f(c.language);
        EXPECT_EQ(f.page->windowTitle(), c.caption);
        f.page->Activate(f.ticked());
        ASSERT_TRUE(waitUntil([&] { return f.page->DocumentArrived(); }));
        f.page->resize(900, 560);
        f.page->show();
        QApplication::processEvents();
        EXPECT_TRUE(f.page->grab().save(folder + u"/"_s + QString::fromLatin1(c.file)));
        f.page->Leave();
    }
}

}  // namespace

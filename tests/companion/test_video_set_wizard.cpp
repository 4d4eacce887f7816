// The Video Set wizard end to end: three simulated players (independent,
// master, slave) through Tollivar's link hub, from the ticked players to
// every video and the video-type document on every player; captions that
// route replies only to the active page; Cancel stopping a running batch.
#include "common/text_coding.h"
#include "companion/batch_send.h"
#include "companion/control_protocol_record.h"
#include "companion/link_hub.h"
#include "companion/scan_for_devices.h"
#include "companion/set_param.h"
#include "companion/video_set_wizard.h"
#include "player/companion_commands.h"
#include "player/player_sim.h"
#include "player/video_store.h"
#include "platform/app_identity.h"
#include "tests/companion/hub_players.h"
#include "tests/support/test_support.h"
#include "transport/protocol.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace Qt::StringLiterals;
using testsupport::waitUntil;

// The scan page answers from loopback; set before the hub and the players,
// put back after them.
struct LoopbackScan {
    testsupport::ScopedEnv loopback{"VELUNA_SCAN_LOOPBACK", "1"};
};

// Player 2 is independent, 3 the master, 4 a slave; each has room for videos.
struct WizardFixture : LoopbackScan, comptest::HubWithPlayers {
    std::unique_ptr<CVideoSetWizard> wizard;

    explicit WizardFixture(unsigned language = platform::kLanguageChinese)
        : HubWithPlayers(language, [](sim::PlayerSim& p, int host) {
              sim::companionState(p)->cascadeMode = uint8_t(host - 2);  // independent, master, slave
              sim::companionState(p)->protocolDocument = ControlProtocolJson(ControlProtocolRecord());
              sim::videoStore(p).acts[0].freeMB = 6000;
              sim::videoStore(p).acts[1].freeMB = 6000;
          })
    {
        wizard = std::make_unique<CVideoSetWizard>(u"Tollivar-"_s, temp.path() + u"/"_s);
        wizard->ParamPage()->SetClock(20, 30);
        // The batch page's own watchdog: a reply later than a short one, on
        // a busy machine, would send a video twice.
        wizard->BatchPage()->SetClock(1000, 20);
    }
    ~WizardFixture() { wizard.reset(); }
};

TEST(CompanionVideoSetWizard, NothingTickedStaysOnTheFirstPage)
{
    WizardFixture f(platform::kLanguageEnglish);
    // What the opening scan said is not this test's concern.
    f.boxes.clear();
    f.wizard->OnNext();
    EXPECT_EQ(f.boxes.texts(), QStringList{u"Please tick the devices!"_s});
    EXPECT_EQ(f.wizard->ActivePage(), 0);
}

TEST(CompanionVideoSetWizard, ThreePlayersEndToEnd)
{
    WizardFixture f;
    QTemporaryDir videos;
    const QByteArray bytes = "mp4 bytes of the shared video";
    QDir().mkpath(videos.filePath(u"流行"_s));
    ASSERT_TRUE(testsupport::writeFile(videos.filePath(u"流行/开场.mp4"_s), bytes));

    f.wizard->EnterParamPage(f.ticked());
    EXPECT_EQ(f.wizard->ActivePage(), 1);
    EXPECT_EQ(f.wizard->ParamPage()->windowTitle(), u"设置参数"_s);
    EXPECT_EQ(f.wizard->BatchPage()->windowTitle(), QString());
    ASSERT_TRUE(waitUntil([&] { return f.wizard->ParamPage()->DocumentArrived(); }));
    auto& devices = f.wizard->ParamPage()->Devices();
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[1].mode, 1);
    EXPECT_EQ(devices[2].mode, 2);
    for (auto& d : devices) {
        d.acts[0].folder = videos.path();
        videoset::RebuildCategories(d.acts[0]);
    }
    f.wizard->OnNext();  // the empty type codes are confirmed with Yes
    ASSERT_EQ(f.wizard->ActivePage(), 2);
    EXPECT_EQ(f.wizard->ParamPage()->windowTitle(), QString());
    EXPECT_EQ(f.wizard->BatchPage()->windowTitle(), u"批量发送"_s);
    EXPECT_FALSE(f.wizard->ParamPage()->hasTimer(CSetParam::kPollTimer));

    f.wizard->BatchPage()->OnSend();
    ASSERT_TRUE(waitUntil([&] { return f.wizard->BatchPage()->IsStopped(); }, 30000));
    const QByteArray document = testsupport::readFile(f.temp.filePath(u"VideoTypeProtocol.Json"_s));
    ASSERT_FALSE(document.isEmpty());
    QByteArray category, name;
    ASSERT_TRUE(text::NameToDoubleByteText(u"流行"_s, category));
    ASSERT_TRUE(text::NameToDoubleByteText(u"开场.mp4"_s, name));
    for (const auto& p : f.players) {
        std::lock_guard<std::mutex> lk(p->stateMutex());
        const auto& uploads = sim::videoStore(*p).uploads;
        ASSERT_EQ(uploads.size(), 1u) << p->options().address.toStdString();
        EXPECT_EQ(uploads[0].category, category);
        EXPECT_EQ(uploads[0].name, name);
        EXPECT_EQ(uploads[0].data, bytes);
        EXPECT_EQ(sim::companionState(*p)->protocolDocument, document);
    }
}

TEST(CompanionVideoSetWizard, CancelStopsARunningBatch)
{
    WizardFixture f;
    f.players[0]->setFault(sim::Fault::Silent);
    f.wizard->EnterParamPage({f.ticked()[0]});
    f.wizard->ParamPage()->Leave();
    f.wizard->BatchPage()->SetDevices(f.wizard->ParamPage()->Devices());
    f.wizard->BatchPage()->OnSend();
    EXPECT_FALSE(f.wizard->BatchPage()->IsStopped());
    f.wizard->reject();
    EXPECT_TRUE(f.wizard->BatchPage()->IsStopped());
    EXPECT_FALSE(f.wizard->BatchPage()->hasTimer(CBatchSend::kWatchdogTimer));
    EXPECT_FALSE(f.wizard->ParamPage()->hasTimer(CSetParam::kQueryTimer));
    EXPECT_FALSE(f.wizard->SelectPage()->IsScanning());
}

TEST(CompanionVideoSetWizard, ScreenshotsOfTheFirstPageInBothLanguages)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "Qt paints on threads the thread checker cannot follow";
    const QString folder = testsupport::binDir() + u"/../screenshots"_s;
    QDir().mkpath(folder);
    const struct { unsigned language; const char* file; } cases[] = {
        {platform::kLanguageEnglish, "video_set_wizard_en.png"},
        {platform::kLanguageChinese, "video_set_wizard_zh.png"},
    };
    for (const auto& c : cases) {
        WizardFixture f(c.language);
        f.wizard->show();
        QApplication::processEvents();
        EXPECT_TRUE(f.wizard->grab().save(folder + u"/"_s + QString::fromLatin1(c.file)));
        f.wizard->OnFinish();
    }
}

}  // namespace

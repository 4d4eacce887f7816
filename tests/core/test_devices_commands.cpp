#include "core/command_registry.h"
#include "core/devices/device_commands.h"
#include "core/devices/power.h"
#include "core/devices/product_information.h"
#include "core/devices/protocol_file.h"
#include "core/devices/query_temperature.h"
#include "core/devices/select_program_file.h"
#include "core/devices/set_ip_conf.h"
#include "core/devices/upgrade_app.h"
#include "tests/core/device_harness.h"

#include <QTreeWidget>

namespace {

using devtest::DeviceHarness;

TEST(DeviceCommands, EnableRules)
{
    core::clearCommands();
    InstallDeviceCommands();
    struct Row {
        int id;
        bool offline;    // enabled without a connection
        bool connected;  // enabled when linked to the simulator (kind 4)
    };
    const Row rows[] = {
        {32777, false, true}, {32795, false, true}, {32785, false, true}, {32791, false, true},
        {32796, false, true}, {32788, false, false}, {32809, true, true}, {32794, false, true},
    };
    {
        DeviceHarness offline(platform::kLanguageEnglish, false);
        for (const Row& r : rows) {
            const core::CommandEntry* entry = core::findCommand(r.id);
            ASSERT_NE(entry, nullptr) << r.id;
            EXPECT_EQ(core::IsCommandEnabled(*offline.doc, r.id), r.offline) << r.id;
        }
    }
    DeviceHarness linked;
    for (const Row& r : rows) {
        EXPECT_EQ(core::IsCommandEnabled(*linked.doc, r.id), r.connected) << r.id;
    }
    EXPECT_EQ(linked.doc->product(), 4);
    update::State().updateAvailable = true;
    EXPECT_TRUE(core::findCommand(32809)->checked(*linked.doc));
    update::State().updateAvailable = false;
    EXPECT_FALSE(core::findCommand(32809)->checked(*linked.doc));
    core::clearCommands();
}

TEST(DeviceCommands, ProtocolFileNeedsAKind3Player)
{
    core::clearCommands();
    InstallDeviceCommands();
    // Version word 0x1522: product nibble 2, kind 3.
    sim::SimOptions o;
    o.address = QStringLiteral("127.0.0.4");
    o.version = 0x1522;
    DeviceHarness h(platform::kLanguageEnglish, false);
    h.player->stop();
    h.player = std::make_unique<sim::PlayerSim>(o);
    sim::installStandardCommands(*h.player);
    ASSERT_TRUE(h.player->start());
    h.doc->setTarget(o.address, h.player->tcpPort());
    h.doc->currentPlayer().ip = o.address;
    h.doc->OnReconnect();
    ASSERT_TRUE(testsupport::waitUntil([&] { return h.doc->IsConnected(); }));
    EXPECT_EQ(h.doc->product(), 3);
    EXPECT_TRUE(core::IsCommandEnabled(*h.doc, 32788));
    core::clearCommands();
}

// Every device window, in both languages, saved for a look.
TEST(DeviceCommands, Screenshots)
{
    DEVTEST_SKIP_UNDER_THREAD_CHECKER();
    for (unsigned language : {platform::kLanguageEnglish, platform::kLanguageChinese}) {
        DeviceHarness h(language, false);
        const QString suffix = language == platform::kLanguageChinese ? QStringLiteral("_zh") : QStringLiteral("_en");
        const QString prefix = QStringLiteral("veluna-");
        auto save = [&](QDialog& dialog, const char* name) {
            dialog.show();
            testsupport::waitUntil([] { return false; }, 50);
            EXPECT_TRUE(dialog.grab().save(devtest::screenshotPath(QString::fromLatin1(name) + suffix)));
            dialog.hide();
        };
        {
            CSetIpConf d(prefix);
            save(d, "network");
        }
        {
            CPower d(prefix);
            d.OnInitDialog();
            save(d, "power");
        }
        {
            CQueryProductInformation d(prefix);
            save(d, "product_information");
        }
        {
            CQueryUsartCommand d(prefix);
            save(d, "usart");
        }
        {
            CProtocolFile d(prefix);
            save(d, "protocol_file");
        }
        for (uint8_t kind : {firmware::kCpu, firmware::kFpga, firmware::kServer}) {
            CSelectProgramFile d(kind, QStringLiteral("127.0.0.3"), prefix);
            save(d, kind == firmware::kCpu ? "firmware_cpu" : kind == firmware::kFpga ? "firmware_fpga" : "firmware_server");
        }
        {
            update::VersionInfo info;
            info.infoUrl = QStringLiteral("http://example.invalid/notes");
            info.history = {{QStringLiteral("veluna-"), 1, QStringLiteral("V9.1.5"), {}},
                            {QStringLiteral("veluna-"), 1, QStringLiteral("V9.1.4"), {}},
                            {QStringLiteral("播放器-"), 2, QStringLiteral("A1"), {}}};
            CUpgradeApp d(prefix, h.home.path(), info, true);
            save(d, "upgrade");
            CUpgradeApp none(prefix, h.home.path(), {}, false);
            save(none, "upgrade_no_server");
        }
    }
}

}  // namespace

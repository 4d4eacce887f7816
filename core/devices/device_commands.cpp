#include "core/devices/device_commands.h"

#include "core/command_registry.h"
#include "core/devices/power.h"
#include "core/devices/protocol_file.h"
#include "core/devices/product_information.h"
#include "core/devices/query_temperature.h"
#include "core/devices/select_program_file.h"
#include "core/devices/update_check.h"
#include "core/devices/upgrade_app.h"
#include "core/devices/video_pic_window.h"
#include "core/config_exchange.h"
#include "core/devices/set_ip_conf.h"
#include "core/document.h"

#include "platform/app_identity.h"
#include "platform/dialogs.h"
#include "platform/home.h"

#include <QApplication>
#include <QFileInfo>
#include <QTimer>

namespace {

QWidget* dialogParent()
{
    return QApplication::activeWindow();
}

// Builds, opens and runs one device dialog modally.
template <class Dialog, class... Args>
void runModal(Args&&... args)
{
    Dialog dialog(std::forward<Args>(args)...);
    dialog.OnInitDialog();
    dialog.exec();
}

}  // namespace

void InstallDeviceCommands()
{
    core::registerCommand(32777, {nullptr, [](CvelunaDoc& doc) {
                                      runModal<CSetIpConf>(doc.titlePrefix(), dialogParent());
                                  }});
    core::registerCommand(32795, {nullptr, [](CvelunaDoc& doc) {
                                      runModal<CPower>(doc.titlePrefix(), dialogParent());
                                  }});
    core::registerCommand(32785, {nullptr, [](CvelunaDoc& doc) {
                                      runModal<CQueryTemperature>(doc.titlePrefix(), doc.playerFolder(),
                                                                  dialogParent());
                                  }});
    core::registerCommand(32791, {nullptr, [](CvelunaDoc& doc) {
                                      runModal<CQueryProductInformation>(doc.titlePrefix(), dialogParent());
                                  }});
    core::registerCommand(32796, {nullptr, [](CvelunaDoc& doc) {
                                      runModal<CQueryUsartCommand>(doc.titlePrefix(), dialogParent());
                                  }});
    core::registerCommand(32788, {nullptr, [](CvelunaDoc& doc) {
                                      runModal<CProtocolFile>(doc.titlePrefix(), dialogParent());
                                  }});
    core::registerCommand(32794, {nullptr, [](CvelunaDoc& doc) {
                                      if (cfgx::SupportsConfigExchange(doc.currentPlayer().version))
                                          doc.configExchange().StartFetch(5);  // opens when the file has come
                                      else
                                          OpenVideoPicWindowDialog(doc);
                                  }});
    core::CommandEntry upgrade;
    upgrade.run = [](CvelunaDoc& doc) {
        const bool configured = !update::ConfiguredServer().isEmpty();
        if (configured)
            update::CheckForUpdate(doc.tempFolder(), platform::appTitle(), doc.language(), true, true);
        runModal<CUpgradeApp>(doc.titlePrefix(), doc.tempFolder(), update::State().info, configured, dialogParent());
    };
    upgrade.checked = [](const CvelunaDoc&) { return update::State().updateAvailable; };
    core::registerCommand(32809, upgrade);

    // Once the program runs (its title is set by then), in the background.
    QTimer::singleShot(0, [] {
        if (!update::ConfiguredServer().isEmpty())
            update::CheckForUpdate(platform::homePath(QStringLiteral("Temp")), platform::appTitle(),
                                   platform::appLanguage(), false, false);
    });
}

void OpenUpgradeDialog(CvelunaDoc& doc, uint8_t kind)
{
    if (kind == firmware::kServer &&
        (firmware::AdbPath().isEmpty() || !QFileInfo(firmware::ScriptPath()).isFile())) {
        platform::messageBox(platform::pickText(doc.language(), "ADB tool does not exist, please install it first！",
                                                "ADB工具不存在，请先安装！"),
                             QString(), platform::MsgButtons::Ok, platform::MsgIcon::Information, dialogParent());
        return;
    }
    if (!doc.IsConnected())
        return;
    runModal<CSelectProgramFile>(kind, doc.currentPlayer().ip, doc.titlePrefix(), dialogParent());
}

void OpenVideoPicWindowDialog(CvelunaDoc& doc)
{
    if (!doc.IsConnected())
        return;
    CVideoPicWindow dialog(doc.titlePrefix(), doc.playerFolder(), doc.outputBlock(), dialogParent());
    dialog.linkUp = [&doc] { return doc.IsConnected(); };
    dialog.OnInitDialog();
    dialog.exec();
}

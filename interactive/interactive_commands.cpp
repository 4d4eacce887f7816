#include "interactive/interactive_commands.h"

#include "core/command_registry.h"
#include "core/document.h"
#include "interactive/game_dialog.h"
#include "interactive/lidar_wizard.h"
#include "platform/app_identity.h"
#include "platform/window.h"

#include <QDir>

namespace interactive {

namespace {
QWidget* mainWindowWidget()
{
    platform::MessageWindow* w = platform::findWindow(platform::appTitle());
    return w ? w->widget() : nullptr;
}
}  // namespace

void OpenGameSetup(CvelunaDoc& doc)
{
    const auto& block = doc.outputBlock();
    CGame dialog(doc.tempFolder(), doc.titlePrefix(), game::OutputLayout::FromStatusBlock(block.data(), block.size()),
                 mainWindowWidget());
    dialog.exec();
}

void OpenLidarWizard(CvelunaDoc& doc)
{
    QDir().mkpath(doc.tempFolder());
    // After a command-line connection no adapter was chosen: the wildcard.
    const QString local = doc.localAddress().isEmpty() ? QStringLiteral("0.0.0.0") : doc.localAddress();
    CLidarWizard wizard(mainWindowWidget());
    wizard.SetInputs(doc.tempFolder(), doc.currentPlayer().ip, local);
    wizard.exec();
}

void InstallInteractiveCommands()
{
    core::registerCommand(kCmdInteractiveSetup, {nullptr, OpenGameSetup});
    core::registerCommand(kCmdLidar, {nullptr, OpenLidarWizard});
}

}  // namespace interactive

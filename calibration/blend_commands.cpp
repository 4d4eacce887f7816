#include "calibration/blend_commands.h"

#include "calibration/cascading_conf.h"
#include "calibration/set_out_resolution.h"
#include "core/command_registry.h"
#include "core/document.h"
#include "platform/app_identity.h"
#include "platform/window.h"

namespace calib {

namespace {

QWidget* mainWindowWidget()
{
    platform::MessageWindow* w = platform::findWindow(platform::appTitle());
    return w ? w->widget() : nullptr;
}

}  // namespace

void OpenOutputResolution(CvelunaDoc& doc)
{
    CSetOutResoltion dialog(doc.titlePrefix(), doc.product(), mainWindowWidget());
    dialog.exec();
}

void OpenCascading(CvelunaDoc& doc)
{
    CCascadingConf dialog(doc.titlePrefix(), mainWindowWidget());
    dialog.exec();
}

void InstallBlendCommands()
{
    core::registerCommand(kCmdOutputResolution, {nullptr, OpenOutputResolution});
    core::registerCommand(kCmdCascading, {nullptr, OpenCascading});
    InstallBlendTabPages();
}

}  // namespace calib

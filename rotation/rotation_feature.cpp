#include "rotation/rotation_feature.h"

#include "core/config_exchange.h"
#include "core/document.h"
#include "core/editor_hooks.h"
#include "platform/home.h"
#include "rotation/rotate_dialog.h"

#include <QApplication>

void InstallRotationFeature()
{
    core::registerSetupEditor(core::kProductRotation, [](CvelunaDoc& doc) { rotation::OpenRotateEditor(doc); });
}

namespace rotation {

void OpenRotateEditor(CvelunaDoc& doc)
{
    platform::ensureFolder(doc.tempFolder());
    RotateEditorSetup setup;
    setup.devices = doc.devices();
    setup.ip = doc.currentPlayer().ip;
    setup.mac = doc.currentPlayer().mac;
    setup.port = doc.target().port;
    setup.reserved = doc.target().slot;
    setup.channelCode = doc.currentPlayer().channelCode;
    setup.configFolder = doc.playerFolder();
    setup.tempFolder = doc.tempFolder();
    setup.prefix = doc.titlePrefix();
    {
        CRotate editor(std::move(setup), QApplication::activeWindow());
        editor.exec();
        // The player would be sent the file as it was before the editor.
        if (!editor.SaveRotateConfig())
            return;
    }
    doc.configExchange().PushConfigFile(cfgx::kRotateFile);
}

}  // namespace rotation

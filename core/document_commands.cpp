// The document's own commands of the command table (System Setup, the mask
// parameters of the selected window), the state the enable rules read, the
// setup editor's opening and the expiry of a layout upload nobody answered.
#include "core/command_registry.h"
#include "core/command_table.h"
#include "core/config_exchange.h"
#include "core/document.h"
#include "core/editor_hooks.h"

#include "platform/dialogs.h"

core::CommandState CvelunaDoc::commandState() const
{
    core::CommandState s;
    s.connected = IsConnected();
    s.windowSelected = imageManage().HasSelectionOnScreen(activeScreen_);
    s.uploadPending = layoutBusy();
    s.clipboardHoldsWindow = clipboardHoldsWindow_;
    s.layoutLocked = viewSettings_.locked;
    s.playerVersion = currentPlayer_.version;
    s.playerKind = product_;
    s.rowHasAddressAndPort = !currentPlayer_.ip.isEmpty() && !currentPlayer_.portText.isEmpty();
    return s;
}

void CvelunaDoc::OnSystemSetup()
{
    if (!cfgx::SupportsConfigExchange(currentPlayer_.version)) {
        OpenSetupEditor();
        return;
    }
    // Blending files for the projection players, the rotation file for a
    // rotation player; the editor opens once they are here.
    configExchange_->SetActive(true);
    configExchange_->StartFetch(product_ == core::kProductRotation ? cfgx::kRotateFile : cfgx::kWarpFile);
}

void CvelunaDoc::OpenSetupEditor()
{
    core::openSetupEditor(*this);
    configExchange_->SetActive(true);
}

void CvelunaDoc::CloseWaitBox()
{
    configExchange_->CloseWaitBox();
}

void CvelunaDoc::TickUploadPending()
{
    if (!layoutBusy_) {
        uploadSilentTicks_ = 0;
        return;
    }
    if (++uploadSilentTicks_ < kUploadPendingTicks)
        return;
    uploadSilentTicks_ = 0;
    layoutBusy_ = 0;
    if (setStatusPaneText)
        setStatusPaneText(59143, QStringLiteral(" "));
    showMessage(QStringLiteral("The player did not confirm the layout upload. Editing is possible again; "
                               "please check the layout on the player."),
                QStringLiteral("播放器未确认布局上传。现在可以继续编辑，请检查播放器上的布局。"),
                int(platform::MsgIcon::Warning));
}

namespace core {

bool IsCommandEnabled(const CvelunaDoc& doc, int id)
{
    const CommandEntry* entry = findCommand(id);
    if (const CommandRow* row = FindCommandRow(id))
        return entry && entry->run && RuleAllows(row->rule, doc.commandState());
    return entry && (!entry->enabled || entry->enabled(doc));
}

void InstallDocumentCommands()
{
    registerCommand(kCmdSystemSetup, {nullptr, [](CvelunaDoc& doc) { doc.OnSystemSetup(); }});
    registerCommand(kCmdMaskParameter, {nullptr, [](CvelunaDoc& doc) { doc.OnImageParam(doc.activeScreen()); }});
}

}  // namespace core

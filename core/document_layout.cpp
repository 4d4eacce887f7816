// The document's side of the layout being edited: the model it owns, the
// pick of the picture panel, the canvas's context commands and the entry
// point through which every edit reaches the player.
#include "core/document.h"

#include "core/command_registry.h"
#include "core/layout/layout_commands.h"
#include "core/layout/layout_transfer.h"
#include "core/views/image_param_dialog.h"
#include "platform/dialogs.h"
#include "transport/records.h"

#include <QApplication>

void CvelunaDoc::InitLayoutModel()
{
    imageManage_.create(materialFolder_);
    // The screens of the output block the document starts with, until the
    // player's status tells its own.
    auto setScreens = [this](const std::array<uint8_t, kOutputBlockSize>& block) {
        for (int s = 0; s < layout::kScreenCount; ++s) {
            const uint8_t* r = block.data() + 4 + 8 * s;
            const int x = proto::getU16(r), y = proto::getU16(r + 2);
            imageManage().SetScreenArea(s, {x, y, x + proto::getU16(r + 4), y + proto::getU16(r + 6)});
        }
    };
    setScreens(outputBlock_);
    onScreensChanged = [this, setScreens](const std::array<uint8_t, kOutputBlockSize>& block) {
        setScreens(block);
        if (layoutViewsChanged)
            layoutViewsChanged();
    };
}

void CvelunaDoc::InstallLayoutTransfer()
{
    layoutTransfer_ = std::make_unique<layout::LayoutTransfer>(*this);
    layout::LayoutTransfer& t = *layoutTransfer_;
    onLayoutReply = [&t](const PlayerReply& r) { t.OnLayoutReply(r); };
    onMaterialReply = [&t](const PlayerReply& r) { t.OnMaterialReply(r); };
    onWatermarkReply = [&t](const PlayerReply& r) { t.OnWatermarkReply(r); };
    pushLayout = [&t] { t.PushCurrentLayout(); };
    onCurrentLinkLost = [&t](bool tell) { return t.OnLinkLost(tell); };
    sendWatermark = [&t] { t.SendWatermark(); };
    saveLayout = [this] { layout::SaveLayoutFile(*this, false); };
}

void CvelunaDoc::PushCurrentLayout()
{
    if (pushLayout)
        pushLayout();
}

bool CvelunaDoc::AddPictureWindow(int slot)
{
    if (layoutBusy())
        return false;
    CImageManage& model = imageManage();
    if (model.windowCount() >= layout::kMaxWindows) {
        showMessage(QStringLiteral("There are enough pic to add!"), QStringLiteral("添加的图片够多了吧！"),
                    int(platform::MsgIcon::Warning));
        return false;
    }
    if (!model.BeginPlacing(slot, activeScreen_))
        return false;
    if (layoutViewsChanged)
        layoutViewsChanged();
    layoutDirty_ = 1;
    return true;
}

uint8_t CvelunaDoc::playerChannels() const
{
    const unsigned code = currentPlayer_.channelCode;
    if (code >= 1 && code <= 9)
        return uint8_t(code);
    if (code >= 11 && code <= 91 && code % 10 == 1)
        return uint8_t(code / 10);
    return 0;
}

void CvelunaDoc::OnLayoutContextCommand(int id, uint16_t screen)
{
    if (const core::CommandEntry* entry = core::findCommand(id)) {
        if (core::IsCommandEnabled(*this, id))
            entry->run(*this);
        return;
    }
    if (id == 32771)
        RemoveSelectedWindow();
    else if (id == 32789)
        OnImageParam(screen);
}

void CvelunaDoc::RemoveSelectedWindow()
{
    CImageManage& model = imageManage();
    uint16_t channel = 0;
    int position = 0;
    if (!model.FindSelected(channel, position))
        return;
    model.RemovePictureWindow(channel, position);
    layoutDirty_ = 1;
    if (layoutViewsChanged)
        layoutViewsChanged();
    PushCurrentLayout();
}

void CvelunaDoc::OnImageParam(uint16_t screen)
{
    CImageManage& model = imageManage();
    uint16_t channel = 0;
    int position = 0;
    if (!model.FindSelected(channel, position) || !model.HasSelectionOnScreen(screen))
        return;
    CImageParam dialog(language_, QApplication::activeWindow());
    dialog.playerChannels = playerChannels();
    model.GetScreenRect(screen, dialog.bounds);
    model.GetSelectedRect(screen, dialog.window);
    dialog.maxWidth = model.screen(screen).area.width();
    dialog.maxHeight = model.screen(screen).area.height();
    dialog.wag = model.window(position).wag;
    if (dialog.exec() != QDialog::Accepted)
        return;
    model.SetSelectedRect(screen, dialog.window);
    PictureWindow& w = model.window(position);
    if (w.viewIndex == screen && screen <= 1)
        w.wag = dialog.wag;
    layoutDirty_ = 1;
    if (layoutViewsChanged)
        layoutViewsChanged();
    PushCurrentLayout();
}

void CvelunaDoc::SendWatermark()
{
    if (sendWatermark)
        sendWatermark();
}

void CvelunaDoc::OpenUpgradeDialog(int mode)
{
    if (openUpgradeDialog)
        openUpgradeDialog(mode);
}
